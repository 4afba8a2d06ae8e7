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
#include <string>
#include <string_view>
#include <vector>

#include "core/LineSplitter.h"
#include "core/Stream.h"
#include "net/clConnection.h"

// The data line error, raised by the checks.
[[noreturn]] void RaiseDataLineTooLong();

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
      const std::size_t end = kz::FindLineBreak(ALine, start);
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
  kz::LineSplitter splitter;
  const auto take = [&](std::string_view line) {
    if (line.size() > AMaxLength)
      RaiseDataLineTooLong();
    f(line);
  };
  for (std::size_t n; (n = AText.Read(std::span<char>(chunk.data(), chunk.size()))) > 0;) {
    splitter.Feed(std::string_view(chunk.data(), n), take);
    if (splitter.PartialSize() > AMaxLength)
      RaiseDataLineTooLong();
  }
  splitter.Finish(take);
}
