// A buffered binary file, held without sharing while it is open.
//
// The reset procedure's two files: the package, opened read-only and only
// if it exists, and the reset log, created or emptied. Opening reports
// failure by its result; everything after that raises FileError. Bytes go
// through unchanged (binary mode: 10, 13 and 26 are data like any other).
//
// No sharing: on Windows the file is opened with share mode 0; on Linux it
// carries an exclusive flock (advisory: it keeps out every program that
// asks, and a second Pantoline). A file that another opener holds that way
// does not open.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "reset/file_error.h"
#include "reset/file_platform.h"

namespace pantoline {

class StdioFile {
 public:
  StdioFile() = default;
  // Release: closes the file if it is still open and ignores any failure,
  // since it may run while a FileError is already leaving.
  ~StdioFile();

  StdioFile(const StdioFile&) = delete;
  StdioFile& operator=(const StdioFile&) = delete;

  // Opens the existing file `name` for reading. False when it is absent,
  // not a file, not accessible or held by another opener.
  bool OpenForReading(const char* name);
  // Creates `name` for writing, or empties it if it exists (only once no
  // one else holds it). False when that is not possible, and always when
  // `name` leads to the file `spare` names (may be null), which is then
  // left untouched; refusal() says which.
  bool CreateForWriting(const char* name, const char* spare = nullptr);
  // Why the last CreateForWriting failed.
  const file_platform::CreateRefusal& refusal() const { return refusal_; }

  bool isOpen() const { return stream_ != nullptr; }
  // The full path of the file last opened (for FileError).
  const std::string& path() const { return path_; }

  // The file's size in bytes; sizes past the signed 32-bit range read as
  // its largest value. Leaves the position where it was. Raises kInvalidFile
  // or kBadSeek.
  std::int32_t Length();
  // Reads up to `count` bytes into `buffer` in one request and returns the
  // number read: fewer only at the end of the file. 0 for a count of 0,
  // without touching the file. Raises kGeneric on a read error.
  std::uint32_t Read(void* buffer, std::uint32_t count);
  // Writes the bytes of `text` without its terminator. Raises kDiskFull.
  void WriteText(const char* text);
  // Hands what was written so far to the system, so that it outlives the
  // program should it be killed. Raises kDiskFull.
  void Flush();
  // Flushes and closes; the file is closed even when that fails, which
  // raises kDiskFull. Does nothing when the file is not open.
  void Close();

  [[noreturn]] void Raise(FileError::Cause cause) const;

 private:
  std::FILE* stream_ = nullptr;
  std::string path_;
  file_platform::CreateRefusal refusal_;
};

}  // namespace pantoline
