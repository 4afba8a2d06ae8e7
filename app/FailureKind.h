// Failure kinds of a scheduled send: whether a failed attempt may be tried again.
// A temporary failure (the network or the server is not ready: refused or timed-out
// connections, names that do not resolve, cut connections and TLS handshakes, any 4xx reply)
// is worth another attempt; a permanent one (5xx replies, refused log-ins and certificates,
// bad settings) is reported at once. Once the final dot of DATA has gone out, only the
// server's reply tells whether the message was taken: any other failure after that point
// leaves the outcome unknown, and such a send is never repeated blindly.
#pragma once

#include <exception>
#include <string_view>

namespace retry {

enum class FailureKind {
  kTemporary,       // try again later
  kPermanent,       // report at once, never try again
  kOutcomeUnknown,  // the data went out, the reply did not come: never try again
};

// Which part of the stack raised the failure, read from the exception's class.
enum class FailureSource {
  kSocket,       // EclSocketError: the transport (errno, name lookup, time-out, certificate check)
  kServerReply,  // EclTcpClientError: a reply the client did not accept, or a client refusal
  kTls,          // EclSSPIError: the TLS session
  kCertificate,  // EclCryptError: a certificate could not be read
  kProxy,        // EclSocksFirewallError: the SOCKS proxy refused
  kOther,        // anything else: settings, files, the message itself
};

// How far the session had come when it failed.
enum class SendStage {
  kBeforeFinalDot,  // the server cannot have taken the message yet
  kAfterFinalDot,   // the whole message went out; only the reply was missing
};

FailureSource SourceOf(const std::exception& error);

// ClassifyFailure: the kind of a failure from its source, its ErrorCode and the stage.
FailureKind ClassifyFailure(FailureSource source, int errorCode, SendStage stage);
// ClassifyException reads source and ErrorCode from the exception itself.
FailureKind ClassifyException(const std::exception& error, SendStage stage);
// ClassifyError does the same for a raised failure of any type (a type that is no
// std::exception is permanent).
FailureKind ClassifyError(const std::exception_ptr& error, SendStage stage);

std::string_view KindName(FailureKind kind);  // "temporary", "permanent", "unknown"

}  // namespace retry
