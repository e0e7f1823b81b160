// A run of the reset procedure in a folder of its own, in virtual time,
// against scripted ports and a display that records what the user would see.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "reset/file_error.h"
#include "reset/file_platform.h"
#include "reset/reset_procedure.h"
#include "tests/support/scripted_unit.h"
#include "tests/support/temp_dir.h"

namespace pantoline::testing {

struct RecordingDisplay final : ResetDisplay {
  void DisableReset() override { events.push_back("disable"); }
  void ShowStatus(const char* text) override {
    events.push_back(std::string("status ") + text);
    const bool file = std::filesystem::is_regular_file("ResetSystemLog.doc");
    logs.push_back(file ? ReadFile("ResetSystemLog.doc") : "");
  }
  void SetProgressRange(int upper) override { events.push_back("range " + std::to_string(upper)); }
  // The user may mend or replace the package while the box is up: it must
  // not be held by then.
  void ShowMessage(const char* text) override {
    std::FILE* package = file_platform::OpenExclusiveForReading(kPackageFileName);
    const bool held = package == nullptr && std::filesystem::is_regular_file(kPackageFileName);
    events.push_back(std::string("message ") + text + (held ? " (the package still held)" : ""));
    if (package != nullptr) std::fclose(package);
  }
  ProgressCallback ProgressReceiver() override {
    return [](void* context, std::int32_t bytes, std::int32_t) {
      auto* display = static_cast<RecordingDisplay*>(context);
      display->progress.push_back(bytes);
      if (bytes == display->stopAt) display->stop.Request();
    };
  }
  void* ProgressContext() override { return this; }

  std::vector<std::string> events;
  std::vector<std::string> logs;  // what the disk held of the log at each status
  std::vector<std::int32_t> progress;
  RunStop stop;              // requested once the progress reaches stopAt
  std::int32_t stopAt = -2;  // never
};

inline const std::string kOpening = "PANTOLINE LOG INITIATED \n ", kClosing = "PANTOLINE LOG COMPLETE \n",
                         kMissing = "message The ResetPack file could not be found!!";

class ResetRun : public ::testing::Test {
 protected:
  ~ResetRun() override { EXPECT_EQ(DeviceLink::linkCount, 0); }

  ResetOutcome Run(const ResetOptions& options = {}) { return OnReset(display, ports, clock, options); }
  std::string Log() const { return ReadFile("ResetSystemLog.doc"); }
  void PutPackage(const Bytes& bytes) { WriteFile(kPackageFileName, std::string(bytes.begin(), bytes.end())); }

  // The unit on Com3, answering the greeting and receiving the package.
  ScriptedReceiver& UnitOnCom3(std::int64_t requestAfterMs = 1100) {
    AnswerLikeUnit(ports.Add("\\\\.\\Com3"), 0, &receiver, requestAfterMs);
    return receiver;
  }

  TempDir dir_;
  WorkingDir cwd_{dir_.path()};
  VirtualClock clock;
  ScriptedPorts ports{clock};
  RecordingDisplay display;
  ScriptedReceiver receiver;
};

}  // namespace pantoline::testing
