#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "reset/file_platform.h"

namespace pantoline::file_platform {
namespace {

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
  const int fd = open(name, O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd >= 0 && (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))) {
    close(fd);
    return nullptr;
  }
  return Hold(fd, "rb");
}

std::FILE* CreateExclusiveForWriting(const char* name) {
  // Emptied only once it is ours: a log held by another run stays whole.
  std::FILE* stream = Hold(open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666), "wb");
  struct stat info {};
  if (stream != nullptr && fstat(fileno(stream), &info) == 0 && S_ISREG(info.st_mode) &&
      ftruncate(fileno(stream), 0) != 0) {
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
