#include "app/FailureKind.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>
#include <functional>
#include <ostream>
#include <string>

#include "core/Error.h"
#include "net/clCryptUtils.h"
#include "net/clSocketError.h"
#include "net/clSocks.h"
#include "net/clSspi.h"
#include "smtp/clSmtpError.h"

namespace {

using retry::FailureKind;
using retry::SendStage;

// One row: a failure raised the way the stack raises it, and its kind before and after the
// final dot of DATA.
struct KindCase {
  std::string name;
  std::function<void()> raise;
  FailureKind beforeDot;
  FailureKind afterDot;
};

void PrintTo(const KindCase& row, std::ostream* os) {
  *os << row.name;
}

constexpr auto kTemp = FailureKind::kTemporary;
constexpr auto kPerm = FailureKind::kPermanent;
constexpr auto kUnknown = FailureKind::kOutcomeUnknown;

void Reply(int code, const char* text) {
  throw EclTcpClientError(std::to_string(code) + " " + text, code);
}

class FailureKindTable : public ::testing::TestWithParam<KindCase> {};

TEST_P(FailureKindTable, KindOfTheRaisedFailure) {
  const KindCase& c = GetParam();
  try {
    c.raise();
    FAIL() << "nothing raised";
  } catch (const std::exception& e) {
    EXPECT_EQ(retry::ClassifyException(e, SendStage::kBeforeFinalDot), c.beforeDot) << e.what();
    EXPECT_EQ(retry::ClassifyException(e, SendStage::kAfterFinalDot), c.afterDot) << e.what();
  }
}

const KindCase kCases[] = {
    {"ConnectionRefused", [] { kz::RaiseSocketError(ECONNREFUSED); }, kTemp, kUnknown},
    {"ConnectTimedOut", [] { kz::RaiseSocketError(ETIMEDOUT); }, kTemp, kUnknown},
    {"ReadTimeOut", [] { kz::RaiseSocketError(kz::kTimeoutErrorText, kz::kTimeoutErrorCode); },
     kTemp, kUnknown},
    {"NetworkUnreachable", [] { kz::RaiseSocketError(ENETUNREACH); }, kTemp, kUnknown},
    {"HostUnreachable", [] { kz::RaiseSocketError(EHOSTUNREACH); }, kTemp, kUnknown},
    {"ConnectionReset", [] { kz::RaiseSocketError(ECONNRESET); }, kTemp, kUnknown},
    {"PeerClosedWhileWaiting", [] { kz::RaiseSocketError(ENOTCONN); }, kTemp, kUnknown},
    {"BrokenPipe", [] { kz::RaiseSocketError(EPIPE); }, kTemp, kUnknown},
    {"NotActive", [] { kz::RaiseSocketError(kz::kNotActiveText, kz::kNotActiveCode); }, kTemp,
     kUnknown},
    {"NameDoesNotResolve", [] { kz::RaiseSocketError(kz::GaiErrorCode(EAI_NONAME, 0)); }, kTemp,
     kUnknown},
    {"NameServerNotReachable", [] { kz::RaiseSocketError(kz::GaiErrorCode(EAI_AGAIN, 0)); }, kTemp,
     kUnknown},
    {"LookupSystemErrorIsItsErrno",
     [] { kz::RaiseSocketError(kz::GaiErrorCode(EAI_SYSTEM, ENETDOWN)); }, kTemp, kUnknown},
    {"LookupBadFlags", [] { kz::RaiseSocketError(kz::GaiErrorCode(EAI_BADFLAGS, 0)); }, kPerm,
     kUnknown},
    {"InvalidPortSetting", [] { kz::RaiseSocketError(kz::kInvalidPortText, kz::kInvalidPortCode); },
     kPerm, kUnknown},
    {"PermissionDenied", [] { kz::RaiseSocketError(EACCES); }, kPerm, kUnknown},
    {"TlsHandshakeCut", [] { throw EclSSPIError(kz::kTruncatedCode); }, kTemp, kUnknown},
    {"TlsHandshakeEndedUnexpectedly", [] { throw EclSSPIError(kz::kSecEIllegalMessage); }, kTemp,
     kUnknown},
    {"TlsNoCommonProtocol", [] { throw EclSSPIError(kz::kSecEAlgorithmMismatch); }, kPerm,
     kUnknown},
    {"TlsPlainServerOnTlsPort", [] { throw EclSSPIError(kz::kPlainDataBeforeHandshakeCode); },
     kPerm, kUnknown},
    {"NtlmLogonDenied", [] { throw EclSSPIError(kz::StatusCode(0x8009030C)); }, kPerm, kUnknown},
    {"CertificateUntrustedRoot",
     [] {
       kz::RaiseSocketError(kz::SspiErrorText(kz::kCertEUntrustedRoot), kz::kCertEUntrustedRoot);
     },
     kPerm, kUnknown},
    {"CertificateNameMismatch",
     [] { kz::RaiseSocketError(kz::SspiErrorText(kz::kCertECnNoMatch), kz::kCertECnNoMatch); },
     kPerm, kUnknown},
    {"CertificateUnreadable", [] { throw EclCryptError("bad certificate", EINVAL); }, kPerm,
     kUnknown},
    {"Greylisted451", [] { Reply(451, "4.7.1 Try again later"); }, kTemp, kTemp},
    {"ServiceClosing421", [] { Reply(421, "4.3.2 Shutting down"); }, kTemp, kTemp},
    {"MailboxFull452", [] { Reply(452, "4.2.2 Mailbox full"); }, kTemp, kTemp},
    {"TemporaryAuthFailure454", [] { Reply(454, "4.7.0 Temporary authentication failure"); }, kTemp,
     kTemp},
    {"LogInRefused535", [] { Reply(535, "5.7.8 Authentication credentials invalid"); }, kPerm,
     kPerm},
    {"RecipientRefused550", [] { Reply(550, "5.1.1 User unknown"); }, kPerm, kPerm},
    {"TooBig552", [] { Reply(552, "5.3.4 Message too big"); }, kPerm, kPerm},
    {"UnexpectedCode334", [] { Reply(334, "VXNlcm5hbWU6"); }, kPerm, kPerm},
    {"EmptyRecipientList",
     [] { throw EclSmtpError(std::string(kz::kEmptyRecipientsText), kz::kEmptyRecipientsCode); },
     kPerm, kPerm},
    {"NoSecureLogInMethod",
     [] { throw EclSmtpError(std::string(kz::kSaslUnavailableText), kz::kSaslUnavailableCode); },
     kPerm, kPerm},
    {"DataLineTooLong",
     [] {
       throw EclTcpClientError(std::string(kz::kDataLineTooLongText), kz::kDataLineTooLongCode);
     },
     kPerm, kPerm},
    {"ProxyHostUnreachable", [] { throw EclSocksFirewallError("Host unreachable", 4); }, kTemp,
     kUnknown},
    {"ProxyConnectionRefused", [] { throw EclSocksFirewallError("Connection refused", 5); }, kTemp,
     kUnknown},
    {"ProxyLogInRefused",
     [] { throw EclSocksFirewallError("SOCKS error: authentication failed", 1); }, kPerm, kUnknown},
    {"ProxyNotAllowed", [] { throw EclSocksFirewallError("Not allowed by ruleset", 2); }, kPerm,
     kUnknown},
    {"SettingsValue", [] { throw EConvertError("'abc' is not a valid integer value"); }, kPerm,
     kUnknown},
    {"NoMessage", [] { throw EclError("Zpráva nemá text ani přílohu."); }, kPerm, kUnknown},
};

INSTANTIATE_TEST_SUITE_P(Rows, FailureKindTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

TEST(FailureKind, SourceFollowsTheMostDerivedClass) {
  EXPECT_EQ(retry::SourceOf(EclSmtpError("x", -200)), retry::FailureSource::kServerReply);
  EXPECT_EQ(retry::SourceOf(EclSocksFirewallError("x", 5)), retry::FailureSource::kProxy);
  EXPECT_EQ(retry::SourceOf(EclSocketError("x", 111)), retry::FailureSource::kSocket);
  EXPECT_EQ(retry::SourceOf(std::runtime_error("x")), retry::FailureSource::kOther);
}

}  // namespace
