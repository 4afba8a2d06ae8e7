// clEmailAddress: one e-mail address (display name and mailbox) and lists of them, with the
// parser that splits a free-form address text and the joiner that writes it for a header.
// Text is UTF-8; every character the parser treats specially is ASCII.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TclEmailAddressList;

// IsEmailChar: ASCII letters and digits, and ! # $ % & ' * + - / = ? _ ` { } | ~ ^ . @ ".
bool IsEmailChar(char c);
// QuoteDisplayName puts a name that holds any of RFC 5322's specials ( ) < > [ ] : ; @ \ , . "
// in double quotes, with " ( ) \ escaped by a backslash; a name with a space is quoted too.
// Anything else is written bare.
std::string QuoteDisplayName(std::string_view name);
// ParseEmail finds the mailbox in a free-form address text: the last group in angle
// brackets, or the last token with an at-sign between two e-mail characters.
std::string ParseEmail(std::string_view text);
// ParseName takes the address out of the text and returns what is left, unescaped and
// without enclosing quotes, apostrophes or parentheses.
std::string ParseName(std::string_view text, std::string_view email);
// JoinEmailAddress: "Name <email>" with the name quoted as needed, or the bare address.
std::string JoinEmailAddress(std::string_view name, std::string_view email);

class TclEmailAddressItem {
 public:
  TclEmailAddressItem() = default;
  explicit TclEmailAddressItem(TclEmailAddressList* collection) : collection_(collection) {}
  // The address comes first, as in every constructor and Add of this unit.
  TclEmailAddressItem(std::string_view email, std::string_view name);
  explicit TclEmailAddressItem(std::string_view fullAddress);

  const std::string& Name() const { return name_; }
  void SetName(std::string_view value) { name_ = value; }
  const std::string& Email() const { return email_; }
  void SetEmail(std::string_view value) { email_ = value; }
  // FullAddress reads the joined form; SetFullAddress parses a text into Email and Name.
  std::string FullAddress() const;
  void SetFullAddress(std::string_view value);

  TclEmailAddressList* Collection() const { return collection_; }
  void Assign(const TclEmailAddressItem& source);
  void Clear();

 private:
  TclEmailAddressList* collection_ = nullptr;
  std::string name_;
  std::string email_;
};

// TclEmailAddressList owns its items; references to items stay valid until the item is
// deleted or the list cleared.
class TclEmailAddressList {
 public:
  TclEmailAddressList() = default;
  TclEmailAddressList(const TclEmailAddressList&) = delete;
  TclEmailAddressList& operator=(const TclEmailAddressList&) = delete;

  TclEmailAddressItem& Add();
  TclEmailAddressItem& Add(std::string_view email, std::string_view name);
  TclEmailAddressItem& Add(std::string_view fullAddress);

  int Count() const { return static_cast<int>(items_.size()); }
  TclEmailAddressItem& Items(int index) { return *items_.at(static_cast<std::size_t>(index)); }
  const TclEmailAddressItem& Items(int index) const {
    return *items_.at(static_cast<std::size_t>(index));
  }
  TclEmailAddressItem& operator[](int index) { return Items(index); }
  void Delete(int index);
  void Clear() { items_.clear(); }
  void Assign(const TclEmailAddressList& source);

  // The first item whose address (resp. name) equals the argument ignoring case, or null.
  TclEmailAddressItem* ItemByEmail(std::string_view email);
  TclEmailAddressItem* ItemByName(std::string_view name);

  // GetEmailList appends every item's FullAddress, one per line, after clearing the list
  // when isInit is true.
  void GetEmailList(std::vector<std::string>& list, bool isInit = true) const;

  // EmailAddresses: all items joined with ", "; setting it replaces the items with the
  // pieces of the text cut at commas, semicolons, carriage returns and line feeds outside
  // double quotes (apostrophes protect nothing).
  std::string EmailAddresses() const;
  void SetEmailAddresses(std::string_view value);

 private:
  std::vector<std::unique_ptr<TclEmailAddressItem>> items_;
};
