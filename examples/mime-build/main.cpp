// mime-build: builds a message with TclMailMessage::BuildMessage and writes its source (CR LF
// lines) to standard output.
//
//   mime-build --from ADDR --to LIST [--cc LIST] [--bcc LIST] [--subject S] [--charset C]
//              [--text FILE] [--html FILE] [--image FILE]... [--attach FILE]...
//
// Address lists are separated by commas or semicolons. Text and HTML files hold UTF-8. The
// charset of the message defaults to UTF-8.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/Stream.h"
#include "mail/clMailMessage.h"

namespace {

constexpr const char* kUsage =
    "usage: mime-build --from ADDR --to LIST [--cc LIST] [--bcc LIST] [--subject S]\n"
    "                  [--charset C] [--text FILE] [--html FILE] [--image FILE]...\n"
    "                  [--attach FILE]...\n";

struct Options {
  std::string from, to, cc, bcc, subject, charSet = "UTF-8", textFile, htmlFile;
  std::vector<std::string> images, attachments;
};

// Returns an error text, or "" when the arguments are fine.
std::string ParseArgs(int argc, char** argv, Options& opt) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc)
      return "missing value after " + std::string(arg);
    const std::string value = argv[++i];
    if (arg == "--from")
      opt.from = value;
    else if (arg == "--to")
      opt.to = value;
    else if (arg == "--cc")
      opt.cc = value;
    else if (arg == "--bcc")
      opt.bcc = value;
    else if (arg == "--subject")
      opt.subject = value;
    else if (arg == "--charset")
      opt.charSet = value;
    else if (arg == "--text")
      opt.textFile = value;
    else if (arg == "--html")
      opt.htmlFile = value;
    else if (arg == "--image")
      opt.images.push_back(value);
    else if (arg == "--attach")
      opt.attachments.push_back(value);
    else
      return "unknown argument '" + std::string(arg) + "'";
  }
  if (opt.from.empty())
    return "--from is required";
  if (opt.to.empty())
    return "--to is required";
  if (opt.textFile.empty() && opt.htmlFile.empty() && opt.attachments.empty())
    return "give --text, --html or --attach";
  if (!opt.images.empty() && opt.htmlFile.empty())
    return "--image needs --html";
  return "";
}

std::string ReadText(const std::string& path) {
  if (path.empty())
    return {};
  TFileStream file(path, TFileStream::Mode::Read);
  std::string text = file.ReadAll();
  if (text.rfind("\xEF\xBB\xBF", 0) == 0)
    text.erase(0, 3);  // a UTF-8 byte-order mark is no part of the text
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (const std::string error = ParseArgs(argc, argv, opt); !error.empty()) {
    std::fprintf(stderr, "mime-build: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  try {
    TclMailMessage message;
    message.SetCharSet(opt.charSet);
    message.BuildMessage(ReadText(opt.textFile), ReadText(opt.htmlFile), opt.images,
                         opt.attachments);
    message.SetFrom(opt.from);
    message.ToList().SetEmailAddresses(opt.to);
    message.CCList().SetEmailAddresses(opt.cc);
    message.BCCList().SetEmailAddresses(opt.bcc);
    message.SetSubject(opt.subject);
    for (const std::string& line : message.MessageSource()) {
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fwrite("\r\n", 1, 2, stdout);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::fprintf(stderr, "mime-build: cannot write the message\n");
      return 1;
    }
  } catch (const EclError& e) {
    std::fprintf(stderr, "mime-build: %s (code %d)\n", e.what(), e.ErrorCode);
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mime-build: %s\n", e.what());
    return 1;
  }
  return 0;
}
