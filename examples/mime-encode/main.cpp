// mime-encode: streams standard input through one content-transfer encoding to standard
// output, chunk by chunk, so inputs of any size run in constant memory.
//
//   mime-encode [--decode] --method base64|quoted-printable|uuencode|7bit|8bit
//               [--chars-per-line N]
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/StringUtils.h"
#include "mail/clEncoderCodecs.h"

namespace {

constexpr const char* kUsage =
    "usage: mime-encode [--decode] --method base64|quoted-printable|uuencode|7bit|8bit "
    "[--chars-per-line N]\n";

struct Options {
  bool decode = false;
  TclEncodeMethod method = TclEncodeMethod::cmBase64;
  bool haveMethod = false;
  int charsPerLine = 76;
};

bool ParseMethod(std::string_view name, TclEncodeMethod& method) {
  struct Entry {
    std::string_view name;
    TclEncodeMethod method;
  };
  static constexpr Entry kMethods[] = {{"base64", TclEncodeMethod::cmBase64},
                                       {"quoted-printable", TclEncodeMethod::cmQuotedPrintable},
                                       {"uuencode", TclEncodeMethod::cmUUEncode},
                                       {"7bit", TclEncodeMethod::cmNone},
                                       {"8bit", TclEncodeMethod::cm8Bit}};
  for (const auto& e : kMethods) {
    if (name == e.name) {
      method = e.method;
      return true;
    }
  }
  return false;
}

// Returns an error text, or "" when the arguments are fine.
std::string ParseArgs(int argc, char** argv, Options& opt) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--decode") {
      opt.decode = true;
    } else if (arg == "--method" || arg == "--chars-per-line") {
      if (i + 1 >= argc)
        return "missing value after " + std::string(arg);
      const std::string_view value = argv[++i];
      if (arg == "--method") {
        if (!ParseMethod(value, opt.method))
          return "unknown method '" + std::string(value) + "'";
        opt.haveMethod = true;
      } else {
        try {
          opt.charsPerLine = kz::ParseInt(value);
        } catch (const std::exception& e) {
          return e.what();
        }
      }
    } else {
      return "unknown argument '" + std::string(arg) + "'";
    }
  }
  if (!opt.haveMethod)
    return "--method is required";
  return "";
}

bool WriteAll(std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (const std::string error = ParseArgs(argc, argv, opt); !error.empty()) {
    std::fprintf(stderr, "mime-encode: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  try {
    auto codec = opt.decode ? CreateDecoderCodec(opt.method)
                            : CreateEncoderCodec(opt.method, opt.charsPerLine, false);
    std::vector<char> buffer(1 << 17);
    std::string out;
    for (;;) {
      const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
      if (n < 0) {
        if (errno == EINTR)
          continue;
        std::fprintf(stderr, "mime-encode: read error: %s\n", std::strerror(errno));
        return 1;
      }
      if (n == 0)
        break;
      out.clear();
      try {
        codec->Update(std::string_view(buffer.data(), static_cast<std::size_t>(n)), out);
      } catch (...) {
        WriteAll(out);  // what was decoded before the error
        throw;
      }
      if (!WriteAll(out)) {
        std::fprintf(stderr, "mime-encode: write error: %s\n", std::strerror(errno));
        return 1;
      }
    }
    out.clear();
    codec->Finish(out);
    if (!WriteAll(out)) {
      std::fprintf(stderr, "mime-encode: write error: %s\n", std::strerror(errno));
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mime-encode: %s\n", e.what());
    return 1;
  }
  return 0;
}
