// TclHostIPResolver turns host names into IPv4 addresses. The lookup (getaddrinfo) runs on
// a helper thread that signals an eventfd when it is done; the calling thread waits for it
// with the common wait (so the pump hook keeps a user interface alive), bounded by a
// time-out and ended early by Abort.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/clEventFd.h"

class TclHostIPResolver {
 public:
  TclHostIPResolver() = default;
  ~TclHostIPResolver() = default;
  TclHostIPResolver(const TclHostIPResolver&) = delete;
  TclHostIPResolver& operator=(const TclHostIPResolver&) = delete;

  // GetIPAddress returns a dotted address unchanged; otherwise the first IPv4 address of
  // the lookup. ATimeOut is in milliseconds (-1 = none). A lookup that fails raises
  // EclSocketError with the lookup's code and text, a time-out "Timeout error occured" (-1),
  // an abort ECANCELED.
  std::string GetIPAddress(std::string_view AHostName, int ATimeOut);
  // GetIPAddressList appends every IPv4 address of the lookup to AList, in the order
  // received; dotted addresses are looked up too.
  void GetIPAddressList(std::string_view AHostName, std::vector<std::string>& AList, int ATimeOut);
  // Abort ends a pending lookup; it may be called from the pump hook or another thread.
  void Abort();
  bool IsAborted() const { return FIsAborted.load(); }

 private:
  std::vector<std::string> Lookup(std::string_view AHostName, int ATimeOut);

  std::atomic<bool> FIsAborted{false};
  kz::EventFd FAbortEvent;
};
