// mime-read: reads a message file with TclMailMessage and prints its subject, sender,
// recipients and date, then one line per body, depth first:
//   <index> <class> <content type> <file name or -> <decoded size>
// With --save-dir DIR every attachment is saved into DIR (never outside it: names from the
// message lose their folders, existing files are not overwritten, names too long for the
// file system are shortened). An attachment that cannot be saved is reported on standard
// error by name, after the others were saved, and the exit status is 1.
//
//   mime-read FILE [--save-dir DIR]
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/Stream.h"
#include "core/StringUtils.h"
#include "mail/clAttachmentSaver.h"
#include "mail/clMailMessage.h"
#include "mail/clUtils.h"

namespace {

constexpr const char* kUsage = "usage: mime-read FILE [--save-dir DIR]\n";

// Counts the bytes written to it and keeps none.
class TCountingStream : public TStream {
 public:
  using TStream::Write;
  std::size_t Read(std::span<char>) override { return 0; }
  std::size_t Write(std::span<const char> data) override {
    size_ += static_cast<std::int64_t>(data.size());
    return data.size();
  }
  std::int64_t Seek(std::int64_t, SeekOrigin) override { return 0; }
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t size) override { size_ = size; }

 private:
  std::int64_t size_ = 0;
};

// PrintBodies prints the bodies and collects the errors of attachments that could not be
// saved.
void PrintBodies(const TclMessageBodies& bodies, const std::string& prefix,
                 const std::map<const TclMessageBody*, std::int64_t>& sizes,
                 std::vector<std::string>& errors) {
  for (int i = 0; i < bodies.Count(); ++i) {
    const TclMessageBody& body = bodies.Items(i);
    const std::string index = prefix + std::to_string(i + 1);
    std::string name = "-";
    if (const auto* attachment = dynamic_cast<const TclAttachmentBody*>(&body)) {
      if (!attachment->FileName().empty())
        name = attachment->FileName();
      if (!attachment->SaveError().empty())
        errors.push_back(attachment->SaveError() + " (code " +
                         std::to_string(attachment->SaveErrorCode()) + ")");
    }
    const auto size = sizes.find(&body);
    std::printf("%s %s %s %s %lld\n", index.c_str(), std::string(body.ClassName()).c_str(),
                body.ContentType().empty() ? "-" : body.ContentType().c_str(), name.c_str(),
                static_cast<long long>(size == sizes.end() ? 0 : size->second));
    if (const auto* multipart = dynamic_cast<const TclMultipartBody*>(&body))
      PrintBodies(multipart->Bodies(), index + ".", sizes, errors);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string file, saveDir;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--save-dir" && i + 1 < argc) {
      saveDir = argv[++i];
    } else if (!arg.starts_with("--") && file.empty()) {
      file = arg;
    } else {
      std::fprintf(stderr, "mime-read: unexpected argument '%s'\n%s", argv[i], kUsage);
      return 2;
    }
  }
  if (file.empty()) {
    std::fprintf(stderr, "mime-read: no message file\n%s", kUsage);
    return 2;
  }
  try {
    TFileStream in(file, TFileStream::Mode::Read);
    const TclStringList lines = ReadSourceLines(in);
    TclMailMessage message;
    TclAttachmentSaver saver(saveDir);
    if (!saveDir.empty()) {
      saver.Attach(message);
    } else {
      message.OnSaveAttachment = [](TclMailMessage*, TclAttachmentBody*, const std::string&,
                                    std::shared_ptr<TStream>& data, bool& handled) {
        data = std::make_shared<TCountingStream>();
        handled = true;
      };
    }
    std::map<const TclMessageBody*, std::int64_t> sizes;
    message.OnDataAdded = [&](TclMailMessage*, TclMessageBody* body, TStream& data) {
      sizes[body] = data.Size();
    };
    message.SetMessageSource(lines);
    std::printf("Subject: %s\n", message.Subject().c_str());
    std::printf("From: %s\n", message.From().FullAddress().c_str());
    std::printf("To: %s\n", message.ToList().EmailAddresses().c_str());
    std::printf("Cc: %s\n", message.CCList().EmailAddresses().c_str());
    std::printf("Bcc: %s\n", message.BCCList().EmailAddresses().c_str());
    std::printf("Date: %s\n", FormatMailDate(message.Date()).c_str());
    std::vector<std::string> errors;
    PrintBodies(message.Bodies(), "", sizes, errors);
    for (const auto& saved : saver.SavedFiles())
      std::printf("saved %s\n", saved.Path.c_str());
    for (const std::string& error : errors)
      std::fprintf(stderr, "mime-read: %s\n", error.c_str());
    if (!errors.empty())
      return 1;
  } catch (const EclError& e) {
    std::fprintf(stderr, "mime-read: %s (code %d)\n", e.what(), e.ErrorCode);
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mime-read: %s\n", e.what());
    return 1;
  }
  return 0;
}
