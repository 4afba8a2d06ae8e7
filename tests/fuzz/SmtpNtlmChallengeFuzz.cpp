// Fuzzes the NTLM CHALLENGE parser and, for what it accepts, the AUTHENTICATE message built
// from it: nothing may be read outside the message (the sanitizers watch), and an accepted
// challenge always carries 8 bytes of server challenge.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "smtp/clNtlm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view message(reinterpret_cast<const char*>(data), size);
  const auto challenge = kz::ParseNtlmChallenge(message);
  if (!challenge)
    return 0;
  if (challenge->ServerChallenge.size() != 8 || challenge->TargetInfo.size() > size)
    std::abort();
  const std::string auth =
      kz::NtlmAuthenticateMessage(*challenge, "user", "DOMAIN", "pass", "", std::string(8, 'c'), 1);
  if (auth.size() < 64)
    std::abort();
  return 0;
}
