#include "reset/reset_log.h"

#include <cstdio>
#include <cstring>

namespace pantoline {

bool ResetLog::Create(const char* name, const char* package) { return file_.CreateForWriting(name, package); }

std::string ResetLog::Trouble() const {
  if (file_.refusal().reason.empty()) {  // created, never tried, or the package
    return {};
  }
  return "The reset log " + file_.path() + " could not be created: " + file_.refusal().reason;
}

void ResetLog::Put(const char* piece) {
  if (file_.isOpen()) {
    file_.WriteText(piece);
  }
}

void ResetLog::End() { file_.Flush(); }

void ResetLog::Opening() {
  Put("PANTOLINE LOG INITIATED \n ");
  End();
}

void ResetLog::PackageFound() {
  Put("System Download was found \n ");
  End();
}

void ResetLog::PackageMissing() {
  Put("ResetPack was NOT found \n ");
  End();
}

void ResetLog::PackageTooLarge() {
  Put("ResetPack is too large \n ");
  End();
}

void ResetLog::PackageEmpty() {
  Put("ResetPack is empty \n ");
  End();
}

void ResetLog::Locate(const char* resultText, const char* portName) {
  Put("App Locate the Lodestria :: \n    ");
  Put(resultText);
  Put(" - Current Port = ");
  Put(portName);
  Put("\n");
  End();
}

void ResetLog::Attach(const char* resultText) {
  Put("Set Progress Function:: \n    ");
  Put(resultText);
  Put("\n");
  End();
}

void ResetLog::Load(const char* resultText) {
  Put("App Load System:: \n    ");
  Put(resultText);
  Put("\n");
  End();
}

void ResetLog::Completion(std::int64_t minutes) {
  // The number goes between the two spaces after "in".
  char entry[48];
  std::snprintf(entry, sizeof entry, "Completed in %lld minutes \n", static_cast<long long>(minutes));
  Put(entry);
  End();
}

void ResetLog::Closing() {
  Put("PANTOLINE LOG COMPLETE \n");
  End();
}

}  // namespace pantoline
