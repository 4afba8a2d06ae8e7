// ErrorReport: the one line a command-line program shows for an error of the mail stack.
#pragma once

#include <string>

#include "core/Error.h"

namespace kz {

// ErrorReport is "<text>[: <detail>] (code <code>)": the error's text, the TLS library's
// reason when the error carries one, and the code. Provider and certificate statuses
// (0x8009xxxx, 0x800Bxxxx) are written in the hexadecimal they are known by
// ("(code 0x80090331)"); every other code, the stack's own negative ones, errno values
// and server replies, in decimal ("(code -16)", "(code 111)", "(code 535)").
std::string ErrorReport(const EclError& error);

// ErrorCodeText is the code as ErrorReport writes it.
std::string ErrorCodeText(int code);

}  // namespace kz
