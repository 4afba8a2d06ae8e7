// clMessageBody: the parts of a MIME message (RFC 2045, 2046). Text bodies (plain text or
// HTML), attachment bodies (a file), image bodies (an inline image referenced from HTML) and
// multipart bodies (a nested list with its own boundary). Each body writes its part header
// and produces its source data; the message (clMailMessage) puts the parts together. On the
// reading side a body parses its part header and decodes its data.
//
// Text is UTF-8. Every setter that changes a value tells the owning message, which then drops
// its cached source text.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Stream.h"
#include "mail/clEncoder.h"
#include "mail/clMailUtils.h"

class TclMailMessage;
class TclMessageBodies;
class TclBodyWriter;
class TclBodyReader;

using TclStringList = std::vector<std::string>;

// TclMessageBody is the base of every body. Bodies are created through their list
// (TclMessageBodies::AddText and friends, or Add<T>()), which owns them.
class TclMessageBody {
 public:
  virtual ~TclMessageBody();
  TclMessageBody(const TclMessageBody&) = delete;
  TclMessageBody& operator=(const TclMessageBody&) = delete;

  // The class name used by the body list's persistence ("TclTextBody", ...).
  virtual std::string_view ClassName() const = 0;

  TclMessageBodies* Owner() const { return owner_; }
  TclMailMessage* MailMessage() const;
  int Index() const;

  const std::string& ContentType() const { return contentType_; }
  void SetContentType(std::string_view value);
  const std::string& ContentDisposition() const { return contentDisposition_; }
  void SetContentDisposition(std::string_view value);
  // Encoding reads the effective encoding (GetEncoding); OwnEncoding the body's own value.
  TclEncodeMethod Encoding() const { return GetEncoding(); }
  TclEncodeMethod OwnEncoding() const { return encoding_; }
  void SetEncoding(TclEncodeMethod value);
  // Extra header lines, written as they stand.
  const TclStringList& ExtraFields() const { return extraFields_; }
  void SetExtraFields(TclStringList value);
  const TclStringList& KnownFields() const { return knownFields_; }
  const TclStringList& RawHeader() const { return rawHeader_; }

  // Where the part stood in a source that was read.
  std::int64_t EncodedSize() const { return encodedSize_; }
  int EncodedLines() const { return encodedLines_; }
  int EncodedStart() const { return encodedStart_; }
  int RawStart() const { return rawStart_; }

  TclEncoder& Encoder() { return *encoder_; }

  // Assign copies the other body's data (a body of another class copies the common part).
  virtual void Assign(const TclMessageBody& source);

  // Persistence of the body's fields (clMessageBodyStore).
  virtual void ReadBodyData(TclBodyReader& reader);
  virtual void WriteBodyData(TclBodyWriter& writer) const;

  virtual bool HasEncodedSize() const { return true; }
  // KeepsBytes: the data is a file whose bytes must come back as they are, line ends included
  // (text bodies are lines, and their line ends are the reader's).
  virtual bool KeepsBytes() const { return false; }
  // GetEncoding: the body's own encoding when the message is multipart, else the message's.
  virtual TclEncodeMethod GetEncoding() const;
  // WriteEncoding is the encoding the body's data is really written with: GetEncoding, except
  // that data unfit for 7bit (or 8bit) lines is quoted-printable or base64 instead.
  TclEncodeMethod WriteEncoding();
  // The encoding of the write in progress (fixed by the message), else GetEncoding.
  TclEncodeMethod WriteEncodingOrEffective() const {
    return writeEncoding_.value_or(GetEncoding());
  }
  virtual void WriteBodyHeader(TclStringList& lines);
  // ParseBodyHeader reads the part's header fields (lines are the part's header lines).
  virtual void ParseBodyHeader(const TclStringList& lines, const TclHeaderFieldList& fields);
  // OpenSourceData gives the unencoded data to write, or null when there is none.
  virtual std::shared_ptr<TStream> OpenSourceData() = 0;
  // CreateTargetData gives the stream decoded data goes to, or null to drop it.
  virtual std::shared_ptr<TStream> CreateTargetData() = 0;
  // TrimEncodedData removes one final CR LF from the collected encoded data of a part: the
  // line break before the next boundary belongs to the boundary.
  virtual void TrimEncodedData(TMemoryStream& data);
  virtual void DataDecoded(TStream& data);
  virtual void DecodeBody(TStream& source, TStream& target);
  virtual void EncodeBody(TStream& source, TStream& target);
  virtual void Clear();

  // AddDataLines appends the body's encoded data as lines (no terminators) and returns how
  // many it added; endsWithBreak tells whether the data ended with a line break.
  virtual std::size_t AddDataLines(TclStringList& lines, bool& endsWithBreak);

