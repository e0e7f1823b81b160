#include "reset/reset_log.h"

#include <cstdio>
#include <cstring>

namespace pantoline {

bool ResetLog::Create(const char* name) { return file_.CreateForWriting(name); }

void ResetLog::Put(const char* piece) {
  if (file_.isOpen()) {
    file_.WriteText(piece);
  }
}

void ResetLog::Opening() { Put("PANTOLINE LOG INITIATED \n "); }

void ResetLog::PackageFound() { Put("System Download was found \n "); }

void ResetLog::PackageMissing() { Put("ResetPack was NOT found \n "); }

void ResetLog::PackageTooLarge() { Put("ResetPack is too large \n "); }

void ResetLog::PackageEmpty() { Put("ResetPack is empty \n "); }

void ResetLog::Locate(const char* resultText, const char* portName) {
  Put("App Locate the Lodestria :: \n    ");
  Put(resultText);
  Put(" - Current Port = ");
  Put(portName);
  Put("\n");
}

void ResetLog::Attach(const char* resultText) {
  Put("Set Progress Function:: \n    ");
  Put(resultText);
  Put("\n");
}

void ResetLog::Load(const char* resultText) {
  Put("App Load System:: \n    ");
  Put(resultText);
  Put("\n");
}

void ResetLog::Completion(std::int64_t minutes) {
  // The number goes between the two spaces after "in".
  char entry[48];
  std::snprintf(entry, sizeof entry, "Completed in %lld minutes \n", static_cast<long long>(minutes));
  Put(entry);
}

void ResetLog::Closing() { Put("PANTOLINE LOG COMPLETE \n"); }

}  // namespace pantoline
