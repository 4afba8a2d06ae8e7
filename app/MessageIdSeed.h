// The stable Message-ID of a send slot: its left side is made of the slot (date and send
// minute) and a random id of this installation, so every send of one slot (a retry, a
// catch-up, a repeat after an unknown outcome) carries the same Message-ID and recipients'
// programs can recognise a copy the server had taken already, while two installations never
// share one. The installation id is 16 random bytes from the kernel, kept as 32 hex digits
// in a small file of the data folder, created once, owner-only, and never overwritten by a
// concurrent first start.
#pragma once

#include <string>
#include <string_view>

#include "app/Schedule.h"

namespace messageid {

inline constexpr std::string_view kInstallationFile = "instalace.dat";
inline constexpr std::size_t kIdBytes = 16;

// InstallationId answers the stored id, creating the file when it is missing; a file whose
// content is not an id (damaged) is replaced by a new one. Raises EclError naming the file.
std::string InstallationId();

// NewInstallationId draws a fresh id (32 lower-case hex digits); raises EclError when the
// kernel gives no random bytes.
std::string NewInstallationId();

// IsInstallationId: exactly 32 lower-case hex digits.
bool IsInstallationId(std::string_view text);

// SlotLeftSide is the Message-ID's left side of a slot: "yyyymmddhhmm.<installation id>".
std::string SlotLeftSide(const schedule::LocalDateTime& slot, std::string_view installationId);

}  // namespace messageid