 protected:
  explicit TclMessageBody(TclMessageBodies& owner);
  // CreateParts sets up the encoder and the known field names (called once by the list).
  virtual void CreateParts();
  virtual void RegisterKnownFields();
  void AddKnownField(std::string_view name);
  // Changed tells the message that the body changed.
  void Changed();
  bool IsParse() const;
  // FinishData decodes the encoded data lines of a part that was read.
  virtual void FinishData(std::span<const std::string> lines);
  void ShiftLines(int delta);

  std::string contentType_;
  TclEncodeMethod encoding_ = TclEncodeMethod::cmNone;
  std::string contentDisposition_;
  TclStringList extraFields_;
  TclStringList knownFields_;
  TclStringList rawHeader_;
  std::int64_t encodedSize_ = 0;
  int encodedLines_ = 0;
  int encodedStart_ = 0;
  int rawStart_ = 0;

 private:
  friend class TclMessageBodies;
  friend class TclMailMessage;
  friend class TclMultipartBody;
  TclMessageBodies* owner_;
  std::unique_ptr<TclEncoder> encoder_;
  std::optional<TclEncodeMethod> writeEncoding_;
};

// TclTextBody: plain text or HTML, converted to bytes in CharSet.
class TclTextBody : public TclMessageBody {
 public:
  std::string_view ClassName() const override { return "TclTextBody"; }

  const std::string& CharSet() const { return charSet_; }
  void SetCharSet(std::string_view value);
  // The text as lines; Text joins them with CR LF.
  const TclStringList& Strings() const { return strings_; }
  void SetStrings(TclStringList value);
  std::string Text() const;
  void SetText(std::string_view text);

  void Assign(const TclMessageBody& source) override;
  void ReadBodyData(TclBodyReader& reader) override;
  void WriteBodyData(TclBodyWriter& writer) const override;
  void WriteBodyHeader(TclStringList& lines) override;
  void ParseBodyHeader(const TclStringList& lines, const TclHeaderFieldList& fields) override;
  std::shared_ptr<TStream> OpenSourceData() override;
  std::shared_ptr<TStream> CreateTargetData() override;
  void DataDecoded(TStream& data) override;
  void Clear() override;

 protected:
  friend class TclMessageBodies;
  using TclMessageBody::TclMessageBody;

 private:
  std::string charSet_;
  TclStringList strings_;
};

// TclAttachmentBody: a file, read through the message's OnLoadAttachment or from disk, and
// on reading handed to OnSaveAttachment.
class TclAttachmentBody : public TclMessageBody {
 public:
  std::string_view ClassName() const override { return "TclAttachmentBody"; }

  const std::string& ContentID() const { return contentID_; }
  void SetContentID(std::string_view value);
  const std::string& FileName() const { return fileName_; }
  virtual void SetFileName(std::string_view value);

  TclEncodeMethod GetEncoding() const override;
  bool KeepsBytes() const override { return true; }
  void Assign(const TclMessageBody& source) override;
  void ReadBodyData(TclBodyReader& reader) override;
  void WriteBodyData(TclBodyWriter& writer) const override;
  void WriteBodyHeader(TclStringList& lines) override;
  void ParseBodyHeader(const TclStringList& lines, const TclHeaderFieldList& fields) override;
  std::shared_ptr<TStream> OpenSourceData() override;
  std::shared_ptr<TStream> CreateTargetData() override;
  void Clear() override;

  // SaveError is the error met while the data of a part that was read went to the stream of
  // OnSaveAttachment ("" when none); the other parts are read all the same.
  const std::string& SaveError() const { return saveError_; }
  int SaveErrorCode() const { return saveErrorCode_; }

 protected:
  friend class TclMessageBodies;
  friend class TclMailMessage;
  using TclMessageBody::TclMessageBody;
  void RegisterKnownFields() override;
  void FinishData(std::span<const std::string> lines) override;
  // The Content-Type and Content-Disposition lines with the file name parameters.
  void WriteNameFields(TclStringList& lines, bool defaultDisposition);
  // Opening the file while the encoding is chosen: a missing file gives no stream.
  std::shared_ptr<TStream> OpenData(bool onlyIfExists);

  std::string contentID_;
  std::string fileName_;
  std::string saveError_;
  int saveErrorCode_ = 0;
};

// TclImageBody: an inline image; its Content-ID is what the HTML refers to ("cid:...").
class TclImageBody : public TclAttachmentBody {
 public:
  std::string_view ClassName() const override { return "TclImageBody"; }
  void SetFileName(std::string_view value) override;
  void WriteBodyHeader(TclStringList& lines) override;
  void ParseBodyHeader(const TclStringList& lines, const TclHeaderFieldList& fields) override;
  void Clear() override;

