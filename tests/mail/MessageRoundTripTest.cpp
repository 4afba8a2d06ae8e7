// Messages written and read back: by our reader, and by an independent one (Python's email
// package, Debian's /usr/bin/python3), and messages Python writes read by ours. Each message
// is compared through one description: subject, sender, recipients and the leaf parts
// (content type, file name, decoded text or bytes).
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "MailTestFiles.h"
#include "core/StringUtils.h"
#include "mail/clMailMessage.h"
#include "support/CaseName.h"

namespace {

using Lines = std::vector<std::string>;
using mailtest::ReadFile;
using mailtest::ScratchDir;

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  if (bytes.empty())
    return "-";
  std::string out;
  for (const unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string TextPayload(const TclTextBody& body) {
  std::string text = kz::JoinLines(body.Strings(), "\n");
  while (!text.empty() && text.back() == '\n')
    text.pop_back();
  return text;
}

std::string Address(const TclEmailAddressItem& item) {
  return item.Name().empty() ? item.Email() : item.Name() + " <" + item.Email() + ">";
}

// Payloads of attachments: from a read message's saved streams, or from the files of a
// message that was built.
using Payloads = std::map<const TclMessageBody*, std::shared_ptr<TMemoryStream>>;

// `files` stands in for the files of a built message whose attachment came through
// OnLoadAttachment (one payload for every attachment).
void DescribeParts(const TclMessageBodies& bodies, const Payloads* saved, Lines& out,
                   const std::string* files = nullptr) {
  for (int i = 0; i < bodies.Count(); ++i) {
    TclMessageBody& body = bodies.Items(i);
    if (auto* multipart = dynamic_cast<TclMultipartBody*>(&body)) {
      DescribeParts(multipart->Bodies(), saved, out, files);
      continue;
    }
    std::string name = "-", payload;
    if (auto* text = dynamic_cast<TclTextBody*>(&body)) {
      payload = TextPayload(*text);
    } else if (auto* attachment = dynamic_cast<TclAttachmentBody*>(&body)) {
      const std::string& file = attachment->FileName();
      name = Hex(file.substr(file.find_last_of('/') + 1));
      if (saved != nullptr) {
        auto it = saved->find(&body);
        payload = it == saved->end() ? "(not saved)" : std::string(it->second->Data());
      } else {
        payload = files != nullptr ? *files : ReadFile(file);
      }
    }
    out.push_back("part\t" + kz::LowerAscii(body.ContentType()) + "\t" + name + "\t" +
                  Hex(payload));
  }
}

Lines Describe(const TclMailMessage& message, const Payloads* saved,
               std::optional<std::string> files = std::nullopt) {
  Lines out{"subject\t" + Hex(message.Subject()), "from\t" + Hex(Address(message.From()))};
  std::string to;
  for (int i = 0; i < message.ToList().Count(); ++i)
    to += (i > 0 ? ", " : "") + message.ToList().Items(i).Email();
  out.push_back("to\t" + Hex(to));
  DescribeParts(message.Bodies(), saved, out, files ? &*files : nullptr);
  return out;
}

// Reads a source with every attachment saved into memory.
Lines ReadAndDescribe(const Lines& source) {
  TclMailMessage message;
  Payloads saved;
  message.OnSaveAttachment = [&](TclMailMessage*, TclAttachmentBody* body, const std::string&,
                                 std::shared_ptr<TStream>& data, bool& handled) {
    auto stream = std::make_shared<TMemoryStream>();
    saved[body] = stream;
    data = stream;
    handled = true;
  };
  message.SetMessageSource(source);
  return Describe(message, &saved);
}

Lines RunPeer(const std::string& args) {
  const std::string cmd = "/usr/bin/python3 " MAIL_TEST_DIR "/message_peer.py " + args;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (pipe == nullptr)
    throw std::runtime_error("cannot run " + cmd);
  std::string out;
  char buffer[65536];
  while (const std::size_t n = fread(buffer, 1, sizeof buffer, pipe))
    out.append(buffer, n);
  if (pclose(pipe) != 0)
    throw std::runtime_error("python peer failed: " + cmd);
  return kz::SplitLines(out);
}

// ------------------------------------------------------------------------------------------
// The messages we write: every shape of BuildMessage, Czech text, names and file names.

struct FileSpec {
  std::string name;
  std::string data;
};

struct ShapeRow {
  std::string name;
  std::string charSet;
  std::string subject;
  std::string text;
  std::string html;
  std::vector<FileSpec> images;
  std::vector<FileSpec> attachments;
};
void PrintTo(const ShapeRow& r, std::ostream* os) {
  *os << r.name;
}

const std::string kCzech = "Příliš žluťoučký kůň úpěl ďábelské ódy";
const std::string kPng = "\x89PNG\r\n\x1a\n" + mailtest::RandomBytes(900, 7);

std::vector<ShapeRow> Shapes() {
  const std::string binary = mailtest::RandomBytes(20000, 1);
  return {
      {"text_only", "UTF-8", "Týdenní zpráva", kCzech + "\r\nDruhý řádek.", "", {}, {}},
      {"ascii_text_only", "iso-8859-1", "Weekly report", "Hello\r\nWorld", "", {}, {}},
      {"text_and_html", "UTF-8", kCzech, "Dobrý den", "<p>Dobrý <b>den</b></p>", {}, {}},
      {"html_with_images", "UTF-8", "Obrázky", "", "<p>Logo</p>", {{"logo.png", kPng}}, {}},
      {"text_html_images",
       "UTF-8",
       "Obrázky 2",
       "Text",
       "<p>Logo</p>",
       {{"logo.png", kPng}, {"druhé logo.png", kPng.substr(0, 300)}},
       {}},
      {"attachments",
       "UTF-8",
       "Přílohy",
       "Posílám přílohy.",
       "",
       {},
       {{"přihláška.pdf", binary},
        {"notes.txt", "plain ascii without final line break"},
        {"empty.dat", ""},
        {"crlf.txt", "ends with a line break\r\n"},
        {"poznámky.txt", "Řádek jedna\r\nŘádek dva\r\n"}}},
      {"everything",
       "UTF-8",
       kCzech,
       "Text",
       "<p>HTML</p>",
       {{"logo.png", kPng}},
       {{"smlouva č. 2.pdf", binary.substr(0, 777)}}},
      {"iso_8859_2",
       "iso-8859-2",
       "Žádost o přijetí",
       "Dobrý den, posílám žádost.",
       "",
       {},
       {{"žádost.doc", binary.substr(0, 1000)}}},
  };
}

// Builds the row's message; its files live in dir.
void Build(const ShapeRow& r, const ScratchDir& dir, TclMailMessage& message) {
  std::vector<std::string> images, attachments;
  std::string html = r.html;
  for (const FileSpec& f : r.images) {
    images.push_back(dir.Write(f.name, f.data));
    html += "<img src=\"" + images.back() + "\">";
  }
  for (const FileSpec& f : r.attachments)
    attachments.push_back(dir.Write(f.name, f.data));
  message.SetCharSet(r.charSet);
  message.BuildMessage(r.text, html, images, attachments);
  message.SetSubject(r.subject);
  message.SetFrom("Jan Novák <jan@example.cz>");
  message.ToList().Add("Petr Svoboda <petr@example.cz>");
  message.ToList().Add("eva@example.cz");
  message.CCList().Add("copy@example.cz");
}

class WrittenMessage : public testing::TestWithParam<ShapeRow> {};

TEST_P(WrittenMessage, ReadsBackTheSame) {
  ScratchDir dir;
  TclMailMessage message;
  Build(GetParam(), dir, message);
  const Lines expected = Describe(message, nullptr);
  const Lines& source = message.MessageSource();
  for (const std::string& line : source)
    ASSERT_LE(line.size(), 998u);
  EXPECT_EQ(ReadAndDescribe(source), expected);

  TclMailMessage read;
  read.SetMessageSource(source);
  EXPECT_EQ(read.CCList().EmailAddresses(), "copy@example.cz");
  EXPECT_EQ(read.ContentType(), message.ContentType());
  EXPECT_EQ(read.Attachments().size(), message.Attachments().size());
  EXPECT_EQ(read.Images().size(), message.Images().size());
  for (std::size_t i = 0; i < read.Images().size(); ++i)
    EXPECT_EQ(read.Images()[i]->ContentID(), message.Images()[i]->ContentID());
}

TEST_P(WrittenMessage, PythonReadsTheSame) {
  ScratchDir dir;
  TclMailMessage message;
  Build(GetParam(), dir, message);
  const std::string file = dir.Write("message.eml", mailtest::Wire(message.MessageSource()));
  EXPECT_EQ(RunPeer("describe " + file), Describe(message, nullptr));
}

INSTANTIATE_TEST_SUITE_P(All, WrittenMessage, testing::ValuesIn(Shapes()), testsupport::RowName());

// ------------------------------------------------------------------------------------------
// Attachment bytes: every kind of line end, and names longer than a file system takes, come
// back byte for byte through our reader and through Python's.

struct BytesRow {
  std::string name;
  std::string fileName;
  std::string data;
  bool base64;  // whether the bytes need base64 to arrive unchanged
};
void PrintTo(const BytesRow& r, std::ostream* os) {
  *os << r.name;
}

const std::string kLongCzechName = [] {
  std::string name;
  while (name.size() < 300)
    name += "dlouhý název přílohy ";
  return name + ".json";
}();

std::vector<BytesRow> ByteRows() {
  return {
      {"crlf_text", "a.txt", "one\r\ntwo\r\n", false},
      {"crlf_without_final_break", "a.txt", "one\r\ntwo", false},
      {"lf_script", "run.sh", "#!/bin/sh\necho hi\n", true},
      {"lf_json", "data.json", "{\n  \"a\": 1\n}\n", true},
      {"cr_only", "old.txt", "one\rtwo\r", true},
      {"mixed_line_ends", "mix.txt", "a\r\nb\nc\rd", true},
      {"final_lone_cr", "cr.txt", "text\r", true},
      {"first_byte_lf", "lf.txt", "\nabc", true},
      {"cr_before_crlf", "crcrlf.txt", "a\r\r\nb", true},
      {"empty_lines_crlf", "blank.txt", "\r\n\r\n\r\n", false},
      {"empty_lines_lf", "blank.txt", "\n\n\n", true},
      {"lf_czech_text", "poznámky.txt", "Řádek jedna\nŘádek dva\n", true},
      {"crlf_czech_text", "poznámky.txt", "Řádek jedna\r\nŘádek dva\r\n", false},
      {"crlf_czech_text_long_line", "dopis.txt", "Dobrý den, " + std::string(200, 'x') + "\r\n",
       false},
      {"from_line", "mbox.txt", "From here\r\n.\r\nFrom there", false},
      {"long_czech_name_lf", kLongCzechName, "{\n}\n", true},
      {"long_ascii_name", std::string(400, 'n') + ".txt", "x\r\n", false},
  };
}

// Builds a message with the row's file as its one attachment; the data comes through
// OnLoadAttachment, so a name no file system would take can be used too.
void BuildWithFile(const BytesRow& r, TclMailMessage& message) {
  message.OnLoadAttachment = [data = r.data](TclMailMessage*, TclAttachmentBody*,
                                             const std::string&, std::shared_ptr<TStream>& out,
                                             bool& handled) {
    out = std::make_shared<TMemoryStream>(data);
    handled = true;
  };
  message.SetCharSet("UTF-8");
  const std::vector<std::string> files{"/nowhere/" + r.fileName};
  message.BuildMessage("Text", files);
  message.SetSubject("Bytes");
  message.SetFrom("jan@example.cz");
  message.ToList().Add("eva@example.cz");
}

class AttachmentBytes : public testing::TestWithParam<BytesRow> {};

TEST_P(AttachmentBytes, OurReaderGetsEveryByte) {
  TclMailMessage message;
  BuildWithFile(GetParam(), message);
  const Lines& source = message.MessageSource();
  const Lines expected = Describe(message, nullptr, GetParam().data);
  EXPECT_EQ(ReadAndDescribe(source), expected);
  TclMailMessage read;
  read.SetMessageSource(source);
  ASSERT_EQ(read.Attachments().size(), 1u);
  EXPECT_EQ(read.Attachments()[0]->OwnEncoding() == TclEncodeMethod::cmBase64, GetParam().base64);
}

TEST_P(AttachmentBytes, PythonGetsEveryByte) {
  ScratchDir dir;
  TclMailMessage message;
  BuildWithFile(GetParam(), message);
  const std::string file = dir.Write("message.eml", mailtest::Wire(message.MessageSource()));
  EXPECT_EQ(RunPeer("describe " + file), Describe(message, nullptr, GetParam().data));
}

INSTANTIATE_TEST_SUITE_P(All, AttachmentBytes, testing::ValuesIn(ByteRows()),
                         [](const testing::TestParamInfo<BytesRow>& info) {
                           return info.param.name;
                         });

// ------------------------------------------------------------------------------------------
// Messages Python writes: multipart/mixed, alternative, related, RFC 2047 and RFC 2231 file
// names, quoted-printable and base64 bodies, CR LF and LF line ends.

class PythonMessage : public testing::TestWithParam<std::string> {};

TEST_P(PythonMessage, WeReadWhatPythonReads) {
  ScratchDir dir;
  const std::string file = dir.path() + "/python.eml";
  const Lines expected = RunPeer("build " + GetParam() + " " + file);
  ASSERT_GE(expected.size(), 4u);
  EXPECT_EQ(ReadAndDescribe(kz::SplitLines(ReadFile(file))), expected);
}

INSTANTIATE_TEST_SUITE_P(All, PythonMessage,
                         testing::Values("mixed", "alternative", "related", "rfc2047-name",
                                         "rfc2231-continued", "single-qp", "single-base64"),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             c = c == '-' ? '_' : c;
                           return name;
                         });

}  // namespace
