#include "smtp/clSspiAuth.h"

#include <openssl/rand.h>

#include "smtp/clNtlm.h"
#include "smtp/clSmtpError.h"

using namespace kz;

TclAuthIdentity::TclAuthIdentity(std::string_view AUser, std::string_view ADomain,
                                 std::string_view APassword)
    : FUser(AUser), FPassword(APassword), FDomain(ADomain) {}

TclAuthIdentity::TclAuthIdentity(std::string_view AUser, std::string_view APassword)
    : FPassword(APassword) {
  std::size_t cut = AUser.find('\\');
  if (cut == std::string_view::npos)
    cut = AUser.find('/');
  if (cut == std::string_view::npos) {
    FUser = AUser;
  } else {
    FDomain = AUser.substr(0, cut);
    FUser = AUser.substr(cut + 1);
  }
}

namespace {

void Replace(TStream& buffer, std::string_view token) {
  buffer.SetSize(0);
  buffer.Write(token);
  buffer.SetPosition(0);
}

}  // namespace

bool TclNtAuthClientSspi::GenChallenge(std::string_view APackage, TStream& ABuffer,
                                       std::string_view /*ATargetName*/,
                                       const TclAuthIdentity* AuthIdentity) {
  if (APackage != "NTLM")
    throw EclSmtpError("Unsupported authentication package", kSaslUnavailableCode);
  if (AuthIdentity == nullptr)
    throw EclSmtpError(std::string(kSaslUnavailableText), kSaslUnavailableCode);
  const std::string input = ABuffer.ReadAll();
  if (input.empty()) {
    FNegotiated = true;
    Replace(ABuffer, NtlmNegotiateMessage());
    return false;
  }
  const std::optional<TclNtlmChallenge> challenge =
      FNegotiated ? ParseNtlmChallenge(input) : std::nullopt;
  if (!challenge)
    throw EclSmtpError(std::string(kInvalidChallengeText), kInvalidChallengeCode);
  std::string clientChallenge = FFixedChallenge;
  if (clientChallenge.size() != 8) {
    clientChallenge.assign(8, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(clientChallenge.data()), 8) != 1)
      throw EclSmtpError("No random bytes for the NTLM client challenge", kSaslUnavailableCode);
  }
  const std::uint64_t stamp = FFixedTimestamp != 0 ? FFixedTimestamp : NtlmTimestampNow();
  Replace(ABuffer,
          NtlmAuthenticateMessage(*challenge, AuthIdentity->User(), AuthIdentity->Domain(),
                                  AuthIdentity->Password(), FWorkstation, clientChallenge, stamp));
  FNegotiated = false;
  return true;
}
