// Whole-file replacement that never leaves a half-written file behind: the new content goes
// to a temporary file in the same folder, created with its final permissions from the first
// byte, is flushed to disk and then renamed over the old file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/UniqueFd.h"

namespace kz {

struct AtomicWriteOptions {
  unsigned mode = 0600;
  // When set, a symbolic link at the target path is refused instead of replaced, so that a
  // secret is never written to wherever the link points.
  bool refuseSymlink = true;
};

// WriteFileAtomically replaces `path` with `content`; raises EclError naming the file.
void WriteFileAtomically(const std::string& path, std::string_view content,
                         const AtomicWriteOptions& options = {});

// ReadWholeFile reads a file of at most maxBytes; `exists` tells whether it was there (a
// missing file reads as empty). Only a regular file is read: a FIFO, folder or device is
// refused at once (it is opened without blocking). A larger file or a read error raises
// EclError.
std::string ReadWholeFile(const std::string& path, std::size_t maxBytes, bool* exists = nullptr);

// OpenRegularFile opens an existing file for reading without blocking (a FIFO without a
// writer would hold the caller for ever) and answers its descriptor. A missing file, or
// anything but a regular file (a FIFO, device or folder), raises EclError naming it.
UniqueFd OpenRegularFile(const std::string& path);

// OpenForAppend opens `path` for appending, creating it with `mode` (an append-only log,
// such as the send history). It is opened without blocking; a symbolic link or anything but
// a regular file is refused, and a file left wider than `mode` is tightened. Raises EclError
// naming the file.
UniqueFd OpenForAppend(const std::string& path, unsigned mode = 0600);

bool FileExists(const std::string& path);

// MakeDirectories creates path and its missing parents with the given mode.
void MakeDirectories(const std::string& path, unsigned mode);

// RestrictToOwner takes every permission of group and others away from an existing folder
// (isFolder) or regular file, leaving it at `mode`; a missing path is fine, a symbolic link
// to a file is left alone (writes refuse it). Anything of the wrong kind, or a path whose
// permissions cannot be changed, raises EclError naming it.
void RestrictToOwner(const std::string& path, unsigned mode, bool isFolder);

// RemoveStaleTemporaries deletes, in `folder`, the temporary files WriteFileAtomically
// leaves when a save is killed half-way ("<name>.tmp-XXXXXX" for each of `names`) once
// they are older than maxAgeSeconds; it returns how many went. Never raises.
int RemoveStaleTemporaries(const std::string& folder, const std::vector<std::string>& names,
                           int maxAgeSeconds);

}  // namespace kz
