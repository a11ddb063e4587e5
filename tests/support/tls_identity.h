// Certificates made at run time for TLS tests: a test authority and a server certificate it
// signed for 127.0.0.1, ::1 and localhost. Nothing is read from the system; TrustedAuthority
// makes the request layer trust an authority for a while. On Linux they are made with
// OpenSSL's library; on Windows (under Wine) with the host's openssl tool.
#pragma once

#include <optional>
#include <string>

#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
typedef struct ssl_ctx_st SSL_CTX;
#endif

namespace quorvel::test {

struct TlsIdentity {
  std::string caCertPem;      // the authority's certificate
  std::string serverCertPem;  // the server's certificate, signed by the authority
  std::string serverKeyPem;   // the server's private key
};

// Makes a new authority and server certificate (SHA-256, valid for one day). commonName
// names the authority. Empty strings when making them failed.
TlsIdentity MakeTlsIdentity(const std::string& commonName = "Quorvel Test Authority");

// One authority and server certificate for the whole test process, made on first use. Wine
// reads the trusted authorities once per process, so tests that trust an authority share
// this one; an authority made apart from it stands for one that is not trusted.
const TlsIdentity& SharedTlsIdentity();

#ifndef _WIN32
// A server context serving identity's certificate; null on failure. The caller frees it with
// SSL_CTX_free.
SSL_CTX* MakeServerContext(const TlsIdentity& identity);
#endif

// Has the request layer trust the authority of caCertPem while the object lives. On Linux the
// layer then trusts only it (through SSL_CERT_FILE). On Windows it is added to the Root store
// of the machine (or, failing that, of the user) and removed again at the end; Wine reads the
// store when a process first checks a certificate, so trust an authority before the first
// TLS exchange of the process.
class TrustedAuthority {
 public:
  explicit TrustedAuthority(const std::string& caCertPem);
  ~TrustedAuthority();
  TrustedAuthority(const TrustedAuthority&) = delete;
  TrustedAuthority& operator=(const TrustedAuthority&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
#ifdef _WIN32
  std::string der_;
  unsigned long location_ = 0;
#else
  TempDir dir_;
  std::optional<ScopedEnv> env_;
#endif
};

}  // namespace quorvel::test
