#include <cstdlib>

#include "tests/support/scoped_env.h"

namespace quorvel::test::detail {

void SetEnv(const char* name, const char* value) { _putenv_s(name, value); }
void UnsetEnv(const char* name) { _putenv_s(name, ""); }

}  // namespace quorvel::test::detail
