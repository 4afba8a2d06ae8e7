// The transport in one include: connections, the plain network stream, the host resolver
// and the socket errors.
#pragma once

#include "net/clConnection.h"
#include "net/clHostIPResolver.h"
#include "net/clNetworkStream.h"
#include "net/clPosixSocket.h"
#include "net/clSocketError.h"
