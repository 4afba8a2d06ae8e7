// Names of the cases of a parameterised test: the row's own name where it has one, else what
// the row prints (its PrintTo), made into a test name (letters, digits and underscores). So a
// failing case reads "All/HeaderDecode.Decodes/czech_q" instead of ".../7".
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>

namespace testsupport {

// TestNameOf keeps letters and digits and turns every other run of characters into one
// underscore; an empty result is "empty". Long texts are cut to 60 characters.
inline std::string TestNameOf(std::string_view text) {
  std::string name;
  for (const char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0)
      name += c;
    else if (!name.empty() && name.back() != '_')
      name += '_';
    if (name.size() >= 60)
      break;
  }
  while (!name.empty() && name.back() == '_')
    name.pop_back();
  return name.empty() ? "empty" : name;
}

// RowName names a case by its row's `name` member. A name that is no test name as it stands
// (empty, spaces, other characters) is made into one, with the row's number behind it, since
// two such names may come out alike.
struct RowName {
  template <class Row>
  std::string operator()(const testing::TestParamInfo<Row>& info) const {
    const std::string_view given = info.param.name;
    const std::string name = TestNameOf(given);
    return name == given ? name : name + "_" + std::to_string(info.index);
  }
};

// PrintedName names a case by what its row prints, with the row's number behind it, since
// two rows may print alike once made into a name.
struct PrintedName {
  template <class Row>
  std::string operator()(const testing::TestParamInfo<Row>& info) const {
    return TestNameOf(testing::PrintToString(info.param)) + "_" + std::to_string(info.index);
  }
};

}  // namespace testsupport
