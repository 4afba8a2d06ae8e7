// clUtils: the date of a mail header (RFC 5322 shape with the zone offset) and the
// generated multipart boundary.
#pragma once

#include <string>
#include <string_view>

#include "core/DateTime.h"

// FormatMailDate: "Tue, 8 Dec 2026 2:05:07 +0100" (hour not zero-padded); the offset is
// the one in force at the date being formatted.
std::string FormatMailDate(TDateTime dateTime);
// GetTimeZoneBias: the local zone's offset now, "+hhmm" or "-hhmm" ("+" east of UTC and
// for UTC itself). The overload gives the offset in force at a local date-time.
std::string GetTimeZoneBias();
std::string GetTimeZoneBias(TDateTime dateTime);
// ParseMailDate reads "[Day,] d Mon yyyy [h:mm[:ss] [AM|PM]] [zone]" and returns local
// time. Two-digit years 00-49 are 20xx and 50-99 19xx; three-digit years count from 1900.
// An unknown month name gives the current month; a missing day, month or year gives 0.
// A number that does not read as one, or a value out of range, raises EConvertError.
TDateTime ParseMailDate(std::string_view text);
// GenerateBoundary: "Mark=_" followed by the millisecond tick count, the tick count shifted
// right by one bit, and a random number 0..999.
std::string GenerateBoundary();
