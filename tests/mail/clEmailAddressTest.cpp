#include "mail/clEmailAddress.h"
#include "support/CaseName.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct ParseRow {
  std::string text;
  std::string email;
  std::string name;
};
void PrintTo(const ParseRow& r, std::ostream* os) {
  *os << r.text;
}

class AddressParse : public testing::TestWithParam<ParseRow> {};
TEST_P(AddressParse, SplitsNameAndEmail) {
  TclEmailAddressItem item(std::string_view(GetParam().text));
  EXPECT_EQ(item.Email(), GetParam().email);
  EXPECT_EQ(item.Name(), GetParam().name);
}
INSTANTIATE_TEST_SUITE_P(
    All, AddressParse,
    testing::Values(ParseRow{"john@example.com", "john@example.com", ""},
                    ParseRow{"<john@example.com>", "john@example.com", ""},
                    ParseRow{"\"John Smith\" <john@example.com>", "john@example.com", "John Smith"},
                    ParseRow{"John Smith <john@example.com>", "john@example.com", "John Smith"},
                    ParseRow{"john@example.com (John Smith)", "john@example.com", "John Smith"},
                    ParseRow{"'John' <john@example.com>", "john@example.com", "John"},
                    ParseRow{"\"Smith, John\" <js@example.com>", "js@example.com", "Smith, John"},
                    ParseRow{"\"Jan \\\"Honza\\\" Novák\" <jan@example.cz>", "jan@example.cz",
                             "Jan \"Honza\" Novák"},
                    ParseRow{"Jiří Novák <jiri@example.cz>", "jiri@example.cz", "Jiří Novák"},
                    ParseRow{"no address here", "", "no address here"},
                    ParseRow{"@example.com", "", "@example.com"},
                    // The scan keeps the first at-sign token when the text ends in another one.
                    ParseRow{"a@b first c@d", "a@b", "first c@d"},
                    ParseRow{"<a@b> <c@d>", "c@d", "<a@b>"},
                    ParseRow{"\"x@y\" <real@example.com>", "real@example.com", "x@y"},
                    ParseRow{"<JOHN@example.com> john@example.com", "JOHN@example.com",
                             "john@example.com"},
                    ParseRow{"", "", ""}),
    testsupport::RowName());

struct JoinRow {
  std::string name;
  std::string email;
  std::string full;
};
void PrintTo(const JoinRow& r, std::ostream* os) {
  *os << r.full;
}

class AddressJoin : public testing::TestWithParam<JoinRow> {};
TEST_P(AddressJoin, Joins) {
  TclEmailAddressItem item(GetParam().email, GetParam().name);
  EXPECT_EQ(item.FullAddress(), GetParam().full);
}
INSTANTIATE_TEST_SUITE_P(
    All, AddressJoin,
    testing::Values(JoinRow{"", "a@b.c", "a@b.c"}, JoinRow{"a@b.c", "a@b.c", "a@b.c"},
                    JoinRow{"A@b.c", "a@b.c", "\"A@b.c\" <a@b.c>"}, JoinRow{"", "", ""},
                    JoinRow{"John", "j@x.cz", "John <j@x.cz>"},
                    JoinRow{"John Smith", "j@x.cz", "\"John Smith\" <j@x.cz>"},
                    JoinRow{"Smith,John", "j@x.cz", "\"Smith,John\" <j@x.cz>"},
                    JoinRow{"O'Brien", "j@x.cz", "O'Brien <j@x.cz>"},
                    JoinRow{"Dr. No", "j@x.cz", "\"Dr. No\" <j@x.cz>"},
                    JoinRow{"a<b>c", "j@x.cz", "\"a<b>c\" <j@x.cz>"},
                    JoinRow{"list:a;b", "j@x.cz", "\"list:a;b\" <j@x.cz>"},
                    JoinRow{"[x]", "j@x.cz", "\"[x]\" <j@x.cz>"},
                    JoinRow{"\"Q\"", "j@x.cz", "\"\\\"Q\\\"\" <j@x.cz>"},
                    JoinRow{"Say \"Hi\"", "j@x.cz", "\"Say \\\"Hi\\\"\" <j@x.cz>"},
                    JoinRow{"J (work)", "j@x.cz", "\"J \\(work\\)\" <j@x.cz>"},
                    JoinRow{"a\\b", "j@x.cz", "\"a\\\\b\" <j@x.cz>"},
                    JoinRow{"Name", "", "Name <>"}),
    testsupport::RowName());

TEST(AddressItem, JoinAndParseRoundTrip) {
  for (const char* name : {"John Smith", "Say \"Hi\"", "J (work)", "O'Neil", "a\\b", "Jiří",
                           "Smith, John", "a@b.cz", "x <y@z.cz>", "a;b:c", "[list]", "end\\"}) {
    TclEmailAddressItem item("x@example.com", name);
    TclEmailAddressItem back{std::string_view(item.FullAddress())};
    EXPECT_EQ(back.Name(), name) << item.FullAddress();
    EXPECT_EQ(back.Email(), "x@example.com");
  }
}

TEST(AddressItem, AssignAndClear) {
  TclEmailAddressItem a("a@b.c", "A"), b;
  b.Assign(a);
  EXPECT_EQ(b.FullAddress(), "A <a@b.c>");
  b.Clear();
  EXPECT_EQ(b.Name(), "");
  EXPECT_EQ(b.Email(), "");
}

