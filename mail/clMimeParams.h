// clMimeParams: helpers for part headers, and file-name parameters. Writing: a plain quoted value,
// or RFC 2047 encoded words for Content-Type's name= and RFC 2231 (charset, percent escapes,
// continuations) for Content-Disposition's filename*=. Reading: RFC 2231 parameters with
// their continuations. A written parameter never holds a line break or an unescaped quote,
// so a file name always stays inside its one header field.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mail/clEncoder.h"

// Quoted puts a value in double quotes.
std::string Quoted(std::string_view value);
// BaseName: the name after the last "/" or "\".
std::string_view BaseName(std::string_view path);
// AddFieldLines appends header lines as they stand; a line break inside one continues its
// field on a TAB line instead of starting a new field.
void AddFieldLines(std::vector<std::string>& lines, const std::vector<std::string>& fields);

// IsPlainParamValue: printable ASCII without '"' and '\' and short enough for one line, so
// it can stand between double quotes as it is.
bool IsPlainParamValue(std::string_view value);

// EncodeParamWords gives encoded words (B, or Q when method is cmQuotedPrintable) for the
// text's bytes in charSet, joined by CR LF; every word is safe inside double quotes.
std::string EncodeParamWords(std::string_view text, std::string_view charSet,
                             TclEncodeMethod method);

// EncodeRfc2231Param gives the items "name*=charset''%XX..." or, for a long value,
// "name*0*=charset''...", "name*1*=...", each short enough for one header line.
std::vector<std::string> EncodeRfc2231Param(std::string_view name, std::string_view text,
                                            std::string_view charSet);

// GetRfc2231Param reads the RFC 2231 form of parameter `name` (lower case, without "*" or
// "=") from a header value and returns it as UTF-8 text; found is false when the value holds
// no such form. Parts without a charset are read in defaultCharSet.
std::string GetRfc2231Param(std::string_view value, std::string_view name,
                            std::string_view defaultCharSet, bool& found);
