// Certificates made at run time for TLS tests: a test authority and a server certificate it
// signed for 127.0.0.1, ::1 and localhost. Nothing is read from or trusted by the system.
#pragma once

#include <string>

typedef struct ssl_ctx_st SSL_CTX;

namespace quorvel::test {

struct TlsIdentity {
  std::string caCertPem;      // the authority's certificate
  std::string serverCertPem;  // the server's certificate, signed by the authority
  std::string serverKeyPem;   // the server's private key
};

// Makes a new authority and server certificate (P-256 keys, SHA-256, valid for one day).
// commonName names the authority. Empty strings when OpenSSL failed.
TlsIdentity MakeTlsIdentity(const std::string& commonName = "Quorvel Test Authority");

// A server context serving identity's certificate; null on failure. The caller frees it with
// SSL_CTX_free.
SSL_CTX* MakeServerContext(const TlsIdentity& identity);

}  // namespace quorvel::test
