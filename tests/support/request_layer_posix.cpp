#include "tests/support/request_layer.h"

namespace quorvel::test {

bool OverWinInet() { return false; }

}  // namespace quorvel::test
