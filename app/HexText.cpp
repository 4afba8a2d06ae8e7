#include "app/HexText.h"

#include "core/Error.h"
#include "core/StringUtils.h"
#include "core/Utf.h"

std::string TextToHex(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (unsigned char b : text) {
    out.push_back(kz::kHexDigits[b >> 4]);
    out.push_back(kz::kHexDigits[b & 0x0F]);
  }
  return out;
}

std::string HexToText(std::string_view hex) {
  if (hex.size() % 2 != 0) {
    throw EConvertError("Uložená hodnota má lichý počet šestnáctkových číslic (" +
                        std::to_string(hex.size()) + "), nelze ji přečíst celou.");
  }
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int hi = kz::HexDigitValue(hex[i]);
    const int lo = kz::HexDigitValue(hex[i + 1]);
    if (hi < 0 || lo < 0) {
      throw EConvertError("'$" + std::string(hex.substr(i, 2)) + "' is not a valid integer value");
    }
    bytes.push_back(static_cast<char>(hi << 4 | lo));
  }
  if (kz::IsValidUtf8(bytes))
    return bytes;
  return kz::Latin1ToUtf8(bytes);
}
