// Certificates made by `openssl` for the tests: the fields read from them, the usage
// tests, the message operations (checked against `openssl cms` both ways), the crypt
// data buffer and the status texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <ostream>
#include <sstream>

#include "TlsTestPeers.h"
#include "core/DateTime.h"
#include "net/clCertificate.h"
#include "net/clSspi.h"
#include "support/CaseName.h"

using tlstest::TestCertificates;

namespace {

std::unique_ptr<TclCertificate> Load(const std::string& name) {
  return TclCertificate::FromPemFile(TestCertificates::Get().Path(name));
}

std::unique_ptr<TclCertificate> LoadWithKey(const std::string& name) {
  auto cert = Load(name);
  cert->SetPrivateKey(TestCertificates::Get().Key(name));
  return cert;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

struct FieldsCase {
  const char* cert;
  const char* issuedTo;
  const char* issuedBy;
  const char* email;
  const char* usage;
  const char* subject;
  const char* serial;  // nullptr: not fixed (a self-signed certificate's is random)
  bool server, client, codeSigning, secureEmail;
};

void PrintTo(const FieldsCase& row, std::ostream* os) {
  *os << row.cert;
}

const FieldsCase kFieldsCases[] = {
    {"good", "localhost", "Kadenza Test ca", "", "1.3.6.1.5.5.7.3.1", "CN=localhost", "1000", true,
     false, false, false},
    {"client", "Kadenza Client", "Kadenza Test ca", "client@example.invalid",
     "1.3.6.1.5.5.7.3.2,1.3.6.1.5.5.7.3.4", "CN=Kadenza Client", "1005", false, true, false, true},
    {"selfsigned", "localhost", "localhost", "", "", "CN=localhost", nullptr, true, true, true,
     true},
    {"ca", "Kadenza Test ca", "Kadenza Test ca", "", "", "CN=Kadenza Test ca", nullptr, true, true,
     true, true},
};

class CertificateFieldsTest : public ::testing::TestWithParam<FieldsCase> {};

TEST_P(CertificateFieldsTest, ReadsEveryField) {
  const FieldsCase& row = GetParam();
  ASSERT_TRUE(TestCertificates::Get().Ready());
  const auto cert = Load(row.cert);
  EXPECT_EQ(cert->IssuedTo(), row.issuedTo);
  EXPECT_EQ(cert->IssuedBy(), row.issuedBy);
  EXPECT_EQ(cert->Email(), row.email);
  EXPECT_EQ(cert->Usage(), row.usage);
  EXPECT_EQ(cert->Subject(), row.subject);
  if (row.serial != nullptr) {
    EXPECT_EQ(cert->SerialNumber(), row.serial);
  }
  EXPECT_EQ(cert->IsServerAuthentication(), row.server);
  EXPECT_EQ(cert->IsClientAuthentication(), row.client);
  EXPECT_EQ(cert->IsCodeSigning(), row.codeSigning);
  EXPECT_EQ(cert->IsSecureEmail(), row.secureEmail);
  EXPECT_EQ(cert->Version(), cvVersion3);
  EXPECT_EQ(cert->SignatureAlgorithm(), "1.2.840.10045.4.3.2");
  EXPECT_EQ(cert->SignatureAlgorithmName(), "ecdsa-with-SHA256");
  EXPECT_EQ(cert->PublicKeyAlgorithm(), "1.2.840.10045.2.1");
  EXPECT_EQ(cert->PublicKeyAlgorithmName(), "id-ecPublicKey");
  EXPECT_LT(cert->ValidFrom(), kz::Now());
  EXPECT_GT(cert->ValidTo(), kz::Now());
  EXPECT_EQ(cert->PrivateKey(), "");
  // The same certificate from its DER bytes reads the same.
  unsigned char* der = nullptr;
  const int length = i2d_X509(cert->Context(), &der);
  const TclCertificate again(std::string_view(reinterpret_cast<char*>(der), length));
  OPENSSL_free(der);
  EXPECT_EQ(again.Subject(), cert->Subject());
  EXPECT_EQ(again.SerialNumber(), cert->SerialNumber());
}

INSTANTIATE_TEST_SUITE_P(Net, CertificateFieldsTest, ::testing::ValuesIn(kFieldsCases),
                         [](const auto& info) { return std::string(info.param.cert); });

TEST(CertificateTest, DatesOfAnExpiredCertificate) {
  const auto cert = Load("expired");
  EXPECT_NEAR(cert->ValidFrom(), kz::EncodeDateTime(2020, 1, 1), 1.0);
  EXPECT_NEAR(cert->ValidTo(), kz::EncodeDateTime(2020, 2, 1), 1.0);
}

TEST(CertificateTest, BytesThatAreNoCertificate) {
  EXPECT_THROW(TclCertificate(std::string_view("\x30\x03\x02\x01\x01", 5)), EclCryptError);
  EXPECT_THROW(TclCertificate(std::string_view()), EclCryptError);
}

TEST(CertificateTest, LocalUsageFriendlyNameAndKey) {
  auto cert = Load("good");
  cert->SetUsage("1.3.6.1.5.5.7.3.2; 1.3.6.1.5.5.7.3.4");
  EXPECT_EQ(cert->Usage(), "1.3.6.1.5.5.7.3.2,1.3.6.1.5.5.7.3.4");
  EXPECT_TRUE(cert->IsClientAuthentication());
  EXPECT_FALSE(cert->IsServerAuthentication());
  cert->SetFriendlyName("Mail server");
  EXPECT_EQ(cert->FriendlyName(), "Mail server");
  EXPECT_THROW(cert->SetPrivateKey(TestCertificates::Get().Key("client")), EclCryptError);
  cert->SetPrivateKey(TestCertificates::Get().Key("good"), ktSignature);
  EXPECT_EQ(cert->PrivateKey(), TestCertificates::Get().Key("good"));
}

TEST(CertificateTest, ListOwnership) {
  TclCertificateList owning(true);
  const auto cert = Load("good");
  TclCertificate* copy = owning.AddFrom(*cert);
  EXPECT_EQ(copy->Context(), cert->Context());
  owning.Add(Load("client"));
  EXPECT_EQ(owning.Count(), 2);
  owning.Delete(0);
  EXPECT_EQ(owning.Items(0)->IssuedTo(), "Kadenza Client");
  TclCertificateList referring(false);
  referring.Add(cert.get());
  referring.Remove(cert.get());
  EXPECT_EQ(referring.Count(), 0);
  EXPECT_THROW(referring.AddFrom(*cert), std::logic_error);
  EXPECT_THROW(owning.Items(5), std::out_of_range);
}

// ---- message operations ----

TEST(CertificateMessageTest, SignAndVerifyBothForms) {
  const auto signer = LoadWithKey("client");
  const std::string data = "Kadenza\r\n\x00\xff binary";
  const std::string attached = signer->Sign(data, false);
  EXPECT_EQ(TclCertificate::VerifyEnveloped(attached), data);
  const std::string detached = signer->Sign(data, true);
  EXPECT_NO_THROW(TclCertificate::VerifyDetached(data, detached));
  EXPECT_THROW(TclCertificate::VerifyDetached(data + "!", detached), EclCryptError);
  EXPECT_THROW(Load("client")->Sign(data, false), EclCryptError);  // no private key
}

TEST(CertificateMessageTest, EncryptAndDecrypt) {
  const auto recipient = LoadWithKey("client");
  const std::string data(5000, 'm');
  const std::string enveloped = Load("client")->Encrypt(data);
  EXPECT_EQ(recipient->Decrypt(enveloped), data);
  EXPECT_THROW(LoadWithKey("good")->Decrypt(enveloped), EclCryptError);
  EXPECT_THROW(recipient->Decrypt("not a message"), EclCryptError);
}

// `openssl cms` reads what we write and writes what we read.
TEST(CertificateMessageTest, OpenSslCmsInterop) {
  const TestCertificates& certs = TestCertificates::Get();
  const std::string dir = certs.Dir();
  const auto client = LoadWithKey("client");
  WriteFile(dir + "/env.der", Load("client")->Encrypt("for openssl"));
  const std::string decrypt = "openssl cms -decrypt -inform DER -in " + dir + "/env.der -recip " +
                              certs.Path("client") + " -inkey " + certs.Key("client") + " -out " +
                              dir + "/env.out";
  ASSERT_EQ(std::system(decrypt.c_str()), 0);
  EXPECT_EQ(ReadFile(dir + "/env.out"), "for openssl");

  WriteFile(dir + "/data.txt", "from openssl");
  const std::string sign = "openssl cms -sign -binary -nodetach -outform DER -in " + dir +
                           "/data.txt -signer " + certs.Path("good") + " -inkey " +
                           certs.Key("good") + " -out " + dir + "/signed.der";
  ASSERT_EQ(std::system(sign.c_str()), 0);
  EXPECT_EQ(TclCertificate::VerifyEnveloped(ReadFile(dir + "/signed.der")), "from openssl");
}

// ---- crypt data and status texts ----

TEST(CryptDataTest, ConversionsAndReduce) {
  TclCryptData data;
  data.FromStrings({"one", "two", ""});
  EXPECT_EQ(data.ToString(), "one\r\ntwo\r\n");
  data.FromWideString("Příliš");
  EXPECT_EQ(data.DataSize(), 12);
  EXPECT_EQ(data.ToWideString(), "Příliš");
  data.Reduce(4);
  EXPECT_EQ(data.ToWideString(), "Př");
  data.Reduce(10);
  EXPECT_EQ(data.DataSize(), 4);
}

struct StatusTextCase {
  int code;
  const char* text;
};

void PrintTo(const StatusTextCase& row, std::ostream* os) {
  *os << row.code;
}

class SspiStatusTextTest : public ::testing::TestWithParam<StatusTextCase> {};

TEST_P(SspiStatusTextTest, Text) {
  EXPECT_EQ(kz::SspiErrorText(GetParam().code), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Net, SspiStatusTextTest,
    ::testing::Values(
        StatusTextCase{kz::kCertECnNoMatch,
                       "The certificate's CN name does not match the passed value"},
        StatusTextCase{kz::kCertEWrongUsage,
                       "The certificate is not valid for the requested usage"},
        StatusTextCase{20, "Out of memory"}, StatusTextCase{-12, "Not supported."},
        StatusTextCase{-1, "Could not load the dll (schannel.dll, security.dll or secur32.dll)"},
        StatusTextCase{0, "The unknown error was occured: 0"},
        StatusTextCase{kz::kSecEIllegalMessage,
                       "The message received was unexpected or badly formatted"},
        StatusTextCase{kz::kSecEAlgorithmMismatch,
                       "The client and server cannot communicate, because they do not possess a "
                       "common algorithm"},
        StatusTextCase{-15,
                       "The server did not answer in TLS: this port does not take TLS from the "
                       "first byte"},
        StatusTextCase{-16, "The server and this client have no TLS protocol version in common"},
        StatusTextCase{-17, "The server ended the TLS session with an alert"},
        StatusTextCase{static_cast<int>(0x80090399u), "The unknown error was occured: 80090399"}),
    testsupport::PrintedName());

}  // namespace