TEST(AddressList, SplitsAtCommaSemicolonAndLineEnds) {
  TclEmailAddressList list;
  list.SetEmailAddresses("a@x.cz;b@x.cz,c@x.cz, d@x.cz\r\ne@x.cz");
  ASSERT_EQ(list.Count(), 5);
  EXPECT_EQ(list[0].Email(), "a@x.cz");
  EXPECT_EQ(list[3].Email(), "d@x.cz");
  EXPECT_EQ(list[4].Email(), "e@x.cz");
}

struct SplitRow {
  std::string text;
  std::vector<std::string> want;  // "Name|email" of every item
};
void PrintTo(const SplitRow& r, std::ostream* os) {
  *os << testing::PrintToString(r.text);
}

class AddressSplit : public testing::TestWithParam<SplitRow> {};
TEST_P(AddressSplit, CutsIntoRecipients) {
  TclEmailAddressList list;
  list.SetEmailAddresses(GetParam().text);
  std::vector<std::string> got;
  for (int i = 0; i < list.Count(); ++i)
    got.push_back(list[i].Name() + "|" + list[i].Email());
  EXPECT_EQ(got, GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(
    All, AddressSplit,
    testing::Values(
        SplitRow{"a@x.cz\nb@x.cz\nc@x.cz", {"|a@x.cz", "|b@x.cz", "|c@x.cz"}},
        SplitRow{"a@x.cz\r\nb@x.cz\n\n", {"|a@x.cz", "|b@x.cz"}},
        SplitRow{"Pat O'Brien <p@x.cz>, d'Artagnan <d@x.cz>",
                 {"Pat O'Brien|p@x.cz", "d'Artagnan|d@x.cz"}},
        SplitRow{"o'brien@x.cz; d'art@x.cz", {"|o'brien@x.cz", "|d'art@x.cz"}},
        SplitRow{"'Pat' <p@x.cz>, 'Ann Lee' <a@x.cz>", {"Pat|p@x.cz", "Ann Lee|a@x.cz"}},
        SplitRow{"'Lee, Ann' <a@x.cz>", {"'Lee|", "Ann'|a@x.cz"}},
        SplitRow{"\"Lee, \\\"Ann\\\"; x\" <a@x.cz>, b@x.cz", {"Lee, \"Ann\"; x|a@x.cz", "|b@x.cz"}},
        SplitRow{"\"a\\\\\" <a@x.cz>, b@x.cz", {"a\\|a@x.cz", "|b@x.cz"}},
        SplitRow{"\"unclosed, a@x.cz", {"unclosed, a@x.cz|"}}),
    testsupport::PrintedName());

TEST(AddressList, QuotedNameMayHoldAComma) {
  TclEmailAddressList list;
  list.SetEmailAddresses("\"Smith, John\" <js@x.cz>, other@x.cz");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0].Name(), "Smith, John");
  EXPECT_EQ(list[0].Email(), "js@x.cz");
  EXPECT_EQ(list[1].Email(), "other@x.cz");
  // An apostrophe inside the quotes is an ordinary character.
  list.SetEmailAddresses("\"O'Neil, Pat\" <p@x.cz>");
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list[0].Name(), "O'Neil, Pat");
}

TEST(AddressList, JoinsWithCommaSpace) {
  TclEmailAddressList list;
  EXPECT_EQ(list.EmailAddresses(), "");
  list.Add("a@x.cz");
  EXPECT_EQ(list.EmailAddresses(), "a@x.cz");
  list.Add("b@x.cz", "Bob B");
  EXPECT_EQ(list.EmailAddresses(), "a@x.cz, \"Bob B\" <b@x.cz>");
  list.SetEmailAddresses(" ; , ");
  EXPECT_EQ(list.Count(), 0);
}

TEST(AddressList, LookupIgnoresCase) {
  TclEmailAddressList list;
  list.Add("a@x.cz", "Anna");
  list.Add("b@x.cz", "Bob");
  ASSERT_NE(list.ItemByEmail("B@X.CZ"), nullptr);
  EXPECT_EQ(list.ItemByEmail("B@X.CZ")->Name(), "Bob");
  EXPECT_EQ(list.ItemByName("anna")->Email(), "a@x.cz");
  EXPECT_EQ(list.ItemByName("nobody"), nullptr);
  EXPECT_EQ(list[0].Collection(), &list);
}

TEST(AddressList, GetEmailList) {
  TclEmailAddressList list;
  list.Add("a@x.cz", "Anna");
  std::vector<std::string> lines{"keep"};
  list.GetEmailList(lines, false);
  EXPECT_EQ(lines, (std::vector<std::string>{"keep", "Anna <a@x.cz>"}));
  list.GetEmailList(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"Anna <a@x.cz>"}));
}

TEST(AddressParse, LongTextsInLinearTime) {
  std::string text;
  for (int i = 0; i < 100000; ++i)
    text += "<>";
  EXPECT_EQ(ParseEmail(text + "<a@b.cz>"), "a@b.cz");
  EXPECT_EQ(ParseEmail(text).size(), text.size());  // an empty group names the whole text
}

TEST(EmailChar, ExactlyTheDocumentedSet) {
  int count = 0;
  for (int c = 0; c < 256; ++c)
    count += IsEmailChar(static_cast<char>(c)) ? 1 : 0;
  EXPECT_EQ(count, 84);
  for (char c : std::string(" ,;<>()\\[]:"))
    EXPECT_FALSE(IsEmailChar(c)) << c;
}

}  // namespace
