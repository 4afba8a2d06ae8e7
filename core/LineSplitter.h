// LineSplitter cuts bytes that arrive in pieces into lines, the way every text protocol and
// message source here reads them: a line ends at CR LF, a lone LF or a lone CR, and a CR that
// ends one piece pairs with a LF that starts the next. Memory is one unfinished line: a line
// that lies wholly inside a piece is handed over as a view into that piece, never copied.
//
// The splitter sets no limit of its own; a caller that bounds its lines checks the length of
// each line it is given and PartialSize() after each Feed, so an endless line is refused
// before it is complete.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kz {

// FindLineBreak gives the position of the first CR or LF at or after `from`, or npos. Text
// lines are short, so the cost is in starting each search: on x86-64 it compares sixteen
// bytes at a time against both line ends inline; elsewhere it makes two memchr calls (the CR
// is looked for only before the LF) instead of find_first_of, which costs a call per byte.
inline std::size_t FindLineBreak(std::string_view text, std::size_t from = 0) {
  if (from >= text.size())
    return std::string_view::npos;
  const char* begin = text.data() + from;
  const char* end = text.data() + text.size();
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  for (; end - begin >= 16; begin += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin));
    const int hits =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)));
    if (hits != 0)
      return static_cast<std::size_t>(begin - text.data()) +
             std::countr_zero(static_cast<unsigned>(hits));
  }
  for (; begin != end; ++begin) {
    if (*begin == '\r' || *begin == '\n')
      return static_cast<std::size_t>(begin - text.data());
  }
  return std::string_view::npos;
#else
  const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', end - begin));
  const auto* cr =
      static_cast<const char*>(std::memchr(begin, '\r', (lf != nullptr ? lf : end) - begin));
  const char* hit = cr != nullptr ? cr : lf;
  return hit == nullptr ? std::string_view::npos : static_cast<std::size_t>(hit - text.data());
#endif
}

class LineSplitter {
 public:
  // Feed calls onLine(std::string_view) for every line that `bytes` completes, without its
  // line end, and keeps the text of an unfinished line for the next call. The view is valid
  // only during the call. When onLine returns bool, false stops the split right after that
  // line's end; Feed returns how many bytes of `bytes` it consumed (all of them unless
  // stopped). A CR that ends `bytes` is consumed; a LF that starts the next piece then
  // belongs to it.
  template <class F>
  std::size_t Feed(std::string_view bytes, F&& onLine);

  // Finish hands over the unfinished line, if there is one, as the last line, and returns
  // whether there was one. Text that ends with a line end has no unfinished line.
  template <class F>
  bool Finish(F&& onLine);

  // PartialSize is the length of the unfinished line kept so far.
  std::size_t PartialSize() const { return partial_.size(); }
  // AfterCr: the last byte fed was a CR, so a LF that comes next is its pair, not a line.
  bool AfterCr() const { return afterCr_; }
  // Clear forgets the unfinished line and a pending CR.
  void Clear() {
    partial_.clear();
    afterCr_ = false;
  }

 private:
  template <class F>
  static bool Call(F& onLine, std::string_view line) {
    if constexpr (std::is_same_v<std::invoke_result_t<F&, std::string_view>, bool>) {
      return onLine(line);
    } else {
      onLine(line);
      return true;
    }
  }

  std::string partial_;
  bool afterCr_ = false;
};

template <class F>
std::size_t LineSplitter::Feed(std::string_view bytes, F&& onLine) {
  std::size_t pos = 0;
  if (afterCr_ && !bytes.empty()) {
    afterCr_ = false;
    if (bytes.front() == '\n')
      pos = 1;  // the LF of a CR LF cut between two pieces
  }
  while (pos < bytes.size()) {
    const std::size_t end = FindLineBreak(bytes, pos);
    if (end == std::string_view::npos) {
      partial_.append(bytes.substr(pos));
      return bytes.size();
    }
    std::size_t next = end + 1;
    if (bytes[end] == '\r') {
      if (next == bytes.size())
        afterCr_ = true;
      else if (bytes[next] == '\n')
        ++next;
    }
    bool more;
    if (partial_.empty()) {
      more = Call(onLine, bytes.substr(pos, end - pos));
    } else {
      partial_.append(bytes.substr(pos, end - pos));
      std::string line = std::move(partial_);
      partial_.clear();
      more = Call(onLine, std::string_view(line));
    }
    pos = next;
    if (!more)
      return pos;
  }
  return bytes.size();
}

template <class F>
bool LineSplitter::Finish(F&& onLine) {
  afterCr_ = false;
  if (partial_.empty())
    return false;
  std::string line = std::move(partial_);
  partial_.clear();
  Call(onLine, std::string_view(line));
  return true;
}

}  // namespace kz
