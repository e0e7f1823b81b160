#include "reset/file_error.h"

#include <utility>

namespace pantoline {

FileError::FileError(Cause cause, std::string path)
    : cause_(cause), path_(std::move(path)), message_(std::string(CauseText()) + "\n" + path_) {}

const char* FileError::CauseText() const noexcept {
  switch (cause_) {
    case Cause::kInvalidFile:
      return "An invalid file handle was used.";
    case Cause::kBadSeek:
      return "An error occurred while setting the file pointer.";
    case Cause::kDiskFull:
      return "The disk is full.";
    case Cause::kGeneric:
      break;
  }
  return "An unspecified error occurred.";
}

}  // namespace pantoline
