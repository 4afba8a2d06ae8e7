// The POSIX layer under the transport in one include: the descriptor owner, the wake-up
// event, IPv4 address text, the pump hook and the blocking wait. Each has its own header;
// include the one you need.
#pragma once

#include "core/UniqueFd.h"
#include "net/clAddress.h"
#include "net/clEventFd.h"
#include "net/clPumpHook.h"
#include "net/clWait.h"

namespace kz {

// A socket descriptor's owner is the common descriptor owner.
using Socket = UniqueFd;

}  // namespace kz
