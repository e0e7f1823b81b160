// The few file operations whose form differs between Windows and Linux.
#pragma once

#include <cstdint>
#include <cstdio>

namespace pantoline::file_platform {

// A binary stream on the existing regular file `name`, read-only and held
// exclusively; nullptr when that is not possible.
std::FILE* OpenExclusiveForReading(const char* name);
// A binary stream on `name`, write-only and held exclusively, created or
// emptied; nullptr when that is not possible. A file held by someone else
// is left as it is.
std::FILE* CreateExclusiveForWriting(const char* name);

// 64-bit position of `stream`; false on failure.
bool Tell(std::FILE* stream, std::int64_t* position);
// Moves `stream` to `offset` from `origin` (SEEK_SET, SEEK_END); false on
// failure.
bool Seek(std::FILE* stream, std::int64_t offset, int origin);

}  // namespace pantoline::file_platform
