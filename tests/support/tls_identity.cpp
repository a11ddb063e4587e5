#include "tests/support/tls_identity.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace quorvel::test {
namespace {

struct Free {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(BIO* p) const { BIO_free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Free>;
using CertPtr = std::unique_ptr<X509, Free>;
using BioPtr = std::unique_ptr<BIO, Free>;

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!ext) return false;
  const bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

CertPtr MakeCert(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey,
                 bool authority) {
  CertPtr cert(X509_new());
  if (!cert) return nullptr;
  unsigned char serial[16];
  if (RAND_bytes(serial, sizeof(serial)) != 1) return nullptr;
  serial[0] &= 0x7f;
  BIGNUM* bn = BN_bin2bn(serial, sizeof(serial), nullptr);
  ASN1_INTEGER* s = bn ? BN_to_ASN1_INTEGER(bn, nullptr) : nullptr;
  BN_free(bn);
  if (!s) return nullptr;
  X509_set_serialNumber(cert.get(), s);
  ASN1_INTEGER_free(s);
  X509_set_version(cert.get(), 2);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  X509* signer = issuer ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  bool ok = AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  if (issuer)
    ok = ok && AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  if (authority) {
    ok = ok && AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE") &&
         AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    ok =
        ok && AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE") &&
        AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature") &&
        AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth") &&
        AddExtension(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1,IP:::1,DNS:localhost");
  }
  if (!ok) return nullptr;
  if (X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) == 0) return nullptr;
  return cert;
}

std::string CertPem(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1) return "";
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(n));
}

std::string KeyPem(EVP_PKEY* key) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio ||
      PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return "";
  }
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(n));
}

}  // namespace

TlsIdentity MakeTlsIdentity(const std::string& commonName) {
  KeyPtr caKey(EVP_EC_gen("P-256"));
  KeyPtr serverKey(EVP_EC_gen("P-256"));
  if (!caKey || !serverKey) return {};
  CertPtr ca = MakeCert(caKey.get(), commonName.c_str(), nullptr, nullptr, true);
  if (!ca) return {};
  CertPtr server = MakeCert(serverKey.get(), "127.0.0.1", ca.get(), caKey.get(), false);
  if (!server) return {};
  TlsIdentity id;
  id.caCertPem = CertPem(ca.get());
  id.serverCertPem = CertPem(server.get());
  id.serverKeyPem = KeyPem(serverKey.get());
  if (id.caCertPem.empty() || id.serverCertPem.empty() || id.serverKeyPem.empty()) return {};
  return id;
}

SSL_CTX* MakeServerContext(const TlsIdentity& identity) {
  BioPtr certBio(BIO_new_mem_buf(identity.serverCertPem.data(),
                                 static_cast<int>(identity.serverCertPem.size())));
  BioPtr keyBio(BIO_new_mem_buf(identity.serverKeyPem.data(),
                                static_cast<int>(identity.serverKeyPem.size())));
  if (!certBio || !keyBio) return nullptr;
  CertPtr cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
  KeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
  if (!cert || !key) return nullptr;
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx) return nullptr;
  if (SSL_CTX_use_certificate(ctx, cert.get()) != 1 ||
      SSL_CTX_use_PrivateKey(ctx, key.get()) != 1 || SSL_CTX_check_private_key(ctx) != 1) {
    SSL_CTX_free(ctx);
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  return ctx;
}

}  // namespace quorvel::test

namespace quorvel::test {

TrustedAuthority::TrustedAuthority(const std::string& caCertPem) {
  const std::string file = dir_.WriteFile("trusted-ca.pem", caCertPem);
  if (file.empty()) return;
  env_.emplace("SSL_CERT_FILE", file);
  ok_ = true;
}

TrustedAuthority::~TrustedAuthority() = default;

}  // namespace quorvel::test
