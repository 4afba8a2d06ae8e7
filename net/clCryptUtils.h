// Crypto helpers of the certificate code: TclCryptData, a byte buffer that moves between
// streams, text and line lists, and EclCryptError, the failure of a certificate function.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Error.h"
#include "core/Stream.h"

// EclCryptError: a certificate function failed. The text is the TLS library's reason.
class EclCryptError : public EclError {
 public:
  using EclError::EclError;

  // GetLastErrorText is the reason of the oldest error the library queued on this thread
  // (the queue is emptied), without trailing control characters, spaces and full stops.
  static std::string GetLastErrorText();
  // RaiseLast raises EclCryptError with GetLastErrorText and `code`; without a code, the
  // library's own code of that error.
  [[noreturn]] static void RaiseLast(int code);
  [[noreturn]] static void RaiseLast();
};

// TclCryptData owns a byte buffer whose recorded size may be reduced below what was
// allocated.
class TclCryptData {
 public:
  TclCryptData() = default;
  explicit TclCryptData(std::string_view bytes) { FromString(bytes); }

  char* Data() { return FData.data(); }
  const char* Data() const { return FData.data(); }
  int DataSize() const { return FDataSize; }
  std::string_view View() const { return {FData.data(), static_cast<std::size_t>(FDataSize)}; }

  // Allocate discards the content and makes room for `ASize` bytes (content unspecified).
  void Allocate(int ASize);
  // Reduce only ever shrinks the recorded size.
  void Reduce(int ANewSize);
  void FromStream(TStream& AStream);
  void ToStream(TStream& AStream) const;
  // FromString / ToString: the bytes as they are (ASCII text).
  void FromString(std::string_view AValue);
  std::string ToString() const { return std::string(View()); }
  // FromWideString / ToWideString: UTF-8 text held as UTF-16 (little-endian) bytes.
  void FromWideString(std::string_view AUtf8);
  std::string ToWideString() const;
  // FromStrings / ToStrings: lines joined with CR LF, no line break after the last.
  void FromStrings(const std::vector<std::string>& ALines);
  std::vector<std::string> ToStrings() const;

 private:
  std::vector<char> FData;
  int FDataSize = 0;
};
