// The message writer: bodies, BuildMessage shapes, header lines, change tracking, and the
// rules that keep every written message well formed (line length, boundaries, file names).
#include "mail/clMailMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "MailTestFiles.h"
#include "core/StringUtils.h"
#include "support/CaseName.h"

namespace {

using M = TclEncodeMethod;
using Lines = std::vector<std::string>;
using mailtest::ScratchDir;

// The lines of the header (up to the first empty line).
Lines Header(const Lines& source) {
  Lines out;
  for (const std::string& line : source) {
    if (line.empty())
      break;
    out.push_back(line);
  }
  return out;
}

std::string Field(const Lines& source, const std::string& name) {
  TclHeaderFieldList fields;
  GetHeaderFieldList(0, source, fields);
  return GetHeaderFieldValue(source, fields, name);
}

int CountLines(const Lines& lines, const std::string& text) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

std::string_view BaseNameOf(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The body tree as text: T(type) for text, A(name), I(name), M(type)[...].
std::string Shape(const TclMessageBodies& bodies) {
  std::string out;
  for (int i = 0; i < bodies.Count(); ++i) {
    if (i > 0)
      out += ",";
    TclMessageBody& body = bodies.Items(i);
    if (auto* multipart = dynamic_cast<TclMultipartBody*>(&body)) {
      out += "M(" + multipart->ContentType() + ")[" + Shape(multipart->Bodies()) + "]";
    } else if (auto* image = dynamic_cast<TclImageBody*>(&body)) {
      out += "I(" + std::string(BaseNameOf(image->FileName())) + ")";
    } else if (auto* attachment = dynamic_cast<TclAttachmentBody*>(&body)) {
      out += "A(" + std::string(BaseNameOf(attachment->FileName())) + ")";
    } else {
      out += "T(" + body.ContentType() + ")";
    }
  }
  return out;
}

// ------------------------------------------------------------------------------------------
// Text bodies choose their encoding from their text.

struct AddTextRow {
  std::string name;
  std::string text;
  M want;
};
void PrintTo(const AddTextRow& r, std::ostream* os) {
  *os << r.name;
}

class AddTextEncoding : public testing::TestWithParam<AddTextRow> {};
TEST_P(AddTextEncoding, ChoosesFromText) {
  TclMailMessage message;
  TclTextBody& body = message.Bodies().AddText(GetParam().text);
  EXPECT_EQ(body.OwnEncoding(), GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(All, AddTextEncoding,
                         testing::Values(AddTextRow{"short_ascii_stays_7bit", "Hello\r\nworld",
                                                    M::cmNone},
                                         AddTextRow{"czech_is_quoted_printable",
                                                    "Dobrý den, příteli", M::cmQuotedPrintable},
                                         AddTextRow{"tab_is_base64", "a\tb", M::cmBase64},
                                         AddTextRow{"long_line_is_quoted_printable",
                                                    std::string(100, 'x'), M::cmQuotedPrintable}),
                         testsupport::RowName());

// ------------------------------------------------------------------------------------------
// BuildMessage gives the documented body tree for every combination.

struct ShapeRow {
  std::string name;
  std::string text;
  std::string html;
  int images;
  int attachments;
  std::string contentType;
  std::string contentSubType;
  std::string shape;
};
void PrintTo(const ShapeRow& r, std::ostream* os) {
  *os << r.name;
}

class BuildShape : public testing::TestWithParam<ShapeRow> {};
TEST_P(BuildShape, BuildsTree) {
  const ShapeRow& r = GetParam();
  ScratchDir dir;
  std::vector<std::string> images, attachments;
  std::string html = r.html;
  for (int i = 0; i < r.images; ++i) {
    images.push_back(dir.Write("pic" + std::to_string(i) + ".png", "\x89PNG\r\n\x1a\n"));
    html += "<img src=\"" + images.back() + "\">";
  }
  for (int i = 0; i < r.attachments; ++i)
    attachments.push_back(dir.Write("file" + std::to_string(i) + ".bin", "\x01\x02"));
  TclMailMessage message;
  message.SetCharSet("UTF-8");
  message.BuildMessage(r.text, html, images, attachments);
  EXPECT_EQ(message.ContentType(), r.contentType);
  EXPECT_EQ(message.ContentSubType(), r.contentSubType);
  EXPECT_EQ(Shape(message.Bodies()), r.shape);
  EXPECT_EQ(message.CharSet(), "UTF-8");
  // Images are referenced by content ID instead of by file name.
  for (TclImageBody* image : message.Images()) {
    const std::string htmlText = message.Html()->Text();
    EXPECT_NE(htmlText.find("cid:" + image->ContentID()), std::string::npos);
    EXPECT_EQ(htmlText.find(image->FileName()), std::string::npos);
  }
}
INSTANTIATE_TEST_SUITE_P(
    All, BuildShape,
    testing::Values(
        ShapeRow{"text_only", "Hi", "", 0, 0, "text/plain", "", "T(text/plain)"},
        ShapeRow{"html_only", "", "<p>Hi</p>", 0, 0, "text/html", "", "T(text/html)"},
        ShapeRow{"text_and_html", "Hi", "<p>Hi</p>", 0, 0, "multipart/alternative", "",
                 "T(text/plain),T(text/html)"},
        ShapeRow{"text_and_files", "Hi", "", 0, 2, "multipart/mixed", "",
                 "T(text/plain),A(file0.bin),A(file1.bin)"},
        ShapeRow{"files_only", "", "", 0, 1, "multipart/mixed", "", "T(text/plain),A(file0.bin)"},
        ShapeRow{"both_texts_and_files", "Hi", "<p>Hi</p>", 0, 2, "multipart/mixed", "",
                 "M(multipart/alternative)[T(text/plain),T(text/html)],A(file0.bin),A(file1.bin)"},
        ShapeRow{"html_with_images", "", "<p>Hi</p>", 2, 0, "multipart/related", "text/html",
                 "T(text/html),I(pic0.png),I(pic1.png)"},
        ShapeRow{"both_texts_with_images", "Hi", "<p>Hi</p>", 1, 0, "multipart/related",
                 "multipart/alternative",
                 "M(multipart/alternative)[T(text/plain),T(text/html)],I(pic0.png)"},
        ShapeRow{"images_and_files", "Hi", "<p>Hi</p>", 1, 1, "multipart/mixed", "",
                 "M(multipart/related)[M(multipart/alternative)[T(text/plain),T(text/html)],"
                 "I(pic0.png)],A(file0.bin)"}),
    testsupport::RowName());

TEST(BuildMessage, RefusesMissingContentAndChangesNothing) {
  TclMailMessage message;
  message.BuildMessage("keep", "");
  message.SetSubject("S");
  EXPECT_THROW(message.BuildMessage("", "", {}, {}), std::invalid_argument);
  const std::vector<std::string> images{"x.png"};
  EXPECT_THROW(message.BuildMessage("text", "", images, {}), std::invalid_argument);
  EXPECT_EQ(message.Subject(), "S");
  ASSERT_EQ(message.Bodies().Count(), 1);
  EXPECT_EQ(message.Text()->Text(), "keep");
}

// ------------------------------------------------------------------------------------------
// Header lines.

struct PriorityRow {
  TclMessagePriority priority;
  std::string importance;
  std::string xPriority;
};
void PrintTo(const PriorityRow& r, std::ostream* os) {
  *os << r.xPriority;
}

class PriorityHeader : public testing::TestWithParam<PriorityRow> {};
TEST_P(PriorityHeader, WritesBothFields) {
  TclMailMessage message;
  message.BuildMessage("Hi", "");
  message.SetPriority(GetParam().priority);
  const Lines header = Header(message.MessageSource());
  EXPECT_EQ(Field(header, "Importance"), GetParam().importance);
  EXPECT_EQ(Field(header, "X-Priority"), GetParam().xPriority);
}
INSTANTIATE_TEST_SUITE_P(All, PriorityHeader,
                         testing::Values(PriorityRow{TclMessagePriority::mpLow, "Low", "5"},
                                         PriorityRow{TclMessagePriority::mpNormal, "", "3"},
                                         PriorityRow{TclMessagePriority::mpHigh, "High", "1"}),
                         testsupport::PrintedName());

TEST(MessageHeader, WritesFieldsInOrderAndLeavesEmptyOnesOut) {
  TclMailMessage message;
  message.SetCharSet("UTF-8");
  message.BuildMessage("Hello", "");
  message.SetFrom("Jan Novák <jan@example.cz>");
  message.ToList().Add("a@example.cz");
  message.ToList().Add("b@example.cz", "Bob Brown");
  message.BCCList().Add("hidden@example.cz");
  message.SetSubject("Report");
  message.SetDate(kz::EncodeDateTime(2026, 12, 8, 2, 5, 7));
  const Lines header = Header(message.MessageSource());
  ASSERT_GE(header.size(), 9u);
  EXPECT_EQ(header[0], "From: =?UTF-8?Q?Jan_Nov=C3=A1k?= <jan@example.cz>");
  EXPECT_EQ(header[1], "To: a@example.cz,");
  EXPECT_EQ(header[2], "\t\"Bob Brown\" <b@example.cz>");
  EXPECT_EQ(header[3], "Bcc: hidden@example.cz");
  EXPECT_EQ(header[4], "Subject: Report");
  EXPECT_TRUE(kz::StartsWith(header[5], "Date: Tue, 8 Dec 2026 02:05:07 ")) << header[5];
  EXPECT_EQ(header[6], "MIME-Version: 1.0");
  EXPECT_EQ(header[7], "Content-Type: text/plain;");
  EXPECT_EQ(header[8], "\tcharset=\"UTF-8\"");
  EXPECT_EQ(Field(header, "Content-Transfer-Encoding"), "7bit");
  for (const char* absent : {"Reply-To", "Message-ID", "Cc", "Importance", "Content-Disposition"})
    EXPECT_EQ(Field(header, absent), "") << absent;
  // No line of the header has a stray line break.
  for (const std::string& line : header)
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
}

TEST(MessageHeader, WithoutRfc822HeaderOnlyMimeFields) {
  TclMailMessage message;
  message.BuildMessage("Hello", "");
  message.SetSubject("x");
  message.SetIncludeRFC822Header(false);
  const Lines header = Header(message.MessageSource());
  EXPECT_EQ(Field(header, "Subject"), "");
  EXPECT_EQ(Field(header, "X-Priority"), "");
  EXPECT_EQ(Field(header, "Content-Type"), "text/plain; charset=\"iso-8859-1\"");
}

// ------------------------------------------------------------------------------------------
// Single part and multipart bodies.

TEST(MessageSource, TextOnlyIsOnePartWithTheHeaderEncoding) {
  TclMailMessage message;
  message.BuildMessage("Hello\r\nworld", "");
  const Lines& source = message.MessageSource();
  const auto empty = std::find(source.begin(), source.end(), "");
  ASSERT_NE(empty, source.end());
  EXPECT_EQ(Lines(empty + 1, source.end()), (Lines{"Hello", "world"}));
  EXPECT_EQ(std::count_if(source.begin(), source.end(),
                          [](const std::string& l) { return kz::StartsWith(l, "--"); }),
            0);
}

TEST(MessageSource, CzechSinglePartIsEncodedAndLabelledSo) {
  TclMailMessage message;
  message.SetCharSet("UTF-8");
  message.BuildMessage("Příliš žluťoučký kůň", "");
  const Lines& source = message.MessageSource();
  EXPECT_EQ(Field(Header(source), "Content-Transfer-Encoding"), "quoted-printable");
  EXPECT_EQ(source.back(), "P=C5=99=C3=ADli=C5=A1 =C5=BElu=C5=A5ou=C4=8Dk=C3=BD k=C5=AF=C5=88");
}

TEST(MessageSource, OneWordHasNoTrailingLineBreak) {
  TclMailMessage message;
  TclTextBody& body = message.Bodies().AddText("word");
  EXPECT_EQ(body.OpenSourceData()->ReadAll(), "word");
}

TEST(MessageSource, ReadTwiceGivesTheSameLinesUntilAChange) {
  ScratchDir dir;
  TclMailMessage message;
  const std::vector<std::string> files{dir.Write("a.bin", "\x01")};
  message.BuildMessage("Hi", "<b>Hi</b>", {}, files);
  const Lines first = message.MessageSource();
  EXPECT_EQ(message.MessageSource(), first);
  int changes = 0;
  message.OnChanged = [&](TclMailMessage*) { ++changes; };
  message.SetSubject("new");
  EXPECT_EQ(changes, 1);
  EXPECT_NE(message.MessageSource(), first);
  // Several changes inside BeginUpdate/EndUpdate notify once.
  message.BeginUpdate();
  message.SetSubject("a");
  message.SetReplyTo("r@example.cz");
  EXPECT_EQ(changes, 1);
  message.EndUpdate();
  EXPECT_EQ(changes, 2);
}

TEST(MessageSource, NestedAlternativeIsFollowedByTwoEmptyLines) {
  ScratchDir dir;
  TclMailMessage message;
  const std::vector<std::string> files{dir.Write("a.bin", std::string(100, '\x01'))};
  message.BuildMessage("Hi", "<b>Hi</b>", {}, files);
  const Lines& source = message.MessageSource();
  const std::string outer = "--" + message.Boundary();
  auto part = std::find(source.begin(), source.end(), outer);
  ASSERT_NE(part, source.end());
  EXPECT_EQ(part[1], "Content-Type: multipart/alternative;");
  EXPECT_TRUE(kz::StartsWith(part[2], "\tboundary=\"Mark=_")) << part[2];
  EXPECT_EQ(part[3], "");
  EXPECT_EQ(part[4], "");
  EXPECT_EQ(CountLines(source, outer), 2);
  EXPECT_EQ(CountLines(source, outer + "--"), 1);
  EXPECT_EQ(source[source.size() - 1], outer + "--");
}

TEST(MessageSource, MissingAttachmentFailsWithTheFileError) {
  TclMailMessage message;
  const std::vector<std::string> files{"/nonexistent/folder/file.pdf"};
  message.BuildMessage("Hi", files);
  try {
    message.MessageSource();
    FAIL() << "no error";
  } catch (const EclError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/folder/file.pdf"), std::string::npos);
    EXPECT_EQ(e.ErrorCode, ENOENT);
  }
}

TEST(MessageSource, LoadAttachmentEventSuppliesTheData) {
  TclMailMessage message;
  message.OnLoadAttachment = [](TclMailMessage*, TclAttachmentBody*, const std::string& name,
                                std::shared_ptr<TStream>& data, bool& handled) {
    data = std::make_shared<TMemoryStream>("data of " + name);
    handled = true;
  };
  const std::vector<std::string> files{"virtual.txt"};
  message.BuildMessage("Hi", files);
  const Lines& source = message.MessageSource();
  EXPECT_EQ(CountLines(source, "data of virtual.txt"), 1);
}

// ------------------------------------------------------------------------------------------
// Attachment headers: names without folders, in the message's charset, always one field.

struct NameRow {
  std::string name;
  std::string file;
  std::string charSet;
  std::string wantType;         // the Content-Type value, unfolded
  std::string wantDisposition;  // the Content-Disposition value, unfolded
};
void PrintTo(const NameRow& r, std::ostream* os) {
  *os << r.name;
}

class AttachmentName : public testing::TestWithParam<NameRow> {};
TEST_P(AttachmentName, WritesParameters) {
  const NameRow& r = GetParam();
  TclMailMessage message;
  message.SetCharSet(r.charSet);
  message.OnLoadAttachment = [](TclMailMessage*, TclAttachmentBody*, const std::string&,
                                std::shared_ptr<TStream>& data, bool& handled) {
    data = std::make_shared<TMemoryStream>(std::string("\x01\x02"));
    handled = true;
  };
  TclMultipartBody& multipart = message.Bodies().AddMultipart();
  multipart.Bodies().AddText("inner text");
  multipart.Bodies().AddAttachment(r.file);
  message.Bodies().AddText("outer text");
  const Lines& source = message.MessageSource();
  // Find the attachment's part header inside the nested multipart.
  const std::string type = "Content-Type: " + r.wantType.substr(0, r.wantType.find(';'));
  auto it = source.begin();
  for (; it != source.end(); ++it) {
    const bool named = it->find("name=") != std::string::npos ||
                       (it + 1 != source.end() && (*(it + 1))[0] == '\t' &&
                        (it + 1)->find("name=") != std::string::npos);
    if (kz::StartsWith(*it, type) && named)
      break;
  }
  ASSERT_NE(it, source.end());
  Lines part;
  for (; it != source.end() && !it->empty(); ++it) {
    EXPECT_LE(it->size(), 76u) << *it;
    part.push_back(*it);
  }
  EXPECT_EQ(Field(part, "Content-Type"), r.wantType);
  EXPECT_EQ(Field(part, "Content-Disposition"), r.wantDisposition);
  TclHeaderFieldList fields;
  GetHeaderFieldList(0, part, fields);
  EXPECT_EQ(fields.size(), 3u);  // type, encoding, disposition: nothing split off
}
INSTANTIATE_TEST_SUITE_P(
    All, AttachmentName,
    testing::Values(
        NameRow{"folder_dropped", "/home/jan/docs/report.pdf", "UTF-8",
                "application/pdf; name=\"report.pdf\"", "attachment; filename=\"report.pdf\""},
        NameRow{"windows_folder_dropped", "C:\\Data\\report.pdf", "UTF-8",
                "application/pdf; name=\"report.pdf\"", "attachment; filename=\"report.pdf\""},
        NameRow{"nested_name_keeps_czech_letters", "přihláška.pdf", "UTF-8",
                "application/pdf; name=\"=?UTF-8?B?cMWZaWhsw6HFoWthLnBkZg==?=\"",
                "attachment; filename*=UTF-8''p%C5%99ihl%C3%A1%C5%A1ka.pdf"},
        NameRow{"iso_8859_2_name", "přihláška.pdf", "iso-8859-2",
                "application/pdf; name=\"=?iso-8859-2?B?cPhpaGzhuWthLnBkZg==?=\"",
                "attachment; filename*=iso-8859-2''p%F8ihl%E1%B9ka.pdf"},
        NameRow{"quotes_and_line_breaks_stay_inside", "a\"b\r\nBcc: x@y.cz.txt", "UTF-8",
                "text/plain; name=\"=?UTF-8?B?YSJiDQpCY2M6IHhAeS5jei50eHQ=?=\"",
                "attachment; filename*=UTF-8''a%22b%0D%0ABcc%3A%20x%40y.cz.txt"}),
    testsupport::RowName());

TEST(AttachmentName, LongNameIsContinued) {
  TclMailMessage message;
  message.SetCharSet("UTF-8");
  TclAttachmentBody& body =
      message.Bodies().AddAttachment(std::string(40, 'z') + "ř" + std::string(80, 'y') + ".pdf");
  Lines lines;
  body.WriteBodyHeader(lines);
  for (const std::string& line : lines)
    EXPECT_LE(line.size(), 76u) << line;
  const std::string disposition = Field(lines, "Content-Disposition");
  EXPECT_NE(disposition.find("filename*0*=UTF-8''zzz"), std::string::npos) << disposition;
  EXPECT_NE(disposition.find("filename*1*="), std::string::npos) << disposition;
}

TEST(ImageBody, TakesTypeAndContentIdFromTheFile) {
  ScratchDir dir;
  TclMailMessage message;
  TclImageBody& image = message.Bodies().AddImage(dir.Write("logo.png", "\x89PNG\r\n\x1a\n"));
  EXPECT_EQ(image.ContentType(), "image/png");
  EXPECT_TRUE(kz::StartsWith(image.ContentID(), "logo.png@")) << image.ContentID();
  EXPECT_EQ(image.OwnEncoding(), M::cmBase64);
  Lines lines;
  image.WriteBodyHeader(lines);
  EXPECT_EQ(Field(lines, "Content-Disposition"), "");
  EXPECT_EQ(Field(lines, "Content-ID"), "<" + image.ContentID() + ">");
}

// ------------------------------------------------------------------------------------------
// Every written line stays within 998 octets; a boundary never occurs in its content.

TEST(MessageSource, LongTextLineIsQuotedPrintable) {
  for (const M encoding : {M::cmNone, M::cm8Bit}) {
    TclMailMessage message;
    message.SetEncoding(encoding);
    message.BuildMessage(std::string(5000, 'a') + "\r\nshort", "");
    const Lines& source = message.MessageSource();
    EXPECT_EQ(Field(Header(source), "Content-Transfer-Encoding"), "quoted-printable");
    for (const std::string& line : source)
      EXPECT_LE(line.size(), 998u);
  }
}

TEST(MessageSource, LongLineInAPartIsQuotedPrintable) {
  TclMailMessage message;
  message.Bodies().AddText("short");
  TclTextBody& body = message.Bodies().AddText("x");
  body.SetText(std::string(2000, 'b'));
  body.SetEncoding(M::cmNone);
  const Lines& source = message.MessageSource();
  for (const std::string& line : source)
    EXPECT_LE(line.size(), 998u);
  EXPECT_EQ(CountLines(source, "Content-Transfer-Encoding: quoted-printable"), 1);
}

// Every line holding a delimiter is that delimiter line itself.
void ExpectBoundaryOnlyOnItsLines(const Lines& source, const std::string& boundary) {
  ASSERT_FALSE(boundary.empty());
  const std::string delimiter = "--" + boundary;
  int count = 0;
  for (const std::string& line : source) {
    if (line.find(delimiter) != std::string::npos) {
      ++count;
      EXPECT_TRUE(line == delimiter || line == delimiter + "--") << line;
    }
  }
  EXPECT_GE(count, 2);
}

TEST(MessageSource, BoundaryNeverOccursInTheContent) {
  TclMailMessage message;
  message.BuildMessage("x", "<p>y</p>");
  message.HeaderSource();
  const std::string first = message.Boundary();
  // A text quoting the boundary already chosen: the body section takes another one.
  message.Text()->SetText("before\r\n--" + first + "--\r\nafter");
  const Lines& section = message.BodiesSource();
  EXPECT_NE(message.Boundary(), first);
  EXPECT_EQ(CountLines(section, "--" + first + "--"), 1);
  ExpectBoundaryOnlyOnItsLines(section, message.Boundary());
}

TEST(MessageSource, NestedBoundariesAreDistinctAndClean) {
  ScratchDir dir;
  const std::vector<std::string> files{dir.Write("a.bin", "\x01")};
  TclMailMessage message;
  message.BuildMessage("text", "<p>x</p>", {}, files);
  const Lines& source = message.MessageSource();
  auto& nested = dynamic_cast<TclMultipartBody&>(message.Bodies().Items(0));
  ExpectBoundaryOnlyOnItsLines(source, message.Boundary());
  ExpectBoundaryOnlyOnItsLines(source, nested.Boundary());
}

}  // namespace

namespace {

// Reading lines chunk by chunk cuts them exactly as SplitLines does, also where a CR LF or a
// line straddles the chunk boundary.
class SourceLines : public testing::TestWithParam<std::size_t> {};
TEST_P(SourceLines, MatchSplitLines) {
  const std::size_t at = GetParam();
  for (const std::string_view brk : {"\r\n", "\r", "\n", "\r\r\n", "\n\r"}) {
    std::string data(at, 'a');
    data += brk;
    data += "tail";
    data += brk;
    TMemoryStream stream(data);
    EXPECT_EQ(ReadSourceLines(stream), kz::SplitLines(data)) << at;
    TMemoryStream out;
    WriteSourceLines(kz::SplitLines(data), out);
    EXPECT_EQ(out.Data(), kz::JoinLines(kz::SplitLines(data)) + "\r\n");
  }
}
INSTANTIATE_TEST_SUITE_P(All, SourceLines,
                         testing::Values(0, 1, 65534, 65535, 65536, 65537, 200000),
                         testsupport::PrintedName());

}  // namespace

namespace {

TEST(MessageSource, UuencodeFormatWritesBeginAndEndAndReadsBack) {
  TclMailMessage message;
  message.SetMessageFormat(TclMessageFormat::mfUUencode);
  const std::string data = mailtest::RandomBytes(500, 9);
  message.OnLoadAttachment = [&](TclMailMessage*, TclAttachmentBody*, const std::string&,
                                 std::shared_ptr<TStream>& out, bool& handled) {
    out = std::make_shared<TMemoryStream>(data);
    handled = true;
  };
  message.Bodies().AddText("See the file.");
  message.Bodies().AddAttachment("/some/folder/a.bin");
  const Lines& source = message.MessageSource();
  EXPECT_EQ(Field(Header(source), "MIME-Version"), "");
  EXPECT_EQ(Field(Header(source), "Content-Type"), "");
  EXPECT_EQ(CountLines(source, "begin 600 a.bin"), 1);
  EXPECT_EQ(CountLines(source, "end"), 1);

  TclMailMessage read;
  auto saved = std::make_shared<TMemoryStream>();
  read.OnSaveAttachment = [&](TclMailMessage*, TclAttachmentBody*, const std::string&,
                              std::shared_ptr<TStream>& out, bool& handled) {
    out = saved;
    handled = true;
  };
  read.SetMessageSource(source);
  EXPECT_EQ(read.MessageFormat(), TclMessageFormat::mfUUencode);
  ASSERT_EQ(read.Attachments().size(), 1u);
  EXPECT_EQ(read.Attachments()[0]->FileName(), "a.bin");
  EXPECT_EQ(saved->Data(), data);
  EXPECT_EQ(read.Text()->Strings(), Lines{"See the file."});
}

TEST(MessageSource, MultipartBodyWithOnePartKeepsItsBoundaryAndHeader) {
  // A nested multipart always writes its parts between boundary lines, also a single one,
  // so the part keeps its header and encoding.
  TclMailMessage message;
  const std::string data = mailtest::RandomBytes(300, 5);
  message.OnLoadAttachment = [&](TclMailMessage*, TclAttachmentBody*, const std::string&,
                                 std::shared_ptr<TStream>& out, bool& handled) {
    out = std::make_shared<TMemoryStream>(data);
    handled = true;
  };
  message.Bodies().AddText("outer");
  TclMultipartBody& nested = message.Bodies().AddMultipart();
  nested.Bodies().AddAttachment("only.bin").SetEncoding(M::cmBase64);
  const Lines& source = message.MessageSource();
  EXPECT_EQ(CountLines(source, "--" + nested.Boundary()), 1);
  EXPECT_EQ(CountLines(source, "--" + nested.Boundary() + "--"), 1);
  EXPECT_EQ(CountLines(source, "Content-Transfer-Encoding: base64"), 1);

  TclMailMessage read;
  auto saved = std::make_shared<TMemoryStream>();
  read.OnSaveAttachment = [&](TclMailMessage*, TclAttachmentBody*, const std::string&,
                              std::shared_ptr<TStream>& out, bool& handled) {
    out = saved;
    handled = true;
  };
  read.SetMessageSource(source);
  ASSERT_EQ(read.Attachments().size(), 1u);
  EXPECT_EQ(read.Attachments()[0]->FileName(), "only.bin");
  EXPECT_EQ(saved->Data(), data);
}

TEST(MessageSource, NewsgroupsAddLinesCountAfterTheDate) {
  TclMailMessage message;
  message.BuildMessage("one\r\ntwo\r\nthree", "");
  message.SetNewsGroups({"comp.mail.mime", "cz.test"});
  const Lines& source = message.MessageSource();
  const Lines header = Header(source);
  EXPECT_EQ(Field(header, "Newsgroups"), "comp.mail.mime,cz.test");
  const auto date = std::find_if(header.begin(), header.end(),
                                 [](const std::string& l) { return kz::StartsWith(l, "Date: "); });
  ASSERT_NE(date, header.end());
  EXPECT_EQ(date[1], "Lines: 3");
}

TEST(MessageSource, EncodingProgressIsReportedPerBody) {
  ScratchDir dir;
  TclMailMessage message;
  const std::vector<std::string> files{dir.Write("a.bin", std::string(200000, '\x01'))};
  message.BuildMessage("Hi", files);
  std::vector<std::pair<std::int64_t, std::int64_t>> attachmentProgress;
  message.OnEncodingProgress = [&](TclMailMessage*, TclMessageBody* body, std::int64_t done,
                                   std::int64_t total) {
    if (dynamic_cast<TclAttachmentBody*>(body) != nullptr)
      attachmentProgress.emplace_back(done, total);
  };
  message.MessageSource();
  ASSERT_GE(attachmentProgress.size(), 2u);
  EXPECT_EQ(attachmentProgress.front(), (std::pair<std::int64_t, std::int64_t>{0, 200000}));
  EXPECT_EQ(attachmentProgress.back(), (std::pair<std::int64_t, std::int64_t>{200000, 200000}));
}

}  // namespace

namespace {

// Every header line, field names included, stays within 76 characters when the words allow.
TEST(MessageHeader, LinesStayWithin76Characters) {
  TclMailMessage message;
  message.SetCharSet("UTF-8");
  const std::vector<std::string> files{"/nowhere/přihláška ke studiu na vysoké škole.pdf"};
  message.OnLoadAttachment = [](TclMailMessage*, TclAttachmentBody*, const std::string&,
                                std::shared_ptr<TStream>& data, bool& handled) {
    data = std::make_shared<TMemoryStream>(std::string("%PDF"));
    handled = true;
  };
  message.BuildMessage("text", files);
  // BuildMessage resets the fields: they are set after it.
  message.SetSubject("Týdenní zpráva – Příliš žluťoučký kůň úpěl ďábelské ódy, " +
                     std::string("a ještě jednou dlouhý předmět zprávy"));
  message.SetFrom("Jana Nováková-Dvořáková z účetního oddělení <jana.novakova@example.cz>");
  message.ToList().Add("Petr Svoboda ze skladu v Ostravě a Olomouci <petr.svoboda@example.cz>");
  message.ToList().Add("Eva Černá <eva@example.cz>");
  message.SetReferences({"<a1@example.cz>", "<a2@example.cz>", "<a3@example.cz>", "<a4@example.cz>",
                         "<a5@example.cz>"});
  const Lines& source = message.MessageSource();
  // Header lines of the message and its parts (the data lines hold no colon).
  for (const std::string& line : source) {
    if (!line.empty() && (line.find(':') != std::string::npos || line[0] == '\t')) {
      EXPECT_LE(line.size(), 76u) << line;
    }
  }
  TclMailMessage read;
  read.SetMessageSource(source);
  EXPECT_EQ(read.Subject(), message.Subject());
  EXPECT_EQ(read.From().FullAddress(), message.From().FullAddress());
  EXPECT_EQ(read.ToList().Items(0).Name(), "Petr Svoboda ze skladu v Ostravě a Olomouci");
}

}  // namespace
