#include "net/clHostIPResolver.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <mutex>
#include <thread>

#include "net/clAddress.h"
#include "net/clSocketError.h"
#include "net/clWait.h"

namespace {

// The state one lookup shares with its helper thread; the thread keeps it alive when the
// caller has given up waiting (time-out or abort), since getaddrinfo cannot be cancelled.
struct LookupState {
  kz::EventFd completed;
  std::mutex mutex;
  int error = 0;
  std::vector<std::string> addresses;
};

void RunLookup(const std::shared_ptr<LookupState>& state, const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  errno = 0;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
  const int savedErrno = errno;
  {
    std::lock_guard lock(state->mutex);
    if (rc != 0) {
      state->error = kz::GaiErrorCode(rc, savedErrno);
    } else {
      for (const addrinfo* p = result; p != nullptr; p = p->ai_next) {
        if (p->ai_family != AF_INET)
          continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(p->ai_addr);
        state->addresses.push_back(kz::FormatAddress(address->sin_addr));
      }
      if (state->addresses.empty())
        state->error = kz::GaiErrorCode(EAI_NONAME, 0);
    }
  }
  if (result != nullptr)
    ::freeaddrinfo(result);
  state->completed.Signal();
}

}  // namespace

std::vector<std::string> TclHostIPResolver::Lookup(std::string_view AHostName, int ATimeOut) {
  auto state = std::make_shared<LookupState>();
  std::thread(RunLookup, state, std::string(AHostName)).detach();
  FIsAborted = false;
  FAbortEvent.Reset();
  // The time-out counts from the start of the lookup, however often the pump hook runs.
  const std::int64_t start = kz::TickCount();
  for (;;) {
    const kz::WaitOutcome outcome =
        kz::WaitForEvents(state->completed.Get(), POLLIN, FAbortEvent.Get(), start, ATimeOut);
    if (outcome.result == kz::WaitResult::kDescriptor)
      break;
    if (FIsAborted)
      kz::RaiseSocketError(ECANCELED);
  }
  std::lock_guard lock(state->mutex);
  if (state->error != 0)
    kz::RaiseSocketError(state->error);
  return std::move(state->addresses);
}

std::string TclHostIPResolver::GetIPAddress(std::string_view AHostName, int ATimeOut) {
  if (kz::IsDottedAddress(AHostName))
    return std::string(AHostName);
  return Lookup(AHostName, ATimeOut).front();
}

void TclHostIPResolver::GetIPAddressList(std::string_view AHostName,
                                         std::vector<std::string>& AList, int ATimeOut) {
  for (auto& address : Lookup(AHostName, ATimeOut))
    AList.push_back(std::move(address));
}

void TclHostIPResolver::Abort() {
  FIsAborted = true;
  FAbortEvent.Signal();
}
