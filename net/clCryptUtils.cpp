#include "net/clCryptUtils.h"

#include <openssl/err.h>

#include <stdexcept>

#include "core/StringUtils.h"
#include "core/Utf.h"
#include "net/clCryptAPI.h"

std::string EclCryptError::GetLastErrorText() {
  std::string text = kz::TakeOpenSslError();
  while (!text.empty()) {
    const unsigned char last = static_cast<unsigned char>(text.back());
    if (last > 32 && last != '.')
      break;
    text.pop_back();
  }
  return text;
}

void EclCryptError::RaiseLast() {
  RaiseLast(static_cast<int>(ERR_peek_error() & 0x7FFFFFFF));
}

void EclCryptError::RaiseLast(int code) {
  throw EclCryptError(GetLastErrorText(), code);
}

void TclCryptData::Allocate(int ASize) {
  if (ASize < 0)
    throw std::invalid_argument("TclCryptData: negative size");
  FData.assign(static_cast<std::size_t>(ASize), '\0');
  FDataSize = ASize;
}

void TclCryptData::Reduce(int ANewSize) {
  if (ANewSize >= 0 && ANewSize < FDataSize)
    FDataSize = ANewSize;
}

void TclCryptData::FromStream(TStream& AStream) {
  FromString(AStream.ReadAll());
}

void TclCryptData::ToStream(TStream& AStream) const {
  AStream.Write(View());
}

void TclCryptData::FromString(std::string_view AValue) {
  FData.assign(AValue.begin(), AValue.end());
  FDataSize = static_cast<int>(AValue.size());
}

void TclCryptData::FromWideString(std::string_view AUtf8) {
  std::string bytes;
  for (const char16_t unit : kz::Utf8ToUtf16(AUtf8)) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  FromString(bytes);
}

std::string TclCryptData::ToWideString() const {
  const std::string_view bytes = View();
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  // A terminating zero unit, as wide-string buffers often carry, ends the text.
  const std::size_t end = units.find(u'\0');
  if (end != std::u16string::npos)
    units.resize(end);
  return kz::Utf16ToUtf8(units);
}

void TclCryptData::FromStrings(const std::vector<std::string>& ALines) {
  FromString(kz::JoinLines(ALines, "\r\n"));
}

std::vector<std::string> TclCryptData::ToStrings() const {
  return kz::SplitLines(View());
}
