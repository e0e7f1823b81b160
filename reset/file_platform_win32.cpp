#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>

#include <string>

#include "reset/file_platform.h"

namespace pantoline::file_platform {
namespace {

// The system's words for the last error, without the full stop and line
// end it adds.
std::string LastErrorText() {
  char text[256] = "";
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(),
                     0, text, sizeof text, nullptr);
  std::string words(text, length);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                            words.back() == '.')) {
    words.pop_back();
  }
  return words.empty() ? "error " + std::to_string(GetLastError()) : words;
}

// What tells one file from another whatever name leads to it.
struct FileIdentity {
  DWORD volume = 0, indexHigh = 0, indexLow = 0;
  bool operator==(const FileIdentity&) const = default;
};

bool IdentityOf(HANDLE file, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) {
    return false;
  }
  *identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

// The identity of the file `name` names, asked without reading or writing
// it (and so without disturbing whoever has it open); false when there is
// no such file.
bool IdentityOf(const char* name, FileIdentity* identity) {
  const HANDLE file = CreateFileA(name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  const bool known = IdentityOf(file, identity);
  CloseHandle(file);
  return known;
}

}  // namespace

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

std::FILE* CreateExclusiveForWriting(const char* name, const char* spare, CreateRefusal* refusal) {
  *refusal = {};
  FileIdentity kept{};
  const bool keep = spare != nullptr && IdentityOf(spare, &kept);
  // Opened without emptying (share mode 0: no other opener while it is
  // open), so that the check below comes before any byte is lost.
  const HANDLE file =
      CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    refusal->reason = LastErrorText();
    return nullptr;
  }
  FileIdentity opened{};
  if (keep && IdentityOf(file, &opened) && opened == kept) {
    CloseHandle(file);
    refusal->isSpare = true;
    return nullptr;
  }
  if (GetFileType(file) == FILE_TYPE_DISK && !SetEndOfFile(file)) {
    refusal->reason = LastErrorText();
    CloseHandle(file);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    refusal->reason = "no descriptor for the file";
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, "wb");
  if (stream == nullptr) {
    refusal->reason = "no stream for the file";
    _close(fd);  // closes the handle as well
  }
  return stream;
}

bool Tell(std::FILE* stream, std::int64_t* position) {
  *position = _ftelli64(stream);
  return *position >= 0;
}

bool Seek(std::FILE* stream, std::int64_t offset, int origin) {
  return _fseeki64(stream, offset, origin) == 0;
}

}  // namespace pantoline::file_platform
