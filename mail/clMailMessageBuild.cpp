// TclMailMessage::BuildMessage: the usual body structure for a text, an HTML text with
// inline images, and attachment files.
#include <stdexcept>

#include "core/StringUtils.h"
#include "mail/clMailMessage.h"

namespace {

// Replaces every case-insensitive occurrence of `what` in `text`.
std::string ReplaceNoCase(std::string_view text, std::string_view what, std::string_view with) {
  if (what.empty())
    return std::string(text);
  std::string out;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = kz::FindNoCase(text, what, pos)) != std::string_view::npos;
       pos = hit + what.size()) {
    out += text.substr(pos, hit - pos);
    out += with;
  }
  out += text.substr(pos);
  return out;
}

}  // namespace

std::string TclMailMessage::AddTextPart(TclMessageBodies& bodies, std::string_view text,
                                        std::string_view html, bool) {
  if (!text.empty())
    bodies.AddText(text);
  if (!html.empty())
    bodies.AddHtml(html);
  if (!text.empty() && !html.empty())
    return "multipart/alternative";
  return html.empty() ? "text/plain" : "text/html";
}

void TclMailMessage::AddImageParts(TclMessageBodies& bodies, std::string_view text,
                                   std::string html, std::span<const std::string> images,
                                   std::string& subType) {
  for (const std::string& file : images) {
    TclImageBody& image = bodies.AddImage(file);
    html = ReplaceNoCase(html, image.FileName(), "cid:" + image.ContentID());
  }
  if (!text.empty() && !html.empty()) {
    TclMultipartBody& multipart = bodies.AddMultipart();
    subType = AddTextPart(multipart.Bodies(), text, html, true);
    multipart.SetContentType(subType);
  } else {
    subType = AddTextPart(bodies, text, html, false);
  }
  bodies.Move(bodies.Count() - 1, 0);
}

void TclMailMessage::BuildMessage(std::string_view text, std::string_view html,
                                  std::span<const std::string> images,
                                  std::span<const std::string> attachments) {
  if (text.empty() && html.empty() && attachments.empty())
    throw std::invalid_argument("BuildMessage: no text, HTML text or attachment");
  if (!images.empty() && html.empty())
    throw std::invalid_argument("BuildMessage: images need an HTML text");
  BeginUpdate();
  try {
    const std::string charSet = charSet_;
    const TclEncodeMethod encoding = encoding_;
    const TclEncodeMethod headerEncoding = headerEncoding_;
    Clear();
    charSet_ = charSet;
    encoding_ = encoding;
    headerEncoding_ = headerEncoding;
    if (images.empty() && attachments.empty()) {
      contentType_ = AddTextPart(*bodies_, text, html, false);
    } else if (images.empty()) {
      if (!text.empty() && !html.empty()) {
        TclMultipartBody& multipart = bodies_->AddMultipart();
        AddTextPart(multipart.Bodies(), text, html, true);
        multipart.SetContentType("multipart/alternative");
      } else {
        AddTextPart(*bodies_, text, html, false);
        if (bodies_->Count() == 0)
          bodies_->AddText("");
      }
      for (const std::string& file : attachments)
        bodies_->AddAttachment(file);
      contentType_ = "multipart/mixed";
    } else if (attachments.empty()) {
      AddImageParts(*bodies_, text, std::string(html), images, contentSubType_);
      contentType_ = "multipart/related";
    } else {
      TclMultipartBody& related = bodies_->AddMultipart();
      std::string subType;
      AddImageParts(related.Bodies(), text, std::string(html), images, subType);
      related.SetContentSubType(subType);
      related.SetContentType("multipart/related");
      for (const std::string& file : attachments)
        bodies_->AddAttachment(file);
      contentType_ = "multipart/mixed";
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TclMailMessage::BuildMessage(std::string_view text, std::span<const std::string> attachments) {
  BuildMessage(text, "", {}, attachments);
}

void TclMailMessage::BuildMessage(std::string_view text, std::string_view html) {
  BuildMessage(text, html, {}, {});
}
