// TclDataWriter sends a block of text lines over a connection in batches: each line goes
// out with CR LF, no line is split across two writes, and a write carries at most BatchSize
// bytes. With dot-stuffing (the SMTP DATA block, RFC 5321 4.5.2) a line that starts with
// "." gets one more in front.
//
// The wire never carries a bare CR or LF: a CR, LF or CR LF inside a line ends a line there,
// and the text after it is a line of its own (dot-stuffed too), so no line content can make
// "CR LF . CR LF" appear before the real end of the data.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/Stream.h"
#include "net/clConnection.h"

// The data line error, raised by the checks.
[[noreturn]] void RaiseDataLineTooLong();

// FindLineEnd: the position of the first CR or LF at or after `from`, or npos. Two
// memchr calls (the CR is looked for only before the LF) instead of find_first_of, which
// costs a library call per byte.
inline std::size_t FindLineEnd(std::string_view text, std::size_t from = 0) {
  if (from >= text.size())
    return std::string_view::npos;
  const char* begin = text.data() + from;
  const char* end = text.data() + text.size();
  const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', end - begin));
  const auto* cr =
      static_cast<const char*>(std::memchr(begin, '\r', (lf != nullptr ? lf : end) - begin));
  const char* hit = cr != nullptr ? cr : lf;
  return hit == nullptr ? std::string_view::npos : static_cast<std::size_t>(hit - text.data());
}

class TclDataWriter {
 public:
  TclDataWriter(TclConnection& AConnection, int ABatchSize, bool ADotStuffing);

  // Check refuses a wire line too long for the batch ("The data line length must be lower
  // than BatchSize", -100) before anything is written, and returns the byte count of the
  // wire lines with their CR LF and stuffed dots, so that progress ends at the total.
  std::int64_t Check(const std::vector<std::string>& ALines) const;
  // Check(stream) does the same for the lines of the text from the stream's position on
  // (cut as SplitLines cuts) and puts the position back.
  std::int64_t Check(TStream& AText) const;
  // Write sends the lines in full batches; the last, partial batch waits for Flush.
  void Write(const std::vector<std::string>& ALines);
  // Write(stream) sends the lines of the text from the stream's position on, read a chunk
  // at a time, with no more memory than a chunk and a batch.
  void Write(TStream& AText);
  // WriteRaw sends bytes in a write of their own (after what is pending).
  void WriteRaw(std::string_view ABytes);
  // Flush writes the pending batch.
  void Flush();

  // ForEachStreamLine calls f(line) for each line of the text from the stream's position
  // on; a line growing past AMaxLength raises -100 before it is complete.
  template <class F>
  static void ForEachStreamLine(TStream& AText, std::size_t AMaxLength, F&& f);

  // ForEachWireLine calls f(piece) for each wire line of one message line.
  template <class F>
  static void ForEachWireLine(std::string_view ALine, F&& f) {
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = FindLineEnd(ALine, start);
      if (end == std::string_view::npos) {
        f(ALine.substr(start));
        return;
      }
      f(ALine.substr(start, end - start));
      start = end + 1;
      if (ALine[end] == '\r' && start < ALine.size() && ALine[start] == '\n')
        ++start;
    }
  }

 private:
  void Append(std::string_view APiece);

  TclConnection& FConnection;
  std::size_t FBatchSize;
  bool FDotStuffing;
  TMemoryStream FBuffer;
};

template <class F>
void TclDataWriter::ForEachStreamLine(TStream& AText, std::size_t AMaxLength, F&& f) {
  std::string chunk(65536, '\0');
  std::string line;
  bool afterCr = false;
  for (std::size_t n; (n = AText.Read(std::span<char>(chunk.data(), chunk.size()))) > 0;) {
    std::string_view rest(chunk.data(), n);
    if (afterCr && rest.front() == '\n')
      rest.remove_prefix(1);  // the LF of a CR LF cut by the chunk boundary
    afterCr = false;
    while (!rest.empty()) {
      const std::size_t end = FindLineEnd(rest);
      const std::size_t take = end == std::string_view::npos ? rest.size() : end;
      if (line.size() + take > AMaxLength)
        RaiseDataLineTooLong();
      line.append(rest.substr(0, take));
      if (end == std::string_view::npos)
        break;
      f(std::string_view(line));
      line.clear();
      std::size_t skip = end + 1;
      if (rest[end] == '\r') {
        if (skip < rest.size() && rest[skip] == '\n')
          ++skip;
        else if (skip == rest.size())
          afterCr = true;
      }
      rest.remove_prefix(skip);
    }
  }
  if (!line.empty())
    f(std::string_view(line));
}
