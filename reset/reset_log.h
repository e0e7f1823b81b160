// The reset log, ResetSystemLog.doc: one entry per stage of a run, byte for
// byte as every earlier log was written. Line feeds only, never CR; several
// entries end in a space after their line feed, which then starts the next
// line: readers of old logs expect exactly that.
//
// A log that could not be created takes no entries and the run goes on.
// Each entry reaches the system as soon as it is written, so that a run
// cut short leaves the entries so far. Writing raises FileError (disk
// full); see StdioFile.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "reset/stdio_file.h"

namespace pantoline {

class ResetLog {
 public:
  // Told before the run when the log is the package itself.
  static constexpr char kWouldOverwritePackage[] =
      "The reset log would overwrite the ResetPack file; no log is written.";

  // Creates the log `name`, or empties the one there; but never when it
  // is the file `package` names (a link to it, or the same file under
  // another name), which is then left untouched. False when it is not created; the
  // entries below then write nothing.
  bool Create(const char* name, const char* package);
  bool created() const { return file_.isOpen(); }
  // After a failed Create: whether it was because the log is the package.
  bool isPackage() const { return file_.refusal().isSpare; }
  // After Create failed for any other reason, the line that tells the user
  // which log and why, for a box after the run; empty otherwise.
  std::string Trouble() const;

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
  // Writes one entry, its pieces in order, and hands it to the system at
  // once, so that a run cut short leaves the entries written so far.
  // Nothing when the log was not created.
  void Entry(std::initializer_list<const char*> pieces);

  StdioFile file_;
};

}  // namespace pantoline
