// clMailMessage: the mail message component. It holds the header data (sender, recipients,
// subject, date, priority, charset, encodings) and the list of bodies, builds the usual body
// structure from a text, an HTML text, inline images and attachment files (BuildMessage),
// writes the whole message as lines (MessageSource; RFC 5322 header, MIME per RFC 2045-2047
// and 2231) and reads such lines back into properties and bodies.
//
// Lines hold the bytes that go on the wire, without line terminators; whoever sends or
// stores them joins them with CR LF. Text properties are UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/Component.h"
#include "core/DateTime.h"
#include "core/Stream.h"
#include "mail/clEmailAddress.h"
#include "mail/clEncoder.h"
#include "mail/clMailUtils.h"
#include "mail/clMessageBody.h"

// ReadSourceLines reads message bytes from the stream's position to its end, cut into lines
// at CR LF, lone CR or lone LF, chunk by chunk (the bytes are never held twice).
std::vector<std::string> ReadSourceLines(TStream& stream);
// WriteSourceLines writes every line followed by CR LF.
void WriteSourceLines(std::span<const std::string> lines, TStream& stream);

enum class TclMessagePriority { mpLow, mpNormal, mpHigh };
enum class TclMessageFormat { mfNone, mfMIME, mfUUencode };

class TclMailMessage : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TclMailMessage* sender)>;
  // Attachment events: a handler that supplies the data stream sets handled. For saving,
  // leaving data empty drops the attachment's data.
  using TAttachmentEvent = std::function<void(TclMailMessage* sender, TclAttachmentBody* body,
                                              const std::string& fileName,
                                              std::shared_ptr<TStream>& data, bool& handled)>;
  using TDataAddedEvent =
      std::function<void(TclMailMessage* sender, TclMessageBody* body, TStream& data)>;
  using TEncodingProgressEvent = std::function<void(TclMailMessage* sender, TclMessageBody* body,
                                                    std::int64_t bytesProceed, std::int64_t total)>;

  TclMailMessage();
  virtual ~TclMailMessage();
  TclMailMessage(const TclMailMessage&) = delete;
  TclMailMessage& operator=(const TclMailMessage&) = delete;

  // Header data.
  const std::string& CharSet() const { return charSet_; }
  void SetCharSet(std::string_view value);
  const std::string& Subject() const { return subject_; }
  void SetSubject(std::string_view value);
  TclMessagePriority Priority() const { return priority_; }
  void SetPriority(TclMessagePriority value);
  TDateTime Date() const { return date_; }
  void SetDate(TDateTime value);
  // Changes made directly to the sender or the recipient lists do not drop a cached source.
  TclEmailAddressItem& From() { return from_; }
  const TclEmailAddressItem& From() const { return from_; }
  void SetFrom(std::string_view fullAddress);
  TclEmailAddressList& ToList() { return toList_; }
  TclEmailAddressList& CCList() { return ccList_; }
  TclEmailAddressList& BCCList() { return bccList_; }
  const TclEmailAddressList& ToList() const { return toList_; }
  const TclEmailAddressList& CCList() const { return ccList_; }
  const TclEmailAddressList& BCCList() const { return bccList_; }
  TclMessageFormat MessageFormat() const { return messageFormat_; }
  void SetMessageFormat(TclMessageFormat value);
  const std::string& Boundary() const { return boundary_; }
  TclEncodeMethod Encoding() const { return encoding_; }
  void SetEncoding(TclEncodeMethod value);
  TclEncodeMethod HeaderEncoding() const { return headerEncoding_; }
  void SetHeaderEncoding(TclEncodeMethod value);
  const std::string& ContentType() const { return contentType_; }
  void SetContentType(std::string_view value);
  const std::string& ContentSubType() const { return contentSubType_; }
  void SetContentSubType(std::string_view value);
  const std::string& ContentDisposition() const { return contentDisposition_; }
  void SetContentDisposition(std::string_view value);
  bool IncludeRFC822Header() const { return includeRFC822Header_; }
  void SetIncludeRFC822Header(bool value);
  const std::string& ReplyTo() const { return replyTo_; }
  void SetReplyTo(std::string_view value);
  const std::string& MessageID() const { return messageID_; }
  void SetMessageID(std::string_view value);
  const std::string& ReadReceiptTo() const { return readReceiptTo_; }
  void SetReadReceiptTo(std::string_view value);
  const std::string& MimeOLE() const { return mimeOLE_; }
  void SetMimeOLE(std::string_view value);
  const TclStringList& ExtraFields() const { return extraFields_; }
  void SetExtraFields(TclStringList value);
  const TclStringList& NewsGroups() const { return newsGroups_; }
  void SetNewsGroups(TclStringList value);
  const TclStringList& References() const { return references_; }
  void SetReferences(TclStringList value);
  int CharsPerLine() const { return charsPerLine_; }
  void SetCharsPerLine(int value);
  const TclStringList& KnownFields() const { return knownFields_; }
  const TclStringList& RawHeader() const { return rawHeader_; }
  int EncodedStart() const { return encodedStart_; }
  bool IsParse() const { return isParse_; }
  bool IsMultiPartContent() const { return GetIsMultiPartContent(); }

  TclMessageBodies& Bodies() { return *bodies_; }
  const TclMessageBodies& Bodies() const { return *bodies_; }
  // The first text body of type text/plain (resp. text/html), depth-first; null if none.
  TclTextBody* Text() const;
  TclTextBody* Html() const;
  // All bodies of class exactly TclAttachmentBody (resp. TclImageBody), depth-first.
  std::vector<TclAttachmentBody*> Attachments() const;
  std::vector<TclImageBody*> Images() const;
  // The lines of Html, else of Text, else of the first text body; else an empty list.
  const TclStringList& MessageText() const;

  // The message text. Reading builds (and caches until a change) the lines; writing
  // MessageSource reads a whole message, writing HeaderSource only its header.
  const TclStringList& MessageSource();
  // MessageSourceForSend is the same cached lines, writable: a sender completes the header
  // in place, and its additions stay with the message until a change rebuilds the lines.
  TclStringList& MessageSourceForSend();
  void SetMessageSource(std::span<const std::string> lines);
  const TclStringList& HeaderSource();
  void SetHeaderSource(std::span<const std::string> lines);
  const TclStringList& BodiesSource();

  // BuildMessage replaces the bodies (and resets everything but CharSet, Encoding and
  // HeaderEncoding) with the usual structure for a text, an HTML text with inline images,
  // and attachment files. No text, HTML or attachment, or images without HTML, is a
  // programming error (std::invalid_argument) and changes nothing.
  void BuildMessage(std::string_view text, std::string_view html,
                    std::span<const std::string> images, std::span<const std::string> attachments);
  void BuildMessage(std::string_view text, std::span<const std::string> attachments);
  void BuildMessage(std::string_view text, std::string_view html);

  virtual void Clear();
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  void Update();

  TNotifyEvent OnChanged;
  TAttachmentEvent OnSaveAttachment;
  TAttachmentEvent OnLoadAttachment;
  TDataAddedEvent OnDataAdded;
  TEncodingProgressEvent OnEncodingProgress;

  // Readers never nest multiparts deeper than this; deeper parts stay attachment data.
  static constexpr int kMaxNestingDepth = 32;

 protected:
  virtual TclMessageBody& CreateBody(TclMessageBodies& owner, std::string_view contentType,
                                     std::string_view disposition);
  virtual void ParseSinglePart(std::span<const std::string> lines, TclMessageBodies& bodies);
  virtual TclAttachmentBody& CreateUUEAttachmentBody(TclMessageBodies& bodies,
                                                     std::string_view fileName);
  virtual void Changed();
  virtual void DoSaveAttachment(TclAttachmentBody* body, const std::string& fileName,
                                std::shared_ptr<TStream>& data, bool& handled);
  virtual void DoLoadAttachment(TclAttachmentBody* body, const std::string& fileName,
                                std::shared_ptr<TStream>& data, bool& handled);
  virtual void DoDataAdded(TclMessageBody* body, TStream& data);
  virtual void DoEncodingProgress(TclMessageBody* body, std::int64_t bytesProceed,
                                  std::int64_t total);
  virtual void ParseContentType(std::span<const std::string> lines,
                                const TclHeaderFieldList& fields);
  virtual void WriteContentType(TclStringList& lines);
  virtual bool GetIsMultiPartContent() const;
  virtual void RegisterKnownFields();

 private:
  friend class TclMessageBody;
  friend class TclAttachmentBody;
  friend class TclMultipartBody;

  // Writing.
  void WriteHeader(TclStringList& lines, bool newBoundary);
  static std::string FreshBoundary(int attempt);
  // WriteBodies appends the body section; false when a data line holds "--" + Boundary.
  bool WriteBodies(TclStringList& lines);
  // WriteSectionWithFreshBoundary writes the body section under a boundary that none of its
  // data lines holds.
  void WriteSectionWithFreshBoundary(TclStringList& lines);
  void BuildSource();
  TclEncodeMethod HeaderMethod() const;
  // The text part of BuildMessage; returns its content type.
  std::string AddTextPart(TclMessageBodies& bodies, std::string_view text, std::string_view html,
                          bool nested);
  void AddImageParts(TclMessageBodies& bodies, std::string_view text, std::string html,
                     std::span<const std::string> images, std::string& subType);

  // Reading.
  void ParseHeader(std::span<const std::string> lines);
  void ParseBodies(std::span<const std::string> lines, int start);
  // ParseMultiPart reads the parts between boundary lines; false when none was found.
  bool ParseMultiPart(std::span<const std::string> lines, int start);
  void FinishBody(TclMessageBody* body, std::span<const std::string> lines, std::size_t first,
                  std::size_t last);
  bool WantsDataAdded() const;
  void CopyInnerSettings(const TclMailMessage& outer);

  std::string charSet_;
  std::string subject_;
  TclMessagePriority priority_ = TclMessagePriority::mpNormal;
  TDateTime date_ = 0;
  std::unique_ptr<TclMessageBodies> bodies_;
  TclEmailAddressList bccList_;
  TclEmailAddressList ccList_;
  TclEmailAddressList toList_;
  TclEmailAddressItem from_;
  TclMessageFormat messageFormat_ = TclMessageFormat::mfNone;
  std::string boundary_;
  TclEncodeMethod encoding_ = TclEncodeMethod::cmNone;
  TclEncodeMethod headerEncoding_ = TclEncodeMethod::cmNone;
  int updateCount_ = 0;
  bool isParse_ = false;
  bool destroying_ = false;
  std::string contentType_;
  std::string contentSubType_;
  TclStringList headerSource_;
  TclStringList bodiesSource_;
  TclStringList messageSource_;
  bool includeRFC822Header_ = true;
  std::string replyTo_;
  std::string messageID_;
  TclStringList extraFields_;
  TclStringList newsGroups_;
  TclStringList references_;
  std::size_t linesFieldPos_ = 0;
  std::string readReceiptTo_;
  std::string contentDisposition_;
  TclStringList knownFields_;
  std::string mimeOLE_;
  TclStringList rawHeader_;
  int charsPerLine_ = 76;
  int encodedStart_ = 0;
  TclStringList emptyText_;

  // A multipart body's inner message passes its attachment and data events to the outer
  // message, and always writes its parts between boundary lines.
  TclMailMessage* parent_ = nullptr;
  int depth_ = 0;
};
