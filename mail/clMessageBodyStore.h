// clMessageBodyStore: the persisted form of a body list ("Items"). Each body is stored as
// its class name and its fields: attachment and image bodies their file name and content
// ID, text bodies their text and charset, multipart bodies their subtype and their own body
// list; then for every body the extra header fields, the content type, the encoding as an
// integer and the disposition.
//
// The form is text of length-prefixed tokens ("<length>:<bytes>" and a line feed), so any
// bytes pass unchanged. Reading checks everything and raises EclMailMessageError
// "Invalid body list data" for data it cannot read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Stream.h"
#include "mail/clMessageBody.h"

inline constexpr const char* kInvalidBodyData = "Invalid body list data";

class TclBodyWriter {
 public:
  explicit TclBodyWriter(TStream& stream) : stream_(stream) {}
  void WriteString(std::string_view value);
  void WriteInteger(std::int64_t value);
  // WriteBodies writes the list's count and every body.
  void WriteBodies(const TclMessageBodies& bodies);

 private:
  TStream& stream_;
};

class TclBodyReader {
 public:
  explicit TclBodyReader(TStream& stream) : stream_(stream) {}
  std::string ReadString();
  std::int64_t ReadInteger();
  // ReadBodies replaces the list's bodies with the stored ones.
  void ReadBodies(TclMessageBodies& bodies);

 private:
  TStream& stream_;
  int depth_ = 0;
};

// SaveBodies / LoadBodies store a whole body list under the property name "Items".
void SaveBodies(const TclMessageBodies& bodies, TStream& stream);
void LoadBodies(TclMessageBodies& bodies, TStream& stream);
