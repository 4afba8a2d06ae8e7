// The message reader: header fields, part classes, uuencode blocks, hostile input (deep
// nesting, unclosed boundaries, parts without header, huge lines, many parts), attachment
// saving that never leaves its folder, and the persisted body list.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "MailTestFiles.h"
#include "core/StringUtils.h"
#include "mail/clAttachmentSaver.h"
#include "mail/clMailMessage.h"
#include "mail/clMessageBodyStore.h"
#include "support/CaseName.h"

namespace {

using Lines = std::vector<std::string>;
using M = TclEncodeMethod;
using mailtest::ReadFile;
using mailtest::ScratchDir;

Lines Header(const std::string& boundary) {
  return {"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"", ""};
}

// ------------------------------------------------------------------------------------------
// Which body class a part becomes.

struct Probe : TclMailMessage {
  using TclMailMessage::CreateBody;
};

struct ClassRow {
  std::string type;
  std::string disposition;
  std::string want;
};
void PrintTo(const ClassRow& r, std::ostream* os) {
  *os << r.type << "/" << r.disposition;
}

class PartClass : public testing::TestWithParam<ClassRow> {};
TEST_P(PartClass, FollowsTypeAndDisposition) {
  Probe message;
  const ClassRow& r = GetParam();
  EXPECT_EQ(message.CreateBody(message.Bodies(), r.type, r.disposition).ClassName(), r.want);
}
INSTANTIATE_TEST_SUITE_P(All, PartClass,
                         testing::Values(ClassRow{"multipart/alternative", "", "TclMultipartBody"},
                                         ClassRow{"Multipart/Mixed", "attachment",
                                                  "TclMultipartBody"},
                                         ClassRow{"image/png", "attachment", "TclImageBody"},
                                         ClassRow{"text/plain", "", "TclTextBody"},
                                         ClassRow{"TEXT/HTML", "inline", "TclTextBody"},
                                         ClassRow{"text/plain", "attachment", "TclAttachmentBody"},
                                         ClassRow{"application/pdf", "", "TclAttachmentBody"},
                                         ClassRow{"", "", "TclAttachmentBody"}),
                         testsupport::PrintedName());

// ------------------------------------------------------------------------------------------
// Header fields.

struct HeaderRow {
  std::string name;
  Lines header;
  TclMessagePriority priority;
  std::string subject;
  std::string from;
  std::string to;
};
void PrintTo(const HeaderRow& r, std::ostream* os) {
  *os << r.name;
}

class ReadHeader : public testing::TestWithParam<HeaderRow> {};
TEST_P(ReadHeader, ReadsFields) {
  const HeaderRow& r = GetParam();
  TclMailMessage message;
  Lines source = r.header;
  source.insert(source.end(), {"", "body"});
  message.SetMessageSource(source);
  EXPECT_EQ(message.Priority(), r.priority);
  EXPECT_EQ(message.Subject(), r.subject);
  EXPECT_EQ(message.From().FullAddress(), r.from);
  EXPECT_EQ(message.ToList().EmailAddresses(), r.to);
}
INSTANTIATE_TEST_SUITE_P(
    All, ReadHeader,
    testing::Values(
        HeaderRow{"importance_high",
                  {"Importance: HIGH", "X-Priority: 5"},
                  TclMessagePriority::mpHigh,
                  "",
                  "",
                  ""},
        HeaderRow{"x_priority_low", {"X-Priority: 5"}, TclMessagePriority::mpLow, "", "", ""},
        HeaderRow{"x_priority_highest_comment",
                  {"X-Priority: 1 (Highest)"},
                  TclMessagePriority::mpHigh,
                  "",
                  "",
                  ""},
        HeaderRow{"x_priority_high_comment",
                  {"X-Priority: 2 (High)"},
                  TclMessagePriority::mpHigh,
                  "",
                  "",
                  ""},
        HeaderRow{"x_priority_lowest_comment",
                  {"X-Priority: 5 (Lowest)"},
                  TclMessagePriority::mpLow,
                  "",
                  "",
                  ""},
        HeaderRow{"x_priority_normal_comment",
                  {"X-Priority: 3 (Normal)"},
                  TclMessagePriority::mpNormal,
                  "",
                  "",
                  ""},
        HeaderRow{
            "x_priority_not_a_level", {"X-Priority: 12"}, TclMessagePriority::mpNormal, "", "", ""},
        HeaderRow{"msmail_low", {"X-MSMail-Priority: Low"}, TclMessagePriority::mpLow, "", "", ""},
        HeaderRow{"other_values_normal",
                  {"Importance: normal", "X-Priority: 3"},
                  TclMessagePriority::mpNormal,
                  "",
                  "",
                  ""},
        HeaderRow{
            "encoded_subject_folded",
            {"Subject: =?UTF-8?Q?P=C5=99=C3=ADli=C5=A1?=", "\t=?UTF-8?B?IMW+bHXFpW91xI1rw70=?="},
            TclMessagePriority::mpNormal,
            "Příliš žluťoučký",
            "",
            ""},
        HeaderRow{"encoded_names",
                  {"From: =?UTF-8?Q?Jan_Nov=C3=A1k?= <jan@example.cz>",
                   "To: \"Svoboda, Petr\" <petr@example.cz>, (Eva, Dvořák) eva@example.cz,",
                   "\tx@example.cz"},
                  TclMessagePriority::mpNormal,
                  "",
                  "\"Jan Novák\" <jan@example.cz>",
                  "\"Svoboda, Petr\" <petr@example.cz>, \"Eva, Dvořák\" <eva@example.cz>, "
                  "x@example.cz"}),
    testsupport::RowName());

TEST(ReadHeader, DateFallsBackToReceivedAndIgnoresNonsense) {
  TclMailMessage message;
  message.SetMessageSource(
      Lines{"Received: from x by y; Tue, 8 Dec 2026 02:05:07 +0000", "", "body"});
  const kz::DateTimeParts parts = kz::DecodeDateTime(message.Date());
  EXPECT_EQ(parts.Year, 2026);
  EXPECT_EQ(parts.Month, 12);
  const TDateTime before = kz::Now();
  message.SetMessageSource(Lines{"Date: Tue, 8 Dec 20x6 xx:05:07 +0000", "", "body"});
  EXPECT_GE(message.Date(), before - 1.0 / 86400);
}

TEST(ReadHeader, KeepsUnknownFieldsAndRawHeader) {
  TclMailMessage message;
  message.SetHeaderSource(
      Lines{"Subject: s", "X-Custom: one", "\ttwo", "List-Id: <l.example.cz>", "", "ignored body"});
  EXPECT_EQ(message.ExtraFields(), (Lines{"X-Custom: one two", "List-Id: <l.example.cz>"}));
  EXPECT_EQ(message.RawHeader().size(), 4u);
  EXPECT_EQ(message.EncodedStart(), 5);
  EXPECT_EQ(message.Bodies().Count(), 0);
}

// ------------------------------------------------------------------------------------------
// Single parts and uuencode.

TEST(ReadSinglePart, UuencodeBlocksBecomeAttachments) {
  const std::string data = "Hello uuencode\r\n";
  Lines source{"Subject: old style", "", "See the file:"};
  source.push_back("begin 644 ../a.txt");
  for (const std::string& line : kz::SplitLines(TclEncoder(M::cmUUEncode).EncodeBytes(data)))
    source.push_back(line);
  source.insert(source.end(), {"end", "Bye."});
  TclMailMessage message;
  std::string saved;
  std::string savedName;
  auto stream = std::make_shared<TMemoryStream>();
  message.OnSaveAttachment = [&](TclMailMessage*, TclAttachmentBody*, const std::string& name,
                                 std::shared_ptr<TStream>& out, bool& handled) {
    savedName = name;
    out = stream;
    handled = true;
  };
  message.SetMessageSource(source);
  EXPECT_EQ(message.MessageFormat(), TclMessageFormat::mfUUencode);
  ASSERT_EQ(message.Bodies().Count(), 3);
  EXPECT_EQ(message.Attachments().at(0)->FileName(), "a.txt");
  EXPECT_EQ(savedName, "a.txt");
  EXPECT_EQ(stream->Data(), data);
  EXPECT_EQ(message.Text()->Strings(), Lines{"See the file:"});
  EXPECT_EQ(dynamic_cast<TclTextBody&>(message.Bodies().Items(2)).Strings(), Lines{"Bye."});
}

// Only a real uuencode block (begin, octal mode, name, encoded lines, end) is one.
struct UuRow {
  std::string name;
  Lines body;
  std::size_t attachments;
  std::size_t textLines;  // lines of all text bodies together
};
void PrintTo(const UuRow& r, std::ostream* os) {
  *os << r.name;
}

class UuencodeBlock : public testing::TestWithParam<UuRow> {};
TEST_P(UuencodeBlock, IsFoundOnlyWhenReal) {
  Lines source{"Subject: s", ""};
  source.insert(source.end(), GetParam().body.begin(), GetParam().body.end());
  TclMailMessage message;
  message.SetMessageSource(source);
  EXPECT_EQ(message.Attachments().size(), GetParam().attachments);
  std::size_t textLines = 0;
  for (int i = 0; i < message.Bodies().Count(); ++i) {
    if (auto* text = dynamic_cast<TclTextBody*>(&message.Bodies().Items(i)))
      textLines += text->Strings().size();
  }
  EXPECT_EQ(textLines, GetParam().textLines);
}
INSTANTIATE_TEST_SUITE_P(
    All, UuencodeBlock,
    testing::Values(
        UuRow{"real_block", {"Hi", "begin 644 a.txt", "%:&5L;&\\`", "`", "end", "Bye"}, 1, 2},
        UuRow{"mode_is_a_year", {"begin 2026 will be busy", "Plans follow.", "end"}, 0, 3},
        UuRow{"mode_not_octal", {"begin 689 a.txt", "%:&5L;&\\`", "`", "end"}, 0, 4},
        UuRow{"no_end_line", {"begin 644 a.txt", "%:&5L;&\\`", "`", "Bye"}, 0, 4},
        UuRow{"text_inside", {"begin 644 a.txt", "This is plain text.", "end"}, 0, 3},
        UuRow{"end_without_begin", {"first", "end", "last"}, 0, 3},
        UuRow{"empty_block", {"begin 600 empty.bin", "end"}, 1, 0},
        UuRow{"two_blocks", {"begin 644 a", "`", "end", "begin 755 b", "`", "end"}, 2, 0}),
    [](const testing::TestParamInfo<UuRow>& info) { return info.param.name; });

TEST(ReadSinglePart, ManyFalseBeginLinesStayLinear) {
  Lines source{"Subject: s", ""};
  for (int i = 0; i < 20000; ++i)
    source.push_back("begin 644 x" + std::to_string(i));
  source.push_back("no end");
  TclMailMessage message;
  message.SetMessageSource(source);
  EXPECT_EQ(message.Attachments().size(), 0u);
  ASSERT_NE(message.Text(), nullptr);
  EXPECT_EQ(message.Text()->Strings().size(), 20001u);
}

// Part headers and boundaries.
struct PartRow {
  std::string name;
  Lines body;        // after the message header (boundary "b")
  std::string want;  // per leaf part: "class type name=data;"
};
void PrintTo(const PartRow& r, std::ostream* os) {
  *os << r.name;
}

std::string DescribeLeaves(const TclMessageBodies& bodies,
                           const std::map<const TclMessageBody*, std::string>& data) {
  std::string out;
  for (int i = 0; i < bodies.Count(); ++i) {
    const TclMessageBody& body = bodies.Items(i);
    if (auto* multipart = dynamic_cast<const TclMultipartBody*>(&body)) {
      out += "[" + DescribeLeaves(multipart->Bodies(), data) + "]";
      continue;
    }
    out += std::string(body.ClassName()) + " " + body.ContentType();
    if (auto* attachment = dynamic_cast<const TclAttachmentBody*>(&body))
      out += " " + attachment->FileName();
    if (auto* text = dynamic_cast<const TclTextBody*>(&body))
      out += "=" + kz::JoinLines(text->Strings(), "|");
    auto it = data.find(&body);
    if (it != data.end())
      out += "=" + it->second;
    out += ";";
  }
  return out;
}

class ReadPart : public testing::TestWithParam<PartRow> {};
TEST_P(ReadPart, Reads) {
  Lines source = Header("b");
  source.insert(source.end(), GetParam().body.begin(), GetParam().body.end());
  TclMailMessage message;
  std::map<const TclMessageBody*, std::shared_ptr<TMemoryStream>> saved;
  message.OnSaveAttachment = [&](TclMailMessage*, TclAttachmentBody* body, const std::string&,
                                 std::shared_ptr<TStream>& out, bool& handled) {
    saved[body] = std::make_shared<TMemoryStream>();
    out = saved[body];
    handled = true;
  };
  message.SetMessageSource(source);
  std::map<const TclMessageBody*, std::string> data;
  for (const auto& [body, stream] : saved)
    data[body] = std::string(stream->Data());
  EXPECT_EQ(DescribeLeaves(message.Bodies(), data), GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(
    All, ReadPart,
    testing::Values(
        PartRow{"stray_line_in_header",
                {"--b", "Content-Type: application/pdf", "this line is no field",
                 "Content-Disposition: attachment; filename=\"a.pdf\"",
                 "Content-Transfer-Encoding: base64", "", "ZGF0YQ==", "--b--"},
                "TclAttachmentBody application/pdf a.pdf=data;"},
        PartRow{
            "field_name_with_space_is_stray",
            {"--b", "Content-Type: text/plain; charset=utf-8", "Bad Name: x", "", "hello", "--b--"},
            "TclTextBody text/plain=hello;"},
        PartRow{"part_without_header",
                {"--b", "just data: with a colon", "more data", "", "after", "--b--"},
                "TclAttachmentBody application/octet-stream =just data: with a colon\r\nmore "
                "data\r\n\r\nafter;"},
        PartRow{"no_transfer_encoding_is_7bit",
                {"--b", "Content-Type: image/png; name=\"a.png\"", "", "ZGF0YQ==", "--b--"},
                "TclImageBody image/png a.png=ZGF0YQ==;"},
        PartRow{"image_name_before_filename",
                {"--b", "Content-Type: image/gif; name=\"from-type.gif\"",
                 "Content-Disposition: inline; filename=\"from-disposition.gif\"",
                 "Content-Transfer-Encoding: base64", "", "R0lG", "--b--"},
                "TclImageBody image/gif from-type.gif=GIF;"},
        PartRow{"attachment_filename_before_name",
                {"--b", "Content-Type: application/pdf; name=\"from-type.pdf\"",
                 "Content-Disposition: attachment; filename=\"from-disposition.pdf\"",
                 "Content-Transfer-Encoding: base64", "", "JVBERg==", "--b--"},
                "TclAttachmentBody application/pdf from-disposition.pdf=%PDF;"},
        PartRow{
            "boundary_prefix_of_inner_boundary",
            {"--b", "Content-Type: multipart/alternative; boundary=\"b-inner\"", "", "--b-inner",
             "Content-Type: text/plain", "", "one", "--b-inner", "Content-Type: text/html", "",
             "<p>two</p>", "--b-inner--", "--b", "Content-Type: application/zip",
             "Content-Transfer-Encoding: base64", "", "UEs=", "--b--"},
            "[TclTextBody text/plain=one;TclTextBody text/html=<p>two</p>;]"
            "TclAttachmentBody application/zip =PK;"},
        PartRow{"boundary_in_the_middle_of_a_line",
                {"--b", "Content-Type: text/plain", "", "see --b here", "x --b--", "--b--"},
                "TclTextBody text/plain=see --b here|x --b--;"},
        PartRow{"boundary_with_trailing_white_space",
                {"--b  ", "Content-Type: text/plain", "", "one", "--b-- \t", "epilogue"},
                "TclTextBody text/plain=one;"},
        PartRow{"boundary_followed_by_text_is_data",
                {"--b", "Content-Type: text/plain", "", "one", "--bx", "--b--"},
                "TclTextBody text/plain=one|--bx;"}),
    [](const testing::TestParamInfo<PartRow>& info) { return info.param.name; });

TEST(ReadSinglePart, ApplicationTypeIsAnAttachmentAndBlankTextIsDropped) {
  TclMailMessage message;
  message.SetMessageSource(Lines{"MIME-Version: 1.0", "Content-Type: application/pdf; name=x.pdf",
                                 "Content-Transfer-Encoding: base64", "", "JVBERg=="});
  ASSERT_EQ(message.Attachments().size(), 1u);
  EXPECT_EQ(message.Attachments()[0]->FileName(), "x.pdf");
  EXPECT_EQ(message.Attachments()[0]->EncodedSize(), 8);
  message.SetMessageSource(Lines{"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b",
                                 "", "--b", "Content-Type: text/plain", "", "  ", "\t", "--b--"});
  EXPECT_EQ(message.Bodies().Count(), 0);
}

TEST(ReadMultipart, TextWithoutCharsetIsReadAsUtf8WhenItIsUtf8) {
  TclMailMessage message;
  message.SetMessageSource(Lines{"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b",
                                 "", "--b", "Content-Type: text/plain",
                                 "Content-Transfer-Encoding: 8bit", "", "Žluťoučký kůň", "--b--"});
  ASSERT_NE(message.Text(), nullptr);
  EXPECT_EQ(message.Text()->Strings(), Lines{"Žluťoučký kůň"});
}

TEST(ReadMultipart, FiresDataAddedForEveryPartAndRecordsPositions) {
  TclMailMessage written;
  written.BuildMessage("one", "<p>two</p>");
  const Lines source = written.MessageSource();
  TclMailMessage message;
  std::vector<std::string> added;
  message.OnDataAdded = [&](TclMailMessage*, TclMessageBody* body, TStream& data) {
    added.push_back(body->ContentType() + "=" + data.ReadAll());
  };
  message.SetMessageSource(source);
  EXPECT_EQ(added, (std::vector<std::string>{"text/plain=one", "text/html=<p>two</p>"}));
  const TclMessageBody& html = message.Bodies().Items(1);
  EXPECT_EQ(source.at(static_cast<std::size_t>(html.EncodedStart())), "<p>two</p>");
  EXPECT_EQ(source.at(static_cast<std::size_t>(html.RawStart())), "Content-Type: text/html;");
}

// ------------------------------------------------------------------------------------------
// Hostile input: the reader finishes, keeps within limits and loses no readable part.

int Depth(const TclMessageBodies& bodies) {
  int depth = 0;
  for (int i = 0; i < bodies.Count(); ++i) {
    if (auto* multipart = dynamic_cast<TclMultipartBody*>(&bodies.Items(i)))
      depth = std::max(depth, 1 + Depth(multipart->Bodies()));
  }
  return depth;
}

struct HostileRow {
  std::string name;
  Lines (*make)();
  void (*check)(const TclMailMessage&, std::int64_t savedBytes);
};
void PrintTo(const HostileRow& r, std::ostream* os) {
  *os << r.name;
}

class HostileSource : public testing::TestWithParam<HostileRow> {};
TEST_P(HostileSource, IsReadSafely) {
  const Lines source = GetParam().make();
  TclMailMessage message;
  std::int64_t saved = 0;
  message.OnSaveAttachment = [&](TclMailMessage*, TclAttachmentBody*, const std::string&,
                                 std::shared_ptr<TStream>& data, bool& handled) {
    data = std::make_shared<TMemoryStream>();
    handled = true;
    ++saved;
  };
  message.OnDataAdded = [&](TclMailMessage*, TclMessageBody* body, TStream& data) {
    if (dynamic_cast<TclAttachmentBody*>(body) != nullptr)
      saved += data.Size() * 1000;
  };
  message.SetMessageSource(source);
  GetParam().check(message, saved);
}
INSTANTIATE_TEST_SUITE_P(
    All, HostileSource,
    testing::Values(HostileRow{"nested_ten_thousand_deep",
                               [] {
                                 Lines s = Header("b0");
                                 for (int i = 1; i <= 10000; ++i) {
                                   s.push_back("--b" + std::to_string(i - 1));
                                   s.push_back("Content-Type: multipart/mixed; boundary=\"b" +
                                               std::to_string(i) + "\"");
                                   s.emplace_back();
                                 }
                                 s.push_back("--b10000");
                                 s.push_back("Content-Type: text/plain");
                                 s.emplace_back();
                                 s.push_back("deep text");
                                 return s;
                               },
                               [](const TclMailMessage& m, std::int64_t saved) {
                                 EXPECT_EQ(Depth(m.Bodies()), TclMailMessage::kMaxNestingDepth - 1);
                                 // The part below the limit is kept as attachment data.
                                 EXPECT_GT(saved, 1000);
                               }},
                    HostileRow{"boundary_never_closes",
                               [] {
                                 Lines s = Header("open");
                                 s.insert(s.end(), {"--open", "Content-Type: text/plain", "",
                                                    "first", "--open", "Content-Type: text/plain",
                                                    "", "last line", "more"});
                                 return s;
                               },
                               [](const TclMailMessage& m, std::int64_t) {
                                 ASSERT_EQ(m.Bodies().Count(), 2);
                                 EXPECT_EQ(
                                     dynamic_cast<TclTextBody&>(m.Bodies().Items(1)).Strings(),
                                     (Lines{"last line", "more"}));
                               }},
                    HostileRow{"part_without_header",
                               [] {
                                 Lines s = Header("b");
                                 s.insert(s.end(), {"--b", "no header here", "second line", "--b",
                                                    "Content-Type: text/plain", "", "ok", "--b--"});
                                 return s;
                               },
                               [](const TclMailMessage& m, std::int64_t saved) {
                                 ASSERT_EQ(m.Bodies().Count(), 2);
                                 EXPECT_EQ(m.Bodies().Items(0).ClassName(), "TclAttachmentBody");
                                 // "no header here\r\nsecond line" kept as data
                                 EXPECT_EQ(saved, 1 + 27 * 1000);
                                 EXPECT_EQ(m.Text()->Strings(), Lines{"ok"});
                               }},
                    HostileRow{"hundred_megabyte_line",
                               [] {
                                 Lines s = Header("b");
                                 s.insert(s.end(), {"--b", "Content-Type: application/octet-stream",
                                                    "", std::string(100 << 20, 'x'), "--b--"});
                                 return s;
                               },
                               [](const TclMailMessage& m, std::int64_t saved) {
                                 ASSERT_EQ(m.Attachments().size(), 1u);
                                 EXPECT_EQ(m.Attachments()[0]->EncodedSize(), 100 << 20);
                                 EXPECT_EQ(saved, 1 + (std::int64_t{100} << 20) * 1000);
                               }},
                    HostileRow{"hundred_thousand_tiny_parts",
                               [] {
                                 Lines s = Header("b");
                                 for (int i = 0; i < 100000; ++i)
                                   s.insert(s.end(), {"--b", "Content-Type: text/plain", "", "x"});
                                 return s;
                               },
                               [](const TclMailMessage& m, std::int64_t) {
                                 EXPECT_EQ(m.Bodies().Count(), 100000);
                               }},
                    HostileRow{"header_only", [] { return Lines{"Subject: x"}; },
                               [](const TclMailMessage& m, std::int64_t) {
                                 EXPECT_EQ(m.Subject(), "x");
                                 EXPECT_EQ(m.Bodies().Count(), 0);
                               }}),
    [](const testing::TestParamInfo<HostileRow>& info) { return info.param.name; });

// ------------------------------------------------------------------------------------------
// Saving attachments never writes outside the chosen folder.

struct SaveRow {
  std::string name;
  std::string fileName;  // as written in the part header
  std::string want;      // the file created in the folder
};
void PrintTo(const SaveRow& r, std::ostream* os) {
  *os << r.name;
}

class SaveAttachment : public testing::TestWithParam<SaveRow> {};
TEST_P(SaveAttachment, StaysInsideTheFolder) {
  ScratchDir dir;
  const std::string folder = dir.path() + "/in";
  std::filesystem::create_directory(folder);
  Lines source = Header("b");
  source.insert(source.end(),
                {"--b", "Content-Type: application/octet-stream",
                 "Content-Disposition: attachment; filename=\"" + GetParam().fileName + "\"",
                 "Content-Transfer-Encoding: base64", "", "ZGF0YQ==", "--b--"});
  TclMailMessage message;
  TclAttachmentSaver saver(folder);
  saver.Attach(message);
  message.SetMessageSource(source);
  ASSERT_EQ(saver.SavedFiles().size(), 1u);
  EXPECT_EQ(saver.SavedFiles()[0].Path, folder + "/" + GetParam().want);
  EXPECT_EQ(ReadFile(folder + "/" + GetParam().want), "data");
  // Nothing but the folder itself was created next to it.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}
INSTANTIATE_TEST_SUITE_P(
    All, SaveAttachment,
    testing::Values(SaveRow{"plain", "report.pdf", "report.pdf"},
                    SaveRow{"parent_folders", "../../evil.txt", "evil.txt"},
                    SaveRow{"absolute", "/etc/passwd", "passwd"},
                    SaveRow{"windows_path", "C:\\\\Users\\\\x\\\\a.doc", "a.doc"},
                    SaveRow{"dot_dot", "..", "_"},
                    SaveRow{"encoded_traversal", "=?UTF-8?Q?=2E=2E=2Fx=2Etxt?=", "x.txt"},
                    SaveRow{"special_characters", "a*b?c|d<e>.txt", "a_b_c_d_e_.txt"}),
    [](const testing::TestParamInfo<SaveRow>& info) { return info.param.name; });

TEST(SaveAttachment, NeverOverwritesOrFollowsLinks) {
  ScratchDir dir;
  const std::string outside = dir.Write("outside.txt", "keep");
  std::filesystem::create_directory(dir.path() + "/in");
  std::filesystem::create_symlink(outside, dir.path() + "/in/a.txt");
  TclAttachmentSaver saver(dir.path() + "/in");
  EXPECT_EQ(saver.CreateFile("a.txt"), dir.path() + "/in/a (2).txt");
  EXPECT_EQ(saver.CreateFile("a.txt"), dir.path() + "/in/a (3).txt");
  EXPECT_EQ(saver.CreateFile(""), dir.path() + "/in/attachment");
  EXPECT_EQ(ReadFile(outside), "keep");
}

// Names longer than a file system takes are cut, keeping the extension and whole characters.
struct FitRow {
  std::string name;
  std::string fileName;
  int number;
  std::size_t limit;
  std::string want;
};
void PrintTo(const FitRow& r, std::ostream* os) {
  *os << r.name;
}

class FitFileName : public testing::TestWithParam<FitRow> {};
TEST_P(FitFileName, Is) {
  const FitRow& r = GetParam();
  const std::string got = TclAttachmentSaver::FitFileName(r.fileName, r.number, r.limit);
  EXPECT_EQ(got, r.want);
  EXPECT_LE(got.size(), r.limit);
}
INSTANTIATE_TEST_SUITE_P(
    All, FitFileName,
    testing::Values(FitRow{"short", "a.txt", 1, 255, "a.txt"},
                    FitRow{"short_numbered", "a.txt", 2, 255, "a (2).txt"},
                    FitRow{"no_extension_numbered", "README", 3, 255, "README (3)"},
                    FitRow{"dot_file", ".profile", 2, 255, ".profile (2)"},
                    FitRow{"exactly_the_limit", std::string(251, 'a') + ".txt", 1, 255,
                           std::string(251, 'a') + ".txt"},
                    FitRow{"one_over", std::string(252, 'a') + ".txt", 1, 255,
                           std::string(251, 'a') + ".txt"},
                    FitRow{"numbered_at_the_limit", std::string(300, 'a') + ".txt", 12, 255,
                           std::string(246, 'a') + " (12).txt"},
                    // "č" is two bytes: 9 bytes of room keep four of them, never half of one.
                    FitRow{"whole_utf8_characters", "ččččččč.pdf", 1, 13, "čččč.pdf"},
                    FitRow{"three_byte_characters", "€€€€.txt", 1, 9, "€.txt"},
                    FitRow{"long_extension_is_cut_too", "a." + std::string(300, 'x'), 1, 255,
                           "a." + std::string(253, 'x')}),
    [](const testing::TestParamInfo<FitRow>& info) { return info.param.name; });

// A source with three attachments; the middle one has a name far too long for a file system.
Lines ThreeAttachments(const std::string& middleName) {
  Lines source = Header("b");
  const std::string names[] = {"first.txt", middleName, "third.bin"};
  const std::string data[] = {"Zmlyc3Q=", "bWlkZGxl", "dGhpcmQ="};  // first, middle, third
  for (int i = 0; i < 3; ++i) {
    source.insert(source.end(), {"--b", "Content-Type: application/octet-stream",
                                 "Content-Disposition: attachment; filename=\"" + names[i] + "\"",
                                 "Content-Transfer-Encoding: base64", "", data[i]});
  }
  source.push_back("--b--");
  return source;
}

TEST(SaveAttachment, LongNameIsShortenedAndSaved) {
  ScratchDir dir;
  std::string name;
  while (name.size() < 400)
    name += "příliš dlouhý název ";
  name += ".pdf";
  TclMailMessage message;
  TclAttachmentSaver saver(dir.path());
  saver.Attach(message);
  message.SetMessageSource(ThreeAttachments(name));
  ASSERT_EQ(saver.SavedFiles().size(), 3u);
  const std::string saved = saver.SavedFiles()[1].Path.substr(dir.path().size() + 1);
  EXPECT_LE(saved.size(), 255u);
  EXPECT_GE(saved.size(), 250u);
  EXPECT_TRUE(saved.ends_with(".pdf")) << saved;
  EXPECT_TRUE(name.starts_with(saved.substr(0, saved.size() - 4)));
  EXPECT_EQ(ReadFile(saver.SavedFiles()[1].Path), "middle");
  EXPECT_EQ(ReadFile(saver.SavedFiles()[2].Path), "third");
  EXPECT_EQ(message.Attachments()[1]->SaveError(), "");
}

// A stream that refuses to be written, as a full disk does.
class FullDiskStream : public TStream {
 public:
  using TStream::Write;
  std::size_t Read(std::span<char>) override { return 0; }
  std::size_t Write(std::span<const char>) override {
    throw EclError("No space left on device", 28);
  }
  std::int64_t Seek(std::int64_t, SeekOrigin) override { return 0; }
  std::int64_t Size() override { return 0; }
  void SetSize(std::int64_t) override {}
};

TEST(SaveAttachment, OneThatFailsDoesNotStopTheOthers) {
  TclMailMessage message;
  std::vector<std::shared_ptr<TMemoryStream>> streams;
  message.OnSaveAttachment = [&](TclMailMessage*, TclAttachmentBody*, const std::string& name,
                                 std::shared_ptr<TStream>& data, bool& handled) {
    if (name == "middle.doc") {
      data = std::make_shared<FullDiskStream>();
    } else {
      streams.push_back(std::make_shared<TMemoryStream>());
      data = streams.back();
    }
    handled = true;
  };
  message.SetMessageSource(ThreeAttachments("middle.doc"));
  ASSERT_EQ(message.Attachments().size(), 3u);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0]->Data(), "first");
  EXPECT_EQ(streams[1]->Data(), "third");
  EXPECT_EQ(message.Attachments()[0]->SaveError(), "");
  EXPECT_EQ(message.Attachments()[1]->SaveError(),
            "Cannot save attachment \"middle.doc\": No space left on device");
  EXPECT_EQ(message.Attachments()[1]->SaveErrorCode(), 28);
  EXPECT_EQ(message.Attachments()[2]->SaveError(), "");
}

TEST(SaveAttachment, FolderThatCannotTakeFilesNamesEachAttachment) {
  TclMailMessage message;
  TclAttachmentSaver saver("/nonexistent-kadenza-folder");
  saver.Attach(message);
  message.SetMessageSource(ThreeAttachments("middle.doc"));
  ASSERT_EQ(message.Attachments().size(), 3u);
  EXPECT_EQ(message.Attachments()[2]->SaveError(),
            "Cannot save attachment \"third.bin\": Cannot create file "
            "\"/nonexistent-kadenza-folder/third.bin\": No such file or directory");
  EXPECT_EQ(message.Attachments()[2]->SaveErrorCode(), ENOENT);
}

// ------------------------------------------------------------------------------------------
// The persisted body list.

std::string Stored(const TclMessageBodies& bodies) {
  TMemoryStream stream;
  SaveBodies(bodies, stream);
  return stream.TakeData();
}

TEST(BodyStore, RoundTripsEveryBodyClass) {
  ScratchDir dir;
  TclMailMessage message;
  message.SetCharSet("UTF-8");
  const std::vector<std::string> images{dir.Write("logo.png", "\x89PNG\r\n\x1a\n")};
  const std::vector<std::string> files{dir.Write("přihláška.pdf", "%PDF\x01")};
  message.BuildMessage("Dobrý den\r\nřádek 2", "<p>HTML</p>", images, files);
  message.Bodies().Items(1).SetExtraFields({"X-One: 1", "X-Two: 2"});
  message.Bodies().Items(1).SetContentDisposition("attachment");
  const std::string stored = Stored(message.Bodies());

  TclMailMessage loaded;
  TMemoryStream stream(stored);
  LoadBodies(loaded.Bodies(), stream);
  EXPECT_EQ(Stored(loaded.Bodies()), stored);
  EXPECT_EQ(loaded.Html()->Text(), message.Html()->Text());
  EXPECT_EQ(loaded.Text()->CharSet(), "UTF-8");
  ASSERT_EQ(loaded.Images().size(), 1u);
  EXPECT_EQ(loaded.Images()[0]->ContentID(), message.Images()[0]->ContentID());
  EXPECT_EQ(loaded.Attachments()[0]->FileName(), files[0]);
  EXPECT_EQ(loaded.Bodies().Items(1).ExtraFields(), (Lines{"X-One: 1", "X-Two: 2"}));
  EXPECT_EQ(loaded.Bodies().Items(1).OwnEncoding(), message.Bodies().Items(1).OwnEncoding());
  auto& related = dynamic_cast<TclMultipartBody&>(loaded.Bodies().Items(0));
  EXPECT_EQ(related.ContentSubType(), "multipart/alternative");
  // The loaded list writes the same message parts.
  loaded.SetCharSet("UTF-8");
  loaded.SetContentType("multipart/mixed");
  EXPECT_EQ(loaded.MessageSource().size(), message.MessageSource().size());
}

class BodyStoreInvalid : public testing::TestWithParam<std::string> {};
TEST_P(BodyStoreInvalid, RaisesAndKeepsTheListUsable) {
  TclMailMessage message;
  TMemoryStream stream(GetParam());
  try {
    LoadBodies(message.Bodies(), stream);
    FAIL() << "accepted";
  } catch (const EclMailMessageError& e) {
    EXPECT_STREQ(e.what(), "Invalid body list data");
  }
  message.Bodies().AddText("still works");
  EXPECT_FALSE(message.MessageSource().empty());
}
INSTANTIATE_TEST_SUITE_P(All, BodyStoreInvalid,
                         testing::Values("", "5:Items\n", "5:Itemz\n1:0\n",
                                         "5:Items\n1:1\n7:TclNope\n",
                                         "5:Items\n1:1\n11:TclTextBody\n999:x\n", "5:Items\n2:-1\n",
                                         "5:Items\n1:1\n11:TclTextBody\n0:\n0:\n0:\n0:\n1:9\n0:\n",
                                         "5:Items\n1:1\n11:TclTextBody\n0:\n0:\n0:\n0:\n1:x\n0:\n",
                                         "5:Items\n99999999999999999999:"),
                         testsupport::PrintedName());

TEST(BodyStore, RefusesNestingBeyondTheLimit) {
  std::string data = "5:Items\n";
  for (int i = 0; i < 100; ++i)
    data += "1:1\n16:TclMultipartBody\n0:\n";
  TclMailMessage message;
  TMemoryStream stream(data);
  EXPECT_THROW(LoadBodies(message.Bodies(), stream), EclMailMessageError);
}

}  // namespace
