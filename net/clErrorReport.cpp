#include "net/clErrorReport.h"

#include <cstdint>
#include <cstdio>

#include "net/clSspi.h"

namespace kz {

std::string ErrorCodeText(int code) {
  // The stack's own codes are small negative numbers; statuses read as negative numbers
  // far below them.
  constexpr int kLowestOwnCode = -0xFFFF;
  char text[16];
  if (code < kLowestOwnCode)
    std::snprintf(text, sizeof text, "0x%X", static_cast<std::uint32_t>(code));
  else
    std::snprintf(text, sizeof text, "%d", code);
  return text;
}

std::string ErrorReport(const EclError& error) {
  std::string report = error.what();
  if (const auto* sspi = dynamic_cast<const EclSSPIError*>(&error); sspi && !sspi->Detail.empty())
    report += ": " + sspi->Detail;
  return report + " (code " + ErrorCodeText(error.ErrorCode) + ")";
}

}  // namespace kz
