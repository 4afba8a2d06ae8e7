// The NTLM side of the SMTP log-in. TclAuthIdentity holds the user, domain and password
// ("DOMAIN\user" and "DOMAIN/user" are split); TclNtAuthClientSspi runs the client side of
// the exchange one token at a time: the first pass makes the NEGOTIATE message, the pass
// with the server's CHALLENGE makes the AUTHENTICATE message (NTLMv2) and completes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Stream.h"

class TclAuthIdentity {
 public:
  TclAuthIdentity(std::string_view AUser, std::string_view ADomain, std::string_view APassword);
  // The text before the first "\" (else "/") is the domain, the rest the user.
  TclAuthIdentity(std::string_view AUser, std::string_view APassword);

  const std::string& User() const { return FUser; }
  const std::string& Domain() const { return FDomain; }
  const std::string& Password() const { return FPassword; }

 private:
  std::string FUser;
  std::string FPassword;
  std::string FDomain;
};

class TclNtAuthClientSspi {
 public:
  // GenChallenge: the input token is ABuffer from its position to its end (empty on the
  // first pass); the output token replaces ABuffer's content, rewound. True when the
  // exchange is complete. Only the package "NTLM" exists. A malformed challenge raises
  // EclSmtpError (-401); no identity (the logged-on user's own credentials) is not
  // available here and raises -400.
  bool GenChallenge(std::string_view APackage, TStream& ABuffer, std::string_view ATargetName,
                    const TclAuthIdentity* AuthIdentity);

  // Test seams: a fixed client challenge and time stamp instead of fresh ones.
  void SetFixedClientChallenge(std::string_view AChallenge) { FFixedChallenge = AChallenge; }
  void SetFixedTimestamp(std::uint64_t ATimestamp) { FFixedTimestamp = ATimestamp; }
  // Workstation: the name sent in the AUTHENTICATE message (empty by default).
  void SetWorkstation(std::string_view AName) { FWorkstation = AName; }

 private:
  bool FNegotiated = false;
  std::string FFixedChallenge;
  std::uint64_t FFixedTimestamp = 0;
  std::string FWorkstation;
};
