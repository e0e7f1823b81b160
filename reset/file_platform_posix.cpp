#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "reset/file_platform.h"

namespace pantoline::file_platform {
namespace {

// Opens `name` without waiting: a FIFO in the working folder would
// otherwise block open() until some other program opened its far end. The
// descriptor is put back into blocking mode for the stream. -1 when the
// file does not open or `accept` refuses what it is.
int OpenNow(const char* name, int flags, bool (*accept)(mode_t)) {
  const int fd = open(name, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    return -1;
  }
  struct stat info {};
  const int status = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || !accept(info.st_mode) || status < 0 ||
      fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Only a regular file has a length and bytes that stay put: a device (a
// link to /dev/zero) or a FIFO would be read as some other package.
bool IsPackageFile(mode_t mode) { return S_ISREG(mode); }

// A FIFO or a socket would take the log away from any reader of the file;
// devices stay allowed (/dev/null, or /dev/full to try a full disk).
bool IsLogFile(mode_t mode) { return !S_ISFIFO(mode) && !S_ISSOCK(mode) && !S_ISDIR(mode); }

// Whether `file` is the file that `spare` names (if any): the same inode
// on the same device, whatever names or links lead to either.
bool IsSpare(const struct stat& file, const char* spare) {
  struct stat kept {};
  return spare != nullptr && stat(spare, &kept) == 0 && kept.st_dev == file.st_dev &&
         kept.st_ino == file.st_ino;
}

// Takes the exclusive lock on `fd` and wraps it in a stream; closes `fd`
// when either fails.
std::FILE* Hold(int fd, const char* mode) {
  if (fd < 0) {
    return nullptr;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* stream = fdopen(fd, mode);
  if (stream == nullptr) {
    close(fd);
  }
  return stream;
}

}  // namespace

std::FILE* OpenExclusiveForReading(const char* name) {
  return Hold(OpenNow(name, O_RDONLY, IsPackageFile), "rb");
}

std::FILE* CreateExclusiveForWriting(const char* name, const char* spare, CreateRefusal* refusal) {
  *refusal = {};
  // Asked before anything is opened, so that a spare file the user may
  // only read is named as what it is, not as a refused open.
  struct stat named {};
  if (stat(name, &named) == 0 && IsSpare(named, spare)) {
    refusal->isSpare = true;
    return nullptr;
  }
  errno = 0;
  const int fd = OpenNow(name, O_WRONLY | O_CREAT, IsLogFile);
  if (fd < 0) {
    refusal->reason = errno != 0 ? std::strerror(errno) : "it is no file (a FIFO, a socket or a folder)";
    return nullptr;
  }
  // And again on what was opened, in case the name changed in between:
  // opening for writing changes nothing, emptying below does.
  struct stat opened {};
  if (fstat(fd, &opened) == 0 && IsSpare(opened, spare)) {
    close(fd);
    refusal->isSpare = true;
    return nullptr;
  }
  // Emptied only once it is ours: a log held by another run stays whole.
  std::FILE* stream = Hold(fd, "wb");
  if (stream == nullptr) {
    refusal->reason = errno == EWOULDBLOCK ? "another program holds it" : std::strerror(errno);
    return nullptr;
  }
  if (S_ISREG(opened.st_mode) && ftruncate(fileno(stream), 0) != 0) {
    refusal->reason = std::strerror(errno);
    std::fclose(stream);
    return nullptr;
  }
  return stream;
}

bool Tell(std::FILE* stream, std::int64_t* position) {
  const off_t at = ftello(stream);
  *position = at;
  return at >= 0;
}

bool Seek(std::FILE* stream, std::int64_t offset, int origin) {
  return fseeko(stream, static_cast<off_t>(offset), origin) == 0;
}

}  // namespace pantoline::file_platform
