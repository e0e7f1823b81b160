// The reset log, ResetSystemLog.doc: one entry per stage of a run, byte for
// byte as every earlier log was written. Line feeds only, never CR; several
// entries end in a space after their line feed, which then starts the next
// line: readers of old logs expect exactly that.
//
// A log that could not be created takes no entries and the run goes on.
// Writing raises FileError (disk full); see StdioFile.
#pragma once

#include <cstdint>

#include "reset/stdio_file.h"

namespace pantoline {

class ResetLog {
 public:
  static constexpr char kFileName[] = "ResetSystemLog.doc";

  // Creates the log `name` (by default kFileName in the working
  // directory), or empties the one there. False when it cannot; the
  // entries below then write nothing.
  bool Create(const char* name = kFileName);
  bool created() const { return file_.isOpen(); }

  void Opening();
  void PackageFound();
  void PackageMissing();
  void PackageTooLarge();
  void PackageEmpty();
  // `resultText`: the link's last result as DescribeLastResult gives it.
  void Locate(const char* resultText, const char* portName);
  void Attach(const char* resultText);
  void Load(const char* resultText);
  void Completion(std::int64_t minutes);
  void Closing();

  // Flushes and closes the log (FileError on failure).
  void Close() { file_.Close(); }

 private:
  void Put(const char* piece);

  StdioFile file_;
};

}  // namespace pantoline
