// The SMTP log-in (RFC 4954): the choice of the mechanism and the LOGIN, CRAM-MD5
// (RFC 2195) and NTLM exchanges. User names and passwords go out as UTF-8 (NTLM: UTF-16LE).
// A server challenge that is not strict base64, is empty where one is needed or is longer
// than 64 KiB cancels the exchange with "*" before any secret is sent.
#include <memory>

#include "core/StringUtils.h"
#include "smtp/clAuthUtils.h"
#include "smtp/clSmtp.h"
#include "smtp/clSspiAuth.h"

using namespace kz;

namespace {

constexpr std::size_t kMaxChallenge = 65536;

bool HasMethod(const std::vector<std::string>& methods, std::string_view name) {
  for (const std::string& method : methods) {
    if (EqualsNoCase(method, name))
      return true;
  }
  return false;
}

}  // namespace

void TclCustomSmtp::Authorize() {
  if (UserName().empty() && Password().empty())
    return;
  if (JoinLines(FExtensions, "\n").find("AUTH") == std::string::npos) {
    if (UseSasl() && SaslOnly())
      throw EclSmtpError(std::string(kSaslUnavailableText), kSaslUnavailableCode);
    return;
  }
  if (!UseSasl()) {
    AuthLogin();
  } else if (HasMethod(FAuthMethods, "NTLM")) {
    AuthNtlm();
  } else if (HasMethod(FAuthMethods, "CRAM-MD5")) {
    AuthCramMd5();
  } else if (SaslOnly()) {
    throw EclSmtpError(std::string(kSaslUnavailableText), kSaslUnavailableCode);
  } else {
    AuthLogin();
  }
}

void TclCustomSmtp::CancelAuthentication() {
  // The server answers "*" with 501; whatever it does, the exchange is over.
  SendSilentCommand("*", {501});
  throw EclSmtpError(std::string(kInvalidChallengeText), kInvalidChallengeCode);
}

std::string TclCustomSmtp::Challenge(bool ARequired) {
  const std::string text = ReplyText();
  const std::string_view encoded =
      text.size() > 4 ? std::string_view(text).substr(4) : std::string_view();
  if (encoded.size() > kMaxChallenge || (ARequired && encoded.empty()))
    CancelAuthentication();
  std::optional<std::string> decoded = Base64DecodeStrict(encoded);
  if (!decoded)
    CancelAuthentication();
  return std::move(*decoded);
}

void TclCustomSmtp::AuthLogin() {
  SendCommandSync("AUTH %s", {"LOGIN"}, {334});
  Challenge(false);
  SendSecretCommandSync(Base64Encode(UserName()), {334});
  Challenge(false);
  SendSecretCommandSync(Base64Encode(Password()), {235});
}

void TclCustomSmtp::AuthCramMd5() {
  SendCommandSync("AUTH %s", {"CRAM-MD5"}, {334});
  const std::string challenge = Challenge(true);
  const std::string digest = HmacMd5Hex(Password(), challenge);
  SendSecretCommandSync(Base64Encode(UserName() + " " + digest), {235});
}

void TclCustomSmtp::AuthNtlm() {
  SendCommandSync("AUTH NTLM", {334});
  TclNtAuthClientSspi sspi;
  TMemoryStream buffer;
  std::unique_ptr<TclAuthIdentity> identity;
  if (!UserName().empty())
    identity = std::make_unique<TclAuthIdentity>(UserName(), Password());
  for (;;) {
    bool done = false;
    try {
      done = sspi.GenChallenge("NTLM", buffer, Server(), identity.get());
    } catch (const EclSmtpError& e) {
      if (e.ErrorCode == kInvalidChallengeCode)
        CancelAuthentication();
      throw;
    }
    if (done)
      break;
    SendSecretCommandSync(Base64Encode(buffer.Data()), {334});
    const std::string challenge = Challenge(true);
    buffer.Clear();
    buffer.Write(std::string_view(challenge));
    buffer.SetPosition(0);
  }
  if (buffer.Size() > 0)
    SendSecretCommandSync(Base64Encode(buffer.Data()), {235});
}
