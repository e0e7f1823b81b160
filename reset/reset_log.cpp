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

void ResetLog::Entry(std::initializer_list<const char*> pieces) {
  if (!file_.isOpen()) {
    return;
  }
  for (const char* piece : pieces) {
    file_.WriteText(piece);
  }
  file_.Flush();
}

void ResetLog::Opening() { Entry({"PANTOLINE LOG INITIATED \n "}); }

void ResetLog::PackageFound() { Entry({"System Download was found \n "}); }

void ResetLog::PackageMissing() { Entry({"ResetPack was NOT found \n "}); }

void ResetLog::PackageTooLarge() { Entry({"ResetPack is too large \n "}); }

void ResetLog::PackageEmpty() { Entry({"ResetPack is empty \n "}); }

void ResetLog::Locate(const char* resultText, const char* portName) {
  Entry({"App Locate the Lodestria :: \n    ", resultText, " - Current Port = ", portName, "\n"});
}

void ResetLog::Attach(const char* resultText) { Entry({"Set Progress Function:: \n    ", resultText, "\n"}); }

void ResetLog::Load(const char* resultText) { Entry({"App Load System:: \n    ", resultText, "\n"}); }

void ResetLog::Completion(std::int64_t minutes) {
  // The number goes between the two spaces after "in".
  char entry[48];
  std::snprintf(entry, sizeof entry, "Completed in %lld minutes \n", static_cast<long long>(minutes));
  Entry({entry});
}

void ResetLog::Closing() { Entry({"PANTOLINE LOG COMPLETE \n"}); }

}  // namespace pantoline
