#include "smtp/clDataWriter.h"

#include <cerrno>

#include "smtp/clTcpClient.h"

using namespace kz;

TclDataWriter::TclDataWriter(TclConnection& AConnection, int ABatchSize, bool ADotStuffing)
    : FConnection(AConnection),
      FBatchSize(static_cast<std::size_t>(ABatchSize)),
      FDotStuffing(ADotStuffing) {
  FBuffer.Buffer().reserve(FBatchSize);
}

void RaiseDataLineTooLong() {
  throw EclTcpClientError(std::string(kDataLineTooLongText), kDataLineTooLongCode);
}

std::int64_t TclDataWriter::Check(TStream& AText) const {
  const std::int64_t start = AText.Position();
  std::int64_t total = 0;
  ForEachStreamLine(AText, FBatchSize >= 3 ? FBatchSize - 3 : 0, [&](std::string_view line) {
    total += static_cast<std::int64_t>(line.size()) + 2;
    if (FDotStuffing && !line.empty() && line.front() == '.')
      ++total;
  });
  AText.SetPosition(start);
  return total;
}

void TclDataWriter::Write(TStream& AText) {
  ForEachStreamLine(AText, FBatchSize >= 3 ? FBatchSize - 3 : 0,
                    [this](std::string_view line) { Append(line); });
}

std::int64_t TclDataWriter::Check(const std::vector<std::string>& ALines) const {
  std::int64_t total = 0;
  for (const std::string& line : ALines) {
    ForEachWireLine(line, [&](std::string_view piece) {
      if (FBatchSize < piece.size() + 3)
        RaiseDataLineTooLong();
      total += static_cast<std::int64_t>(piece.size()) + 2;
      if (FDotStuffing && !piece.empty() && piece.front() == '.')
        ++total;
    });
  }
  return total;
}

void TclDataWriter::Write(const std::vector<std::string>& ALines) {
  for (const std::string& line : ALines)
    ForEachWireLine(line, [this](std::string_view piece) { Append(piece); });
}

void TclDataWriter::Append(std::string_view APiece) {
  std::string& buffer = FBuffer.Buffer();
  if (buffer.size() + APiece.size() + 3 > FBatchSize)
    Flush();
  if (FDotStuffing && !APiece.empty() && APiece.front() == '.')
    buffer += '.';
  buffer += APiece;
  buffer += "\r\n";
}

void TclDataWriter::Flush() {
  if (FBuffer.Buffer().empty())
    return;
  FBuffer.SetPosition(0);
  FConnection.WriteData(&FBuffer);
  // A peer that closed or an abort leaves bytes unsent: that is never a success.
  if (FBuffer.Remaining() > 0)
    RaiseSocketError(FConnection.IsAborted() ? ECONNABORTED : ENOTCONN);
  FBuffer.Clear();
}

void TclDataWriter::WriteRaw(std::string_view ABytes) {
  Flush();
  FBuffer.Buffer().assign(ABytes);
  Flush();
}
