#include <cstdlib>

#include "tests/support/scoped_env.h"

namespace quorvel::test::detail {

void SetEnv(const char* name, const char* value) { setenv(name, value, 1); }
void UnsetEnv(const char* name) { unsetenv(name); }

}  // namespace quorvel::test::detail
