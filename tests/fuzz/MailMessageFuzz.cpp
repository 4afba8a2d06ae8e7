// Fuzzes the message reader: any input is read without crash, hang or unbounded nesting,
// and the message read from it can be written again as well-formed lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/StringUtils.h"
#include "mail/clMailMessage.h"

namespace {

int Depth(const TclMessageBodies& bodies) {
  int depth = 0;
  for (int i = 0; i < bodies.Count(); ++i) {
    if (auto* multipart = dynamic_cast<TclMultipartBody*>(&bodies.Items(i)))
      depth = std::max(depth, 1 + Depth(multipart->Bodies()));
  }
  return depth;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> lines =
      kz::SplitLines(std::string_view(reinterpret_cast<const char*>(data), size));
  TclMailMessage message;
  // Attachment data goes to memory; writing never touches a file named by the input.
  auto stream = [](TclMailMessage*, TclAttachmentBody*, const std::string&,
                   std::shared_ptr<TStream>& out, bool& handled) {
    out = std::make_shared<TMemoryStream>();
    handled = true;
  };
  message.OnSaveAttachment = stream;
  message.OnLoadAttachment = stream;
  message.SetMessageSource(lines);
  if (Depth(message.Bodies()) >= TclMailMessage::kMaxNestingDepth)
    std::abort();
  for (const std::string& line : message.MessageSource()) {
    if (line.find_first_of("\r\n") != std::string::npos)
      std::abort();
  }
  return 0;
}
