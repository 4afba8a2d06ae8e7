// Attachment content types from the file name's extension: the system table, a table of our
// own, and the built-in table for a system without one.
#include "mail/clMimeTypes.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "MailTestFiles.h"

namespace {

struct TypeRow {
  std::string name;
  std::string fileName;
  std::string want;
};
void PrintTo(const TypeRow& r, std::ostream* os) {
  *os << r.name;
}
std::string RowName(const testing::TestParamInfo<TypeRow>& info) {
  return info.param.name;
}

class SystemTable : public testing::TestWithParam<TypeRow> {};
TEST_P(SystemTable, Gives) {
  ASSERT_TRUE(TclMimeTypes::System().FromSystemTable()) << "/etc/mime.types (media-types)";
  EXPECT_EQ(AttachmentContentType(GetParam().fileName), GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(
    All, SystemTable,
    testing::Values(TypeRow{"pdf", "report.pdf", "application/pdf"},
                    TypeRow{"upper_case_extension", "SCAN.JPG", "image/jpeg"},
                    TypeRow{"text", "poznámky.txt", "text/plain"},
                    TypeRow{"shell_script", "run.sh", "application/x-sh"},
                    TypeRow{"json", "data.json", "application/json"},
                    TypeRow{"office", "smlouva č. 2.docx",
                            "application/vnd.openxmlformats-officedocument.wordprocessingml."
                            "document"},
                    TypeRow{"folder_with_dot", "/home/a.b/README", "application/octet-stream"},
                    TypeRow{"unknown", "x.kadenza-unknown", "application/octet-stream"},
                    TypeRow{"final_dot", "name.", "application/octet-stream"},
                    TypeRow{"no_extension", "Makefile", "application/octet-stream"}),
    RowName);

class OwnTable : public testing::TestWithParam<TypeRow> {};
TEST_P(OwnTable, Gives) {
  mailtest::ScratchDir dir;
  const TclMimeTypes table(dir.Write("mime.types",
                                     "# comment line text/x-no txt\n"
                                     "text/x-first\tabc  def # trailing comment ghi\n"
                                     "text/x-second abc\n"
                                     "application/no-extension\n"
                                     "Image/X-Upper JKL\n"));
  EXPECT_TRUE(table.FromSystemTable());
  EXPECT_EQ(table.ContentTypeOf(GetParam().fileName), GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(
    All, OwnTable,
    testing::Values(TypeRow{"first_line_wins", "a.abc", "text/x-first"},
                    TypeRow{"second_extension", "a.def", "text/x-first"},
                    TypeRow{"comment_is_not_read", "a.ghi", "application/octet-stream"},
                    TypeRow{"comment_line", "a.txt", "application/octet-stream"},
                    TypeRow{"lower_cased", "a.jkl", "image/x-upper"}),
    RowName);

class BuiltinTable : public testing::TestWithParam<TypeRow> {};
TEST_P(BuiltinTable, Gives) {
  const TclMimeTypes table("/nonexistent/mime.types");
  EXPECT_FALSE(table.FromSystemTable());
  EXPECT_EQ(table.ContentTypeOf(GetParam().fileName), GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(
    All, BuiltinTable,
    testing::Values(TypeRow{"pdf", "a.PDF", "application/pdf"},
                    TypeRow{"text", "a.txt", "text/plain"}, TypeRow{"image", "a.png", "image/png"},
                    TypeRow{"spreadsheet", "a.xlsx",
                            "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
                    TypeRow{"unknown", "a.sh", "application/octet-stream"}),
    RowName);

}  // namespace
