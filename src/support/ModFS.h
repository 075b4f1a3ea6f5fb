#pragma once
// File-system queries and the small file helpers the rest of the library uses. Paths use "/";
// GetFileName also accepts "\" so that names handed over from Windows pages still work.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dorvex {

bool FileExists(const std::string& path);    // an existing file that is not a folder
bool FolderExists(const std::string& path);  // an existing folder

// Names in `folder` matching the shell pattern (case-insensitive, like the desktop file
// dialogs), without "." and ".." and without "thumbs.db" in any case; sorted by name.
// With withFolder each name is prefixed by the folder and "/". A missing folder gives none.
std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern, bool withFolder);

// The last path piece, cut before any "?"; without `extension` when the piece ends with it
// (compared without regard to case). ".*" strips whatever extension follows a "." that is
// not the first character.
std::string GetFileName(std::string_view path, std::string_view extension);
// The text after the last "." of the path; empty when there is none.
std::string GetFileExtension(std::string_view path);

bool WriteBytesToFile(std::string_view bytes, const std::string& path);   // false for an empty path
bool AppendBytesToFile(std::string_view bytes, const std::string& path);  // false for an empty path
std::int64_t GetFileLength(const std::string& path);  // 0 for an empty path or a missing file
std::string TrimAtNull(std::string& text);

// Flushes a file's data to the disk; false when it cannot be opened or flushed.
bool SyncFile(const std::string& path);
// Reads a whole file; throws DorvexError when it cannot be read.
std::string ReadFileBytes(const std::string& path);
// A regular file of at most `limit` bytes, read whole; throws DorvexError for anything else (a
// folder, a pipe, a device, a file larger than the limit, even one that grows while it is read).
std::string ReadFileBounded(const std::string& path, std::size_t limit);
// Writes a file so that a crash leaves either the old or the new content: a sibling temporary
// file is written, flushed to disk and renamed over the target. Throws DorvexError on failure
// (a full disk, a missing folder) and leaves the old file untouched.
void WriteFileAtomic(const std::string& path, std::string_view bytes);

}  // namespace dorvex
