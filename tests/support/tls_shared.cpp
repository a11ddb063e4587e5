#include "tests/support/tls_identity.h"

namespace quorvel::test {

const TlsIdentity& SharedTlsIdentity() {
  static const TlsIdentity identity = MakeTlsIdentity();
  return identity;
}

}  // namespace quorvel::test
