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

// The mechanisms in the order they are tried. UseSasl puts the challenge-response ones
// first (LOGIN last, or never with SaslOnly). Otherwise LOGIN leads over TLS, where the
// password is protected anyway; without TLS CRAM-MD5 leads, so that the password does not
// go in the clear when it need not.
std::vector<std::string_view> TclCustomSmtp::MechanismPreference() const {
  if (UseSasl()) {
    if (SaslOnly())
      return {"NTLM", "CRAM-MD5"};
    return {"NTLM", "CRAM-MD5", "LOGIN"};
  }
  if (IsTls())
    return {"LOGIN", "CRAM-MD5", "NTLM"};
  return {"CRAM-MD5", "LOGIN", "NTLM"};
}

void TclCustomSmtp::Authorize() {
  if (UserName().empty() && Password().empty())
    return;
  std::string_view chosen;
  for (std::string_view method : MechanismPreference()) {
    if (HasMethod(FAuthMethods, method)) {
      chosen = method;
      break;
    }
  }
  if (chosen.empty()) {
    if (UseSasl() && SaslOnly())
      throw EclSmtpError(std::string(kSaslUnavailableText), kSaslUnavailableCode);
    // A user name that cannot be used must not turn into a send without log-in: the
    // server might relay it anyway, or the user would never learn the setting is ignored.
    if (!UserName().empty())
      throw EclSmtpError(std::string(kNoLoginMechanismText), kNoLoginMechanismCode);
    return;
  }
  if (chosen == "NTLM")
    AuthNtlm();
  else if (chosen == "CRAM-MD5")
    AuthCramMd5();
  else
    AuthLogin();
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
