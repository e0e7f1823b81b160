// The few file operations whose form differs between Windows and Linux.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace pantoline::file_platform {

// A binary stream on the existing regular file `name`, read-only and held
// exclusively; nullptr when that is not possible or `name` is anything but
// a regular file on disk (a FIFO, a device, a socket, a folder). Never
// waits for a FIFO's far end.
std::FILE* OpenExclusiveForReading(const char* name);
// Why CreateExclusiveForWriting gave no stream.
struct CreateRefusal {
  // `name` leads to the very file `spare` (a link to it, or the same file
  // under two names): neither was touched, and `reason` is empty.
  bool isSpare = false;
  // Otherwise the system's words for the failure ("Permission denied").
  std::string reason;
};

// A binary stream on `name`, write-only and held exclusively, created or
// emptied; nullptr when that is not possible or `name` is a FIFO or a
// socket (a device is written like a file), with *refusal saying why. A
// file held by someone else is left as it is. Never waits for a FIFO's far
// end. `spare` (may be null) names a file that must never be emptied
// through `name`: the same device and inode on Linux, the same volume and
// file index on Windows; the check comes before anything is emptied.
std::FILE* CreateExclusiveForWriting(const char* name, const char* spare, CreateRefusal* refusal);

// 64-bit position of `stream`; false on failure.
bool Tell(std::FILE* stream, std::int64_t* position);
// Moves `stream` to `offset` from `origin` (SEEK_SET, SEEK_END); false on
// failure.
bool Seek(std::FILE* stream, std::int64_t offset, int origin);

}  // namespace pantoline::file_platform
