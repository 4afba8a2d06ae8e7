// The header steps of a send, written once for every send form (message object, ready
// lines, ready stream): the X-Mailer and Message-ID fields added when missing, every Bcc
// field removed, and the envelope's sender and recipients read from the header. Field
// lines are found and edited with the mail layer's header-field library, which reads field
// names as RFC 5322 does ("Bcc : x", with white space before the colon, is a Bcc field).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kz {

// PrepareHeaderForSend adds "X-Mailer: AMailer" and "Message-ID: AMessageId" before the
// empty line that ends the header, each unless the header has that field, and then removes
// every Bcc field with its continuation lines, so no blind copy reaches the others.
void PrepareHeaderForSend(std::vector<std::string>& lines, std::string_view mailer,
                          std::string_view messageId);
// HeaderFieldValues: the value of every field of that name in the header, unfolded.
std::vector<std::string> HeaderFieldValues(const std::vector<std::string>& lines,
                                           std::string_view name);
// LinesSize: the bytes the lines make with a CR LF after each (RFC 1870's message size,
// dot-stuffing not counted).
std::int64_t LinesSize(const std::vector<std::string>& lines);

// RandomMessageIdLeft: 128 random bits (OpenSSL's generator) as 32 lower-case hex digits.
std::string RandomMessageIdLeft();
// IsMessageIdLeft: the text is RFC 5322 dot-atom text (atext runs joined by single dots),
// so that "<left@right>" is a valid msg-id.
bool IsMessageIdLeft(std::string_view text);
// MessageIdRight: the domain of the sender's address when it is a fully qualified domain
// or an address literal, else AFallback.
std::string MessageIdRight(std::string_view senderAddress, std::string_view fallback);

}  // namespace kz
