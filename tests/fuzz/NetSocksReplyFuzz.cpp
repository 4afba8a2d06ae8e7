// Fuzzes the SOCKS reply parsing: the first byte picks the protocol and state, the rest is
// cut into segments that arrive one after another, as reads from a proxy would.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/clSocks.h"

namespace {

template <class Base>
struct Probe : Base {
  using Base::Base;
  void Force(TclSocksConnectionState state) {
    this->FState = state;
    this->ExpectReply();
  }
};

template <class Stream>
void Run(const std::uint8_t* data, std::size_t size, TclSocksConnectionState state) {
  Stream s(nullptr);
  s.SetTargetServer("example.org");
  s.SetUserName("u");
  s.Force(state);
  s.BuildRequest();
  std::string reply;
  std::size_t i = 0;
  try {
    while (i < size) {
      const std::size_t segment = 1 + data[i] % 8;
      ++i;
      // Never more than the reply length asked for, as the connection's limit guarantees.
      const std::size_t want = static_cast<std::size_t>(s.GetReplyLength());
      if (want < reply.size())
        __builtin_trap();
      const std::size_t take = std::min({segment, size - i, want - reply.size()});
      reply.append(reinterpret_cast<const char*>(data + i), take);
      i += take;
      if (s.ParseReply(reply)) {
        if (reply.size() < static_cast<std::size_t>(s.GetReplyLength()))
          __builtin_trap();
        return;
      }
      if (take == 0)
        return;
    }
  } catch (const EclSocksFirewallError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1)
    return 0;
  const TclSocksConnectionState state = static_cast<TclSocksConnectionState>(data[0] % 3);
  if (data[0] & 0x80) {
    Run<Probe<TclSocks4NetworkStream>>(data + 1, size - 1, csHello);
  } else {
    Run<Probe<TclSocks5NetworkStream>>(data + 1, size - 1, state);
  }
  return 0;
}
