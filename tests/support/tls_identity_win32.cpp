// Test certificates made by the host's openssl tool (under Wine), and trust through the
// Windows certificate stores.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <chrono>

#include "tests/support/linux_process.h"
#include "tests/support/tls_identity.h"

namespace quorvel::test {
namespace {

// Quotes text for the shell.
std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string Der(const std::string& pem) {
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            nullptr, &size, nullptr, nullptr)) {
    return "";
  }
  std::string der(size, '\0');
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr)) {
    return "";
  }
  der.resize(size);
  return der;
}

HCERTSTORE OpenRoot(DWORD location) {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, location, "Root");
}

}  // namespace

TlsIdentity MakeTlsIdentity(const std::string& commonName) {
  TempDir dir;
  const std::string unixDir = UnixPath(dir.path());
  if (unixDir.empty()) return {};
  // RSA keys: every TLS stack takes them. The server's names are also given as DNS names,
  // since not every certificate check reads IP address entries.
  const std::string d = Quote(unixDir);
  const std::string script =
      "set -e; cd " + d +
      "; printf 'basicConstraints=critical,CA:FALSE\\nkeyUsage=critical,digitalSignature,"
      "keyEncipherment\\nextendedKeyUsage=serverAuth\\nsubjectAltName=IP:127.0.0.1,IP:::1,"
      "DNS:localhost,DNS:127.0.0.1\\n' > server.ext"
      "; openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 -subj " +
      Quote("/CN=" + commonName) +
      " -addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign,"
      "cRLSign'"
      "; openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "
      "/CN=127.0.0.1"
      "; openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 "
      "-out server.pem -extfile server.ext";
  std::string output;
  if (LinuxProcess::Run(script, std::chrono::seconds(60), &output) != 0) return {};
  TlsIdentity id;
  id.caCertPem = dir.ReadFile("ca.pem");
  id.serverCertPem = dir.ReadFile("server.pem");
  id.serverKeyPem = dir.ReadFile("server.key");
  if (id.caCertPem.empty() || id.serverCertPem.empty() || id.serverKeyPem.empty()) return {};
  return id;
}

TrustedAuthority::TrustedAuthority(const std::string& caCertPem) : der_(Der(caCertPem)) {
  if (der_.empty()) return;
  // The machine's store needs no confirmation; the user's asks for one on Windows.
  for (DWORD location :
       {DWORD(CERT_SYSTEM_STORE_LOCAL_MACHINE), DWORD(CERT_SYSTEM_STORE_CURRENT_USER)}) {
    HCERTSTORE store = OpenRoot(location);
    if (!store) continue;
    const bool added =
        CertAddEncodedCertificateToStore(
            store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()),
            static_cast<DWORD>(der_.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    CertCloseStore(store, 0);  // closing commits the change, so other readers see it
    if (added) {
      location_ = location;
      ok_ = true;
      return;
    }
  }
}

TrustedAuthority::~TrustedAuthority() {
  if (!ok_) return;
  HCERTSTORE store = OpenRoot(static_cast<DWORD>(location_));
  if (!store) return;
  PCCERT_CONTEXT mine =
      CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()),
                                   static_cast<DWORD>(der_.size()));
  if (mine) {
    PCCERT_CONTEXT found =
        CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, mine, nullptr);
    if (found) CertDeleteCertificateFromStore(found);  // frees found
    CertFreeCertificateContext(mine);
  }
  CertCloseStore(store, 0);
}

}  // namespace quorvel::test
