// Error: the root of every exception the mail stack and the application raise.
// It carries the message text and an integer ErrorCode: negative codes are the stack's
// own conditions, positive ones system errors (errno), provider statuses or server replies.
#pragma once

#include <stdexcept>
#include <string>

class EclError : public std::runtime_error {
 public:
  explicit EclError(const std::string& message, int errorCode = 0)
      : std::runtime_error(message), ErrorCode(errorCode) {}

  int ErrorCode;
};

// A text that could not be converted to a number, date or time, or from hex.
class EConvertError : public EclError {
 public:
  using EclError::EclError;
};
