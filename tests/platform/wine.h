// Whether the tests run under Wine. Wine is a test host, not a target: a case where Wine's
// own implementation of a system service differs from Windows is skipped only when this
// says so, with the reason written beside the skip.
#pragma once

namespace quorvel::test {

// True when ntdll exports wine_get_version (Wine's own marker); false on Windows and Linux.
bool UnderWine();

}  // namespace quorvel::test
