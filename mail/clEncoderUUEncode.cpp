// The uuencode variant: lines of a count character and groups of four characters, each the
// 6-bit value plus 32 with 0 written as the grave accent; a line of count 0 ends the data.
// The "begin" and "end" lines around an attachment belong to the message, not to this codec.
#include <algorithm>
#include <cstdint>

#include "core/StringUtils.h"
#include "mail/clEncoderCodecs.h"

namespace {

// A count character states at most 63 bytes, so no line carries more.
constexpr int kMaxLineBytes = 63;

inline char UUChar(unsigned v) {
  return v == 0 ? '`' : static_cast<char>(v + 32);
}
inline unsigned UUValue(unsigned char c) {
  return (c - 32u) & 63u;
}

class UUEncoder final : public kz::Codec {
 public:
  UUEncoder(int lineLength, bool suppressCrlf)
      : lineBytes_(std::min(lineLength * 3 / 4, kMaxLineBytes)), suppress_(suppressCrlf) {}

  void Update(std::string_view in, std::string& out) override {
    if (!pending_.empty()) {
      const std::size_t need = static_cast<std::size_t>(lineBytes_) - pending_.size();
      const std::size_t take = std::min(need, in.size());
      pending_.append(in.substr(0, take));
      in.remove_prefix(take);
      if (pending_.size() < static_cast<std::size_t>(lineBytes_))
        return;
      Line(pending_, out);
      pending_.clear();
    }
    while (in.size() >= static_cast<std::size_t>(lineBytes_)) {
      Line(in.substr(0, static_cast<std::size_t>(lineBytes_)), out);
      in.remove_prefix(static_cast<std::size_t>(lineBytes_));
    }
    pending_.assign(in);
  }

  void Finish(std::string& out) override {
    if (!pending_.empty())
      Line(pending_, out);
    pending_.clear();
    if (wrote_ && !suppress_)
      out += "`\r\n";
  }

 private:
  // Line writes one record: a count character and the groups. With line breaks suppressed
  // the records follow each other on one line; each states its own length, so a decoder
  // finds where the next begins (one count character cannot state more than 63 bytes, so
  // the whole input can never be one record).
  void Line(std::string_view bytes, std::string& out) {
    wrote_ = true;
    out.push_back(UUChar(static_cast<unsigned>(bytes.size())));
    const auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n; i += 3) {
      const unsigned b0 = p[i];
      const unsigned b1 = i + 1 < n ? p[i + 1] : 0;
      const unsigned b2 = i + 2 < n ? p[i + 2] : 0;
      out.push_back(UUChar(b0 >> 2));
      out.push_back(UUChar(((b0 & 3) << 4) | (b1 >> 4)));
      // A final group of one or two bytes gives two or three characters, no padding.
      if (i + 1 < n)
        out.push_back(UUChar(((b1 & 15) << 2) | (b2 >> 6)));
      if (i + 2 < n)
        out.push_back(UUChar(b2 & 63));
    }
    if (!suppress_)
      out += "\r\n";
  }

  int lineBytes_;
  bool suppress_;
  bool wrote_ = false;
  std::string pending_;
};

class UUDecoder final : public kz::Codec {
 public:
  void Update(std::string_view in, std::string& out) override {
    if (!done_ && !in.empty() && !pending_.empty() && pending_.back() == '\r') {
      // The previous chunk ended in CR: the line is complete, with or without its LF.
      pending_.pop_back();
      if (in[0] == '\n')
        in.remove_prefix(1);
      Line(pending_, out);
      pending_.clear();
    }
    while (!in.empty() && !done_) {
      const std::size_t end = in.find_first_of("\r\n");
      if (end == std::string_view::npos) {
        pending_.append(in);
        return;
      }
      if (in[end] == '\r' && end + 1 == in.size()) {
        // A CR at the chunk's end: keep it so that its LF is not read as an empty line.
        pending_.append(in);
        return;
      }
      pending_.append(in.substr(0, end));
      std::size_t skip = end + 1;
      if (in[end] == '\r' && in[end + 1] == '\n')
        ++skip;
      in.remove_prefix(skip);
      Line(pending_, out);
      pending_.clear();
    }
  }

  void Finish(std::string& out) override {
    if (!done_ && !pending_.empty()) {
      if (pending_.back() == '\r')
        pending_.pop_back();
      Line(pending_, out);
    }
    pending_.clear();
    done_ = true;
  }

 private:
  void Line(std::string_view line, std::string& out) {
    const bool first = first_;
    first_ = false;
    if (first && kz::StartsWith(line, "begin"))
      return;
    if (line.empty())
      return;
    // Records written without line breaks follow each other on one line. What is left
    // after a record is another one only when it is at least three characters long: the
    // padding some encoders add to a last group is one or two characters.
    do {
      const std::size_t used = Record(line, out);
      if (used == 0)
        return;
      line.remove_prefix(std::min(used, line.size()));
    } while (line.size() >= 3);
  }

  // Record decodes the record at the start of `text` and returns how many characters it
  // spans; 0 for the end record (a count of 0).
  std::size_t Record(std::string_view text, std::string& out) {
    std::size_t count = UUValue(static_cast<unsigned char>(text[0]));
    if (count == 0) {
      done_ = true;
      return 0;
    }
    // Three bytes take four characters; a last group of one or two bytes two or three.
    const std::size_t spans = 1 + count / 3 * 4 + (count % 3 == 0 ? 0 : count % 3 + 1);
    const auto p = reinterpret_cast<const unsigned char*>(text.data()) + 1;
    const std::size_t n = std::min(text.size(), spans) - 1;
    // Characters missing at the end of a line (trailing spaces lost in transit) count as 0.
    auto at = [&](std::size_t k) { return k < n ? UUValue(p[k]) : 0u; };
    for (std::size_t k = 0; count > 0; k += 4) {
      const unsigned v = (at(k) << 18) | (at(k + 1) << 12) | (at(k + 2) << 6) | at(k + 3);
      const std::size_t take = std::min<std::size_t>(3, count);
      out.push_back(static_cast<char>(v >> 16));
      if (take > 1)
        out.push_back(static_cast<char>(v >> 8));
      if (take > 2)
        out.push_back(static_cast<char>(v));
      count -= take;
    }
    return spans;
  }

  bool first_ = true;
  bool done_ = false;
  std::string pending_;
};

}  // namespace

std::unique_ptr<kz::Codec> MakeUUEncoder(int lineLength, bool suppressCrlf) {
  return std::make_unique<UUEncoder>(lineLength, suppressCrlf);
}

std::unique_ptr<kz::Codec> MakeUUDecoder() {
  return std::make_unique<UUDecoder>();
}
