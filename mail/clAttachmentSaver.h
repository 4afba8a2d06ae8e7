// clAttachmentSaver: saves the attachments of a message being read into one folder. A file
// name taken from a message is never used as a path: only its last component is kept (made
// safe by SafeFileName, so "..", "/" and "\" cannot lead out of the folder), an existing
// file is never overwritten or followed through a link ("name (2).ext" is taken instead),
// and a part without a name is saved as "attachment". An attachment that cannot be saved
// does not stop the reading: its body carries the error (TclAttachmentBody::SaveError).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mail/clMailMessage.h"

class TclAttachmentSaver {
 public:
  explicit TclAttachmentSaver(std::string folder) : folder_(std::move(folder)) {}

  // Attach makes the saver the message's OnSaveAttachment handler; the saver must outlive
  // the reading.
  void Attach(TclMailMessage& message);

  // CreateFile creates a new, empty file in the folder for a name from a message and
  // returns its path. Raises EclError when the folder cannot take it. A name longer than a
  // file system takes is shortened (FitFileName).
  std::string CreateFile(std::string_view fileName);

  // FitFileName gives the name for the number-th try ("name (2).ext" from 2 on), cut to at
  // most `limit` bytes: the extension (up to 32 bytes) stays, the part before it loses
  // whole UTF-8 characters from its end.
  static std::string FitFileName(std::string_view name, int number = 1,
                                 std::size_t limit = kMaxNameBytes);
  static constexpr std::size_t kMaxNameBytes = 255;  // NAME_MAX of Linux file systems

  struct TSavedFile {
    const TclAttachmentBody* Body;
    std::string Path;
  };
  const std::vector<TSavedFile>& SavedFiles() const { return saved_; }

 private:
  std::string folder_;
  std::vector<TSavedFile> saved_;
};