 protected:
  friend class TclMessageBodies;
  using TclAttachmentBody::TclAttachmentBody;
};

// TclMultipartBody: a nested list of bodies written between its own boundary lines by an
// inner message that it owns.
class TclMultipartBody : public TclMessageBody {
 public:
  ~TclMultipartBody() override;
  std::string_view ClassName() const override { return "TclMultipartBody"; }

  TclMessageBodies& Bodies() { return *bodies_; }
  const TclMessageBodies& Bodies() const { return *bodies_; }
  const std::string& ContentSubType() const { return contentSubType_; }
  void SetContentSubType(std::string_view value);
  // The boundary the inner message used when the part header was last written or read.
  const std::string& Boundary() const;

  bool HasEncodedSize() const override { return false; }
  void Assign(const TclMessageBody& source) override;
  void ReadBodyData(TclBodyReader& reader) override;
  void WriteBodyData(TclBodyWriter& writer) const override;
  void WriteBodyHeader(TclStringList& lines) override;
  void ParseBodyHeader(const TclStringList& lines, const TclHeaderFieldList& fields) override;
  std::shared_ptr<TStream> OpenSourceData() override;
  std::shared_ptr<TStream> CreateTargetData() override;
  void DataDecoded(TStream& data) override;
  std::size_t AddDataLines(TclStringList& lines, bool& endsWithBreak) override;
  void Clear() override;

 protected:
  friend class TclMessageBodies;
  explicit TclMultipartBody(TclMessageBodies& owner);
  void CreateParts() override;

 private:
  friend class TclMailMessage;
  friend class TclMessageBodies;
  // ReadLines reads the part's data lines as the inner message's body section.
  void ReadLines(std::span<const std::string> lines);

  std::unique_ptr<TclMessageBodies> bodies_;
  std::unique_ptr<TclMailMessage> message_;
  std::string contentSubType_;
};

// TclMessageBodies: the ordered list of bodies of one message; it owns them. Every change
// tells the owner message.
class TclMessageBodies {
 public:
  explicit TclMessageBodies(TclMailMessage& owner) : owner_(&owner) {}
  ~TclMessageBodies();
  TclMessageBodies(const TclMessageBodies&) = delete;
  TclMessageBodies& operator=(const TclMessageBodies&) = delete;

  TclMailMessage* Owner() const { return owner_; }

  // Add creates a body of class T at the end of the list.
  template <class T>
  T& Add() {
    std::unique_ptr<T> body(new T(*this));
    T& ref = *body;
    Append(std::move(body));
    return ref;
  }
  // AddBody creates a body by its class name; null for an unknown name.
  TclMessageBody* AddBody(std::string_view className);

  TclTextBody& AddText(std::string_view text);
  TclTextBody& AddHtml(std::string_view text);
  TclMultipartBody& AddMultipart();
  TclAttachmentBody& AddAttachment(std::string_view fileName);
  TclImageBody& AddImage(std::string_view fileName);

  void Delete(int index);
  void Move(int curIndex, int newIndex);
  void Clear();
  int Count() const { return static_cast<int>(items_.size()); }
  TclMessageBody& Items(int index) const { return *items_.at(static_cast<std::size_t>(index)); }
  TclMessageBody& operator[](int index) const { return Items(index); }
  int IndexOf(const TclMessageBody* body) const;
  // Assign replaces the list with copies of the source's bodies.
  void Assign(const TclMessageBodies& source);
  // MoveFrom takes over every body of the source list (the source is left empty).
  void MoveFrom(TclMessageBodies& source);
  // RemoveIf deletes every body the predicate holds for, in one pass.
  template <class Pred>
  void RemoveIf(Pred pred) {
    std::erase_if(items_, [&](const std::unique_ptr<TclMessageBody>& b) { return pred(*b); });
    Changed();
  }

 private:
  void Append(std::unique_ptr<TclMessageBody> body);
  void SetOwner(TclMailMessage* owner);
  void Changed();

  TclMailMessage* owner_;
  std::vector<std::unique_ptr<TclMessageBody>> items_;
};

// SafeFileName applies the rule for file names taken from a message: the directory part is
// dropped, NUL, control characters, " * / : < > ? \ | become "_", a final space or dot is
// removed; an empty result, "." and ".." give "_".
std::string SafeFileName(std::string_view name);

// HoldsLoneLineBreak tells whether the data from the stream's position on has a CR that is not
// followed by LF or a LF that does not follow a CR (the position is restored).
bool HoldsLoneLineBreak(TStream& data);
