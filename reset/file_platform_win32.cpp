#include <windows.h>

#include <io.h>
#include <share.h>
#include <stdio.h>

#include "reset/file_platform.h"

namespace pantoline::file_platform {

// _SH_DENYRW is share mode 0: no other opener while the file is open.
std::FILE* OpenExclusiveForReading(const char* name) {
  std::FILE* stream = _fsopen(name, "rb", _SH_DENYRW);
  // A name that opens a pipe or a character device has no length and no
  // fixed bytes: it is no package.
  if (stream != nullptr &&
      GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) != FILE_TYPE_DISK) {
    std::fclose(stream);
    return nullptr;
  }
  return stream;
}

std::FILE* CreateExclusiveForWriting(const char* name) { return _fsopen(name, "wb", _SH_DENYRW); }

bool Tell(std::FILE* stream, std::int64_t* position) {
  *position = _ftelli64(stream);
  return *position >= 0;
}

bool Seek(std::FILE* stream, std::int64_t offset, int origin) {
  return _fseeki64(stream, offset, origin) == 0;
}

}  // namespace pantoline::file_platform
