// EclSmtpError: the SMTP client's own refusals, with their texts and codes.
#pragma once

#include <string_view>

#include "smtp/clTcpClient.h"

class EclSmtpError : public EclTcpClientError {
 public:
  using EclTcpClientError::EclTcpClientError;
};

namespace kz {
inline constexpr int kEmptyDataCode = -200;
inline constexpr std::string_view kEmptyDataText = "The data list is empty";
inline constexpr int kEmptyRecipientsCode = -201;
inline constexpr std::string_view kEmptyRecipientsText = "The recipient list is empty";
inline constexpr int kBadAddressCode = -202;
inline constexpr std::string_view kBadAddressText =
    "The mail address contains characters that cannot be sent: CR, LF, NUL, < or >";
inline constexpr int kStartTlsInjectionCode = -203;
inline constexpr std::string_view kStartTlsInjectionText =
    "The server sent data after its reply to STARTTLS; the session is closed";
inline constexpr int kMalformedReplyCode = -204;
inline constexpr std::string_view kMalformedReplyText =
    "The server sent a line that is not an SMTP reply; the session is closed";
inline constexpr int kMixedReplyCodesCode = -205;
inline constexpr std::string_view kMixedReplyCodesText =
    "The server changed the code inside one reply; the session is closed";
inline constexpr int kMessageTooLargeCode = -206;
inline constexpr std::string_view kMessageTooLargeText =
    "The message is %s bytes, larger than the %s bytes the server accepts";
inline constexpr int kNoRandomCode = -207;
inline constexpr std::string_view kNoRandomText =
    "The system's random generator gave no bytes for the Message-ID";
inline constexpr int kSaslUnavailableCode = -400;
inline constexpr std::string_view kSaslUnavailableText =
    "Unable to logon to the server using Secure Password Authentication";
inline constexpr int kInvalidChallengeCode = -401;
inline constexpr std::string_view kInvalidChallengeText =
    "The server sent an invalid authentication challenge; the log-in was cancelled";
inline constexpr int kNoLoginMechanismCode = -402;
inline constexpr std::string_view kNoLoginMechanismText =
    "The server offers no log-in method this program can use (LOGIN, CRAM-MD5 or NTLM); "
    "the message was not sent without log-in";
}  // namespace kz
