// Runs the mime-build and mime-read examples as processes: a built message read back lists
// its parts and saves byte-identical attachments; bad arguments and files fail clearly.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "MailTestFiles.h"
#include "core/StringUtils.h"

namespace {

using mailtest::ReadFile;
using mailtest::ScratchDir;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

Result Shell(const ScratchDir& dir, const std::string& command) {
  const std::string out = dir.path() + "/stdout", err = dir.path() + "/stderr";
  const int raw = std::system(("(" + command + ") > '" + out + "' 2> '" + err + "'").c_str());
  Result r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  return r;
}

std::string Q(const std::string& s) {
  return "'" + s + "'";
}

TEST(MimeExamples, BuildThenReadGivesPartsAndFiles) {
  ScratchDir dir;
  const std::string binary = mailtest::RandomBytes(70000, 3);
  const std::string text = dir.Write("text.txt",
                                     "\xEF\xBB\xBF"
                                     "Dobrý den,\nposílám přílohy.");
  const std::string html = dir.Write("page.html", "<p>Logo <img src=\"logo.png\"></p>");
  const std::string logo = dir.Write("logo.png", "\x89PNG\r\n\x1a\n" + binary.substr(0, 500));
  const std::string pdf = dir.Write("přihláška.pdf", binary);
  const std::string eml = dir.path() + "/m.eml";
  Result built = Shell(dir, "cd " + Q(dir.path()) +
                                " && " MIME_BUILD
                                " --from 'Jan Novák <jan@example.cz>' --to 'a@example.cz; "
                                "Petr Svoboda <p@example.cz>' --cc c@example.cz --subject "
                                "'Žádost' --text " +
                                Q(text) + " --html " + Q(html) + " --image logo.png --attach " +
                                Q(pdf) + " > " + Q(eml));
  ASSERT_EQ(built.status, 0) << built.err;
  const std::string wire = ReadFile(eml);
  EXPECT_NE(wire.find("\r\n\r\n"), std::string::npos);
  for (const std::string& line : kz::SplitLines(wire))
    EXPECT_LE(line.size(), 998u);

  const std::string saveDir = dir.path() + "/saved";
  std::filesystem::create_directory(saveDir);
  Result read = Shell(dir, MIME_READ " " + Q(eml) + " --save-dir " + Q(saveDir));
  ASSERT_EQ(read.status, 0) << read.err;
  const std::vector<std::string> lines = kz::SplitLines(read.out);
  ASSERT_GE(lines.size(), 13u) << read.out;
  EXPECT_EQ(lines[0], "Subject: Žádost");
  EXPECT_EQ(lines[1], "From: \"Jan Novák\" <jan@example.cz>");
  EXPECT_EQ(lines[2], "To: a@example.cz, \"Petr Svoboda\" <p@example.cz>");
  EXPECT_EQ(lines[3], "Cc: c@example.cz");
  EXPECT_TRUE(kz::StartsWith(lines[5], "Date: ")) << lines[5];
  EXPECT_TRUE(kz::StartsWith(lines[6], "1 TclMultipartBody multipart/related - ")) << lines[6];
  EXPECT_TRUE(kz::StartsWith(lines[7], "1.1 TclMultipartBody multipart/alternative - "));
  EXPECT_EQ(lines[8], "1.1.1 TclTextBody text/plain - 33");
  EXPECT_TRUE(kz::StartsWith(lines[9], "1.1.2 TclTextBody text/html - "));
  EXPECT_EQ(lines[10], "1.2 TclImageBody image/png logo.png 508");
  EXPECT_EQ(lines[11], "2 TclAttachmentBody application/pdf přihláška.pdf 70000");
  EXPECT_EQ(ReadFile(saveDir + "/přihláška.pdf"), binary);
  EXPECT_EQ(ReadFile(saveDir + "/logo.png"), ReadFile(logo));
}

TEST(MimeExamples, ReadSavesHostileNamesInsideTheFolder) {
  ScratchDir dir;
  const std::string eml = dir.Write(
      "m.eml",
      "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
      "Content-Type: application/octet-stream\r\n"
      "Content-Disposition: attachment; filename=\"../../escape.txt\"\r\n\r\nabc\r\n"
      "--b\r\nContent-Type: application/octet-stream; name=\"..\"\r\n\r\nxyz\r\n--b--\r\n");
  const std::string saveDir = dir.path() + "/saved";
  std::filesystem::create_directory(saveDir);
  Result read = Shell(dir, MIME_READ " " + Q(eml) + " --save-dir " + Q(saveDir));
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(ReadFile(saveDir + "/escape.txt"), "abc");
  EXPECT_EQ(ReadFile(saveDir + "/_"), "xyz");
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/escape.txt"));
  EXPECT_FALSE(std::filesystem::exists("/tmp/escape.txt") && ReadFile("/tmp/escape.txt") == "abc");
}

struct ErrorRow {
  std::string name;
  std::string command;  // after the program path; run in the scratch folder
  int status;
  std::string error;  // expected start of standard error
};
void PrintTo(const ErrorRow& r, std::ostream* os) {
  *os << r.name;
}

class MimeExampleError : public testing::TestWithParam<ErrorRow> {};
TEST_P(MimeExampleError, FailsClearly) {
  ScratchDir dir;
  dir.Write("t.txt", "text");
  const Result r = Shell(dir, "cd " + Q(dir.path()) + " && " + GetParam().command);
  EXPECT_EQ(r.status, GetParam().status);
  EXPECT_TRUE(kz::StartsWith(r.err, GetParam().error)) << r.err;
  EXPECT_EQ(r.out, "");
}
INSTANTIATE_TEST_SUITE_P(
    All, MimeExampleError,
    testing::Values(
        ErrorRow{"no_from", MIME_BUILD " --to a@b.cz --text t.txt", 2,
                 "mime-build: --from is required"},
        ErrorRow{"no_content", MIME_BUILD " --from a@b.cz --to a@b.cz", 2,
                 "mime-build: give --text, --html or --attach"},
        ErrorRow{"image_without_html",
                 MIME_BUILD " --from a@b.cz --to a@b.cz --text t.txt --image x.png", 2,
                 "mime-build: --image needs --html"},
        ErrorRow{
            "missing_attachment",
            MIME_BUILD " --from a@b.cz --to a@b.cz --text t.txt --attach missing.pdf", 1,
            "mime-build: Cannot open file \"missing.pdf\": No such file or directory (code 2)"},
        ErrorRow{"missing_message", MIME_READ " nothing.eml", 1,
                 "mime-read: Cannot open file \"nothing.eml\""},
        ErrorRow{"read_without_file", MIME_READ, 2, "mime-read: no message file"}),
    [](const testing::TestParamInfo<ErrorRow>& info) { return info.param.name; });

}  // namespace
