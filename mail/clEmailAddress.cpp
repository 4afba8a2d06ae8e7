#include "mail/clEmailAddress.h"

#include <cstring>

#include "core/StringUtils.h"

bool IsEmailChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
    return true;
  return c != '\0' && std::strchr("!#$%&'*+-/=?_`{}|~^.@\"", c) != nullptr;
}

namespace {

// The characters that are escaped with a backslash inside the quotes.
bool NeedsEscape(char c) {
  return c == '"' || c == '(' || c == ')' || c == '\\';
}

// A display name written bare may hold only atoms and spaces: any of RFC 5322's specials
// would make a reader see another address, or two, in it.
bool IsSpecial(char c) {
  return c != '\0' && std::strchr("()<>[]:;@\\,.\"", c) != nullptr;
}

}  // namespace

std::string QuoteDisplayName(std::string_view name) {
  bool special = false;
  for (char c : name)
    special = special || IsSpecial(c);
  if (!special) {
    std::string result(name);
    if (result.find(' ') != std::string::npos)
      result = '"' + result + '"';
    return result;
  }
  std::string result;
  result.reserve(name.size() + 8);
  result.push_back('"');
  for (char c : name) {
    if (NeedsEscape(c))
      result.push_back('\\');
    result.push_back(c);
  }
  result.push_back('"');
  return result;
}

std::string ParseEmail(std::string_view text) {
  const std::size_t n = text.size();
  constexpr std::size_t kNone = std::string_view::npos;
  bool inQuotes = false, inComment = false, inAngle = false, atSeen = false;
  std::size_t start = kNone;
  std::string_view result;  // a view into the text, so that replacing it costs nothing
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    const bool unescaped = i == 0 || text[i - 1] != '\\';
    if (c == '@' && !inQuotes && !inComment && i > 0 && i + 1 < n && IsEmailChar(text[i - 1]) &&
        IsEmailChar(text[i + 1])) {
      atSeen = true;
    }
    if (c == '"' && unescaped)
      inQuotes = !inQuotes;
    if (c == '<' && unescaped) {
      inAngle = true;
      start = kNone;
      continue;
    }
    if (c == '>' && unescaped && inAngle) {
      result = start == kNone ? text : text.substr(start, i - start);
      inAngle = false;
      start = kNone;
    }
    if (c == '(' && unescaped && !inQuotes)
      inComment = true;
    if (c == ')' && unescaped && inComment)
      inComment = false;
    const bool belongs = inQuotes || inAngle || IsEmailChar(c);
    if (!belongs) {
      if (atSeen && start != kNone)
        result = text.substr(start, i - start);
      atSeen = false;
      start = kNone;
    } else if (start == kNone) {
      start = i;
    }
  }
  if ((atSeen || inAngle) && start != kNone && result.empty())
    result = text.substr(start);
  return std::string(result);
}

namespace {

std::string UnescapeName(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\\') {
      if (i + 1 < s.size())
        out.push_back(s[++i]);
    } else if (c == '"') {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

std::string ParseName(std::string_view text, std::string_view email) {
  std::string s(text);
  std::string angled(1, '<');
  angled.append(email) += '>';
  std::size_t pos = kz::FindNoCase(s, angled);
  if (pos != std::string::npos) {
    s.erase(pos, angled.size());
  } else if (!email.empty() && (pos = kz::FindNoCase(s, email)) != std::string::npos) {
    s.erase(pos, email.size());
  }
  std::string name(kz::Trim(UnescapeName(s)));
  if (name.size() > 1 && name.front() == '\'' && name.back() == '\'') {
    name = name.substr(1, name.size() - 2);
  }
  if (name.size() > 1 && name.front() == '(' && name.back() == ')') {
    name = name.substr(1, name.size() - 2);
  }
  return name;
}

std::string JoinEmailAddress(std::string_view name, std::string_view email) {
  if (!name.empty() && name != email) {
    return QuoteDisplayName(name) + " <" + std::string(email) + ">";
  }
  return std::string(email);
}

TclEmailAddressItem::TclEmailAddressItem(std::string_view email, std::string_view name)
    : name_(name), email_(email) {}

TclEmailAddressItem::TclEmailAddressItem(std::string_view fullAddress) {
  SetFullAddress(fullAddress);
}

std::string TclEmailAddressItem::FullAddress() const {
  return JoinEmailAddress(name_, email_);
}

void TclEmailAddressItem::SetFullAddress(std::string_view value) {
  email_ = ParseEmail(value);
  name_ = ParseName(value, email_);
}

void TclEmailAddressItem::Assign(const TclEmailAddressItem& source) {
  name_ = source.name_;
  email_ = source.email_;
}

void TclEmailAddressItem::Clear() {
  name_.clear();
  email_.clear();
}

TclEmailAddressItem& TclEmailAddressList::Add() {
  items_.push_back(std::make_unique<TclEmailAddressItem>(this));
  return *items_.back();
}

TclEmailAddressItem& TclEmailAddressList::Add(std::string_view email, std::string_view name) {
  TclEmailAddressItem& item = Add();
  item.SetEmail(email);
  item.SetName(name);
  return item;
}

TclEmailAddressItem& TclEmailAddressList::Add(std::string_view fullAddress) {
  TclEmailAddressItem& item = Add();
  item.SetFullAddress(fullAddress);
  return item;
}

void TclEmailAddressList::Delete(int index) {
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TclEmailAddressList::Assign(const TclEmailAddressList& source) {
  if (&source == this)
    return;
  Clear();
  for (const auto& item : source.items_)
    Add().Assign(*item);
}

TclEmailAddressItem* TclEmailAddressList::ItemByEmail(std::string_view email) {
  for (auto& item : items_) {
    if (kz::EqualsNoCase(item->Email(), email))
      return item.get();
  }
  return nullptr;
}

TclEmailAddressItem* TclEmailAddressList::ItemByName(std::string_view name) {
  for (auto& item : items_) {
    if (kz::EqualsNoCase(item->Name(), name))
      return item.get();
  }
  return nullptr;
}

void TclEmailAddressList::GetEmailList(std::vector<std::string>& list, bool isInit) const {
  if (isInit)
    list.clear();
  for (const auto& item : items_)
    list.push_back(item->FullAddress());
}

std::string TclEmailAddressList::EmailAddresses() const {
  std::string result;
  for (const auto& item : items_) {
    if (!result.empty() || &item != &items_.front())
      result += ", ";
    result += item->FullAddress();
  }
  return result;
}

void TclEmailAddressList::SetEmailAddresses(std::string_view value) {
  Clear();
  std::size_t begin = 0;
  bool inQuotes = false;
  auto addPiece = [&](std::size_t end) {
    const std::string_view piece = kz::Trim(value.substr(begin, end - begin));
    if (!piece.empty())
      Add(piece);
  };
  // Only a double-quoted string protects a separator; an apostrophe is an ordinary
  // character of a name (O'Brien) and never joins two recipients. Inside the quotes a
  // backslash makes the next character literal, so an escaped quote does not end them.
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (inQuotes) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inQuotes = false;
    } else if (c == '"') {
      inQuotes = true;
    } else if (c == ',' || c == ';' || c == '\r' || c == '\n') {
      addPiece(i);
      begin = i + 1;
    }
  }
  addPiece(value.size());
}
