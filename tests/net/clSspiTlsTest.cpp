// The TLS context on its own, against an OpenSSL server session in the same process (two
// memory BIOs each way): how Decrypt treats records that arrive in pieces.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <string>

#include "TlsTestPeers.h"
#include "net/clCryptAPI.h"
#include "net/clSspiTls.h"

using tlstest::TestCertificates;

namespace {

std::string Drain(BIO* bio) {
  std::string bytes(static_cast<std::size_t>(BIO_ctrl_pending(bio)), '\0');
  if (!bytes.empty())
    BIO_read(bio, bytes.data(), static_cast<int>(bytes.size()));
  return bytes;
}

// A client context and a server session with a finished handshake between them.
class Session {
 public:
  explicit Session(long version) {
    const TestCertificates& certs = TestCertificates::Get();
    ctx_.reset(SSL_CTX_new(TLS_server_method()));
    SSL_CTX_set_min_proto_version(ctx_.get(), version);
    SSL_CTX_set_max_proto_version(ctx_.get(), version);
    SSL_CTX_use_certificate_chain_file(ctx_.get(), certs.Path("good").c_str());
    SSL_CTX_use_PrivateKey_file(ctx_.get(), certs.Key("good").c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_set_num_tickets(ctx_.get(), 0);
    server_.reset(SSL_new(ctx_.get()));
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(in_, -1);
    SSL_set_bio(server_.get(), in_, out_);
    SSL_set_accept_state(server_.get());
    client.SetTargetName("localhost");
  }

  // Handshake runs both sides until the client is done; false when it never finishes.
  bool Handshake() {
    TclCertificateList certificates(false);
    TMemoryStream buffer;
    TclSspiReturnCode result = client.GenContext(&buffer, &certificates, false);
    for (int round = 0; round < 10; ++round) {
      if (result == rcOK)
        return true;
      BIO_write(in_, buffer.Data().data(), static_cast<int>(buffer.Size()));
      SSL_do_handshake(server_.get());
      buffer.Clear();
      buffer.Write(std::string_view(Drain(out_)));
      buffer.SetPosition(0);
      // rcAuthContinueNeeded: the client's next flight goes to the server next round.
      result = client.GenContext(&buffer, &certificates, false);
    }
    return false;
  }

  // Records: what the server sends for each of `texts`, one record each, back to back.
  std::string Records(std::initializer_list<std::string_view> texts) {
    for (const std::string_view text : texts)
      SSL_write(server_.get(), text.data(), static_cast<int>(text.size()));
    return Drain(out_);
  }

  TclTlsClientSspi client;

 private:
  kz::SslCtxPtr ctx_;
  kz::SslPtr server_;
  BIO* in_ = nullptr;   // owned by server_
  BIO* out_ = nullptr;  // owned by server_
};

// Every place a stream of two records can be cut in two: the first piece hands out the
// complete records it holds and nothing of the incomplete one, says whether a record is
// incomplete (also when only its header has come), the extra buffer stays empty, and the
// second piece completes the rest.
class SspiDecryptTest : public ::testing::TestWithParam<long> {
 protected:
  void SetUp() override { ASSERT_TRUE(TestCertificates::Get().Ready()); }
};

TEST_P(SspiDecryptTest, NeverHandsBackAnIncompleteRecord) {
  const std::string first = "first record", second = "the second record";
  for (std::size_t cut = 1;; ++cut) {
    Session session(GetParam());
    ASSERT_TRUE(session.Handshake());
    const std::string wire = session.Records({first, second});
    if (cut >= wire.size())
      break;
    SCOPED_TRACE("cut after byte " + std::to_string(cut) + " of " + std::to_string(wire.size()));
    const std::size_t firstRecord =
        5 + static_cast<unsigned char>(wire[3]) * 256u + static_cast<unsigned char>(wire[4]);
    TMemoryStream source(wire.substr(0, cut)), plain, extra("left over");
    const TclSspiReturnCode partial = session.client.Decrypt(&source, &plain, &extra);
    EXPECT_EQ(extra.Size(), 0);
    if (cut == firstRecord) {
      EXPECT_EQ(plain.Data(), first);
      EXPECT_EQ(partial, rcOK);
    } else if (cut > firstRecord) {
      EXPECT_EQ(plain.Data(), first);
      EXPECT_EQ(partial, rcContinueAndMoreDataNeeded);
    } else {
      EXPECT_EQ(plain.Size(), 0);
      EXPECT_EQ(partial, rcMoreDataNeeded);
    }
    TMemoryStream rest(wire.substr(cut));
    EXPECT_EQ(session.client.Decrypt(&rest, &plain, &extra), rcOK);
    EXPECT_EQ(extra.Size(), 0);
    EXPECT_EQ(plain.Data(), first + second);
  }
}

INSTANTIATE_TEST_SUITE_P(Net, SspiDecryptTest, ::testing::Values(TLS1_2_VERSION, TLS1_3_VERSION),
                         [](const auto& info) {
                           return std::string(info.param == TLS1_2_VERSION ? "Tls12" : "Tls13");
                         });

}  // namespace
