// Socket errors: the exception every transport failure raises, its fixed texts and codes,
// and the helpers that turn errno values and getaddrinfo results into such exceptions.
//
// ErrorCode values:
//   * negative: the stack's own conditions (-1 time-out ... -6 not active);
//   * 1 .. 4095: errno values, with the strerror text;
//   * 11000 + n: getaddrinfo failure EAI_* = -n (glibc's EAI codes are negative), with the
//     gai_strerror text. Keeping them above the errno range and positive means they never
//     collide with errno values nor with the stack's negative codes. EAI_SYSTEM is reported
//     as the errno value it stands for.
#pragma once

#include <string>
#include <string_view>

#include "core/Error.h"

class EclSocketError : public EclError {
 public:
  using EclError::EclError;
};

namespace kz {

inline constexpr int kTimeoutErrorCode = -1;
inline constexpr int kInvalidAddressCode = -2;
inline constexpr int kInvalidPortCode = -3;
inline constexpr int kInvalidBatchSizeCode = -4;
inline constexpr int kNoNetworkStreamCode = -5;
inline constexpr int kNotActiveCode = -6;

inline constexpr std::string_view kTimeoutErrorText = "Timeout error occured";
inline constexpr std::string_view kInvalidAddressText = "Invalid host address";
inline constexpr std::string_view kInvalidPortText = "Invalid port number";
inline constexpr std::string_view kInvalidBatchSizeText = "Invalid Batch Size";
inline constexpr std::string_view kNoNetworkStreamText = "NetworkStream is required";
inline constexpr std::string_view kNotActiveText = "The connection to the server is not active";

inline constexpr int kGaiErrorBase = 11000;

// GaiErrorCode maps a getaddrinfo result (non-zero) to the ErrorCode described above;
// `savedErrno` is errno as it was right after the call (used for EAI_SYSTEM).
int GaiErrorCode(int gaiResult, int savedErrno);

// SocketErrorText is the system's text for an ErrorCode of the two positive ranges.
std::string SocketErrorText(int errorCode);

// RaiseSocketError raises EclSocketError with the system text for `errorCode`.
[[noreturn]] void RaiseSocketError(int errorCode);
// RaiseSocketError raises EclSocketError with a given text and code.
[[noreturn]] void RaiseSocketError(std::string_view message, int errorCode);
// RaiseLastSocketError raises the current errno.
[[noreturn]] void RaiseLastSocketError();

}  // namespace kz
