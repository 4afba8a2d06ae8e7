// clMailUtils: header values and header lines. Encoded words (RFC 2047) in both directions,
// header fields written with folding, and the reading and editing of a header held as
// lines (RFC 5322). Lines hold the bytes that go on the wire, without line terminators.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Error.h"
#include "mail/clEncoder.h"

class EclMailMessageError : public EclError {
 public:
  using EclError::EclError;
};

inline constexpr const char* kWrongEncodeMethod = "Wrong encode method in field";

// The encoded-word letter of a method: "Q", "B", or "" for the others.
std::string_view EncodedWordLetter(TclEncodeMethod method);

// EncodeHeaderValue turns UTF-8 text into a header value. With cmNone the method is the
// preferred encoding of the text (judged against charsPerLine); text that needs none is
// returned unchanged. Otherwise the text becomes encoded words "=?charset?Q|B?...?=" joined
// by CR LF: each holds whole characters of the charset, is at most 75 characters long and
// its encoded text at most charsPerLine; a line break of the text starts a new word. Q words
// escape everything but letters, digits and ! * + - /, so they also serve in display names.
// cmUUEncode and cm8Bit make no encoded word: the result is the text's bytes in the charset,
// except for UTF-16 and UTF-32, whose bytes could hold CR and LF and are written as B words.
// firstLineUsed is the number of characters before the value on its first line ("Subject: "
// is 9): the first word is kept short enough for that line to stay within 76 characters.
// A word that has to end inside the text ends after a space where one lies in its second half.
std::string EncodeHeaderValue(std::string_view text, std::string_view charSet,
                              TclEncodeMethod method, int charsPerLine,
                              std::size_t firstLineUsed = 0);
// EncodeHeaderAddress encodes the display name of an address text and joins it again.
std::string EncodeHeaderAddress(std::string_view fullAddress, std::string_view charSet,
                                TclEncodeMethod method, int charsPerLine,
                                std::size_t firstLineUsed = 0);
// DecodeHeaderValue decodes the encoded words of a header value into UTF-8 text. Adjacent
// words of one charset are converted together and the white space between them dropped; a
// malformed word is kept as text. Text outside words that is not UTF-8 is read in charSet.
std::string DecodeHeaderValue(std::string_view text, std::string_view charSet);

// AddHeaderField adds "Name: value" (nothing for an empty value). Every line break of the
// value (CR LF, a lone CR or a lone LF) starts a continuation line beginning with TAB, so no
// value can end the field early. A line longer than 76 characters is folded before white
// space where it has some (after the field name).
void AddHeaderField(std::vector<std::string>& lines, std::string_view name, std::string_view value);
// AddHeaderFieldItems writes the first item with AddHeaderField and each further item on
// continuation lines, the separator appended to the line before.
void AddHeaderFieldItems(std::vector<std::string>& lines, std::string_view name,
                         const std::vector<std::string>& items, std::string_view separator);

// One field of a header: its name in lower case and the number of its first line.
struct TclHeaderField {
  std::string Name;
  int Line = 0;
};
using TclHeaderFieldList = std::vector<TclHeaderField>;

// GetHeaderFieldList indexes the fields from startFrom to the first empty line and returns
// that line's number (the number of lines when there is none).
int GetHeaderFieldList(int startFrom, const std::vector<std::string>& source,
                       TclHeaderFieldList& fieldList);
// GetHeaderFieldValue: the field's text after the colon, left-trimmed, with its unfolded
// continuation lines (each trimmed, joined by one space). "" when the field is absent.
std::string GetHeaderFieldValue(const std::vector<std::string>& source,
                                const TclHeaderFieldList& fieldList, std::string_view name);
std::string GetHeaderFieldValue(const std::vector<std::string>& source,
                                const TclHeaderField& field);
// GetHeaderParam: the value of a parameter such as "boundary=" (given in lower case), cut at
// the first "," or ";" outside quotes, trimmed and unquoted; "" when absent. An empty param
// gives the main value before the first parameter.
std::string GetHeaderParam(std::string_view value, std::string_view param);
// RemoveHeaderField deletes every field of that name (ignoring case), continuation lines
// included, from the header that starts at startFrom.
void RemoveHeaderField(std::vector<std::string>& lines, std::string_view name, int startFrom = 0);
// InsertHeaderFieldIfNeed inserts "Name: value" before the empty line that ends the header
// (at the end without one) unless the value is empty or the field is present. A value with
// CR or LF is a programming error (std::invalid_argument).
void InsertHeaderFieldIfNeed(std::vector<std::string>& lines, std::string_view name,
                             std::string_view value);
