#include "reset/stdio_file.h"

#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "reset/file_platform.h"

namespace pantoline {
namespace {

std::string FullPath(const char* name) {
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(name, error);
  return error ? std::string(name) : full.string();
}

}  // namespace

StdioFile::~StdioFile() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
  }
}

bool StdioFile::OpenForReading(const char* name) {
  path_ = FullPath(name);
  stream_ = file_platform::OpenExclusiveForReading(name);
  return stream_ != nullptr;
}

bool StdioFile::CreateForWriting(const char* name, const char* spare) {
  path_ = FullPath(name);
  stream_ = file_platform::CreateExclusiveForWriting(name, spare, &refusal_);
  return stream_ != nullptr;
}

std::int32_t StdioFile::Length() {
  std::int64_t here = 0;
  std::int64_t end = 0;
  if (!file_platform::Tell(stream_, &here)) {
    Raise(FileError::Cause::kInvalidFile);
  }
  if (!file_platform::Seek(stream_, 0, SEEK_END)) {
    Raise(FileError::Cause::kBadSeek);
  }
  if (!file_platform::Tell(stream_, &end)) {
    Raise(FileError::Cause::kInvalidFile);
  }
  if (!file_platform::Seek(stream_, here, SEEK_SET)) {
    Raise(FileError::Cause::kBadSeek);
  }
  constexpr std::int64_t kLargest = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(end < kLargest ? end : kLargest);
}

std::uint32_t StdioFile::Read(void* buffer, std::uint32_t count) {
  if (count == 0) {
    return 0;
  }
  const std::size_t got = std::fread(buffer, 1, count, stream_);
  if (std::ferror(stream_) || (got == 0 && !std::feof(stream_))) {
    Raise(FileError::Cause::kGeneric);
  }
  return static_cast<std::uint32_t>(got);
}

void StdioFile::WriteText(const char* text) {
  const std::size_t length = std::strlen(text);
  if (std::fwrite(text, 1, length, stream_) != length) {
    Raise(FileError::Cause::kDiskFull);
  }
}

void StdioFile::Flush() {
  if (stream_ != nullptr && std::fflush(stream_) != 0) {
    Raise(FileError::Cause::kDiskFull);
  }
}

void StdioFile::Close() {
  if (stream_ == nullptr) {
    return;
  }
  std::FILE* stream = stream_;
  stream_ = nullptr;  // closed whatever fclose says
  if (std::fclose(stream) != 0) {
    Raise(FileError::Cause::kDiskFull);
  }
}

void StdioFile::Raise(FileError::Cause cause) const { throw FileError(cause, path_); }

}  // namespace pantoline
