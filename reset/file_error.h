// The file layer's one error: a failure while taking a file's length,
// reading it, writing it or closing it. Raised, never returned, so that it
// leaves the reset procedure at once; whoever runs the procedure reports it.
#pragma once

#include <exception>
#include <string>

namespace pantoline {

class FileError : public std::exception {
 public:
  enum class Cause {
    kGeneric,      // a read failed before the end of the file
    kInvalidFile,  // the file's position could not be read
    kBadSeek,      // the file's position could not be moved
    kDiskFull,     // a write, flush or close failed
  };

  // `path`: the file's full path.
  FileError(Cause cause, std::string path);

  Cause cause() const noexcept { return cause_; }
  const std::string& path() const noexcept { return path_; }
  // The cause in words, for the user: "An unspecified error occurred.", ...
  const char* CauseText() const noexcept;
  // CauseText() and the path, one line each.
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  Cause cause_;
  std::string path_;
  std::string message_;
};

}  // namespace pantoline
