// The hex text encoding of the five settings that hold the server, user name, password,
// recipients and own address: two upper-case hex digits per byte of the value's UTF-8 form,
// so the stored text is pure ASCII.
#pragma once

#include <string>
#include <string_view>

// TextToHex encodes the UTF-8 bytes of text ("abc" -> "616263", "č" -> "C48D").
std::string TextToHex(std::string_view text);

// HexToText decodes pairs of hex digits (either case) to bytes. The bytes are taken as UTF-8 when
// they form valid UTF-8, otherwise each byte as U+0000..U+00FF, so values stored one code unit per
// pair ("E9" for "é") read back unchanged. A pair that is not two hex digits, or an odd number of
// digits (a value that was cut, whose last character is lost), raises EConvertError: a shorter
// value is never answered.
std::string HexToText(std::string_view hex);
