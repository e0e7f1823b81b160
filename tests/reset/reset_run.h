// A run of the reset procedure in a folder of its own, in virtual time,
// against scripted ports and a display that records what the user would see.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "reset/file_error.h"
#include "reset/reset_procedure.h"
#include "tests/support/scripted_ports.h"
#include "tests/support/scripted_unit.h"
#include "tests/support/temp_dir.h"
#include "tests/support/virtual_clock.h"

namespace pantoline::testing {

class RecordingDisplay final : public ResetDisplay {
 public:
  explicit RecordingDisplay(VirtualClock& clock) : clock_(clock) {}

  void DisableReset() override { events.push_back("disable"); }
  void ShowStatus(const char* text) override {
    events.push_back(std::string("status ") + text);
    statusTimes.push_back(clock_.NowMs());
  }
  void SetProgressRange(int upper) override { events.push_back("range " + std::to_string(upper)); }
  void ShowMessage(const char* text) override { events.push_back(std::string("message ") + text); }
  ProgressCallback ProgressReceiver() override { return &Record; }
  void* ProgressContext() override { return this; }

  std::vector<std::string> events;
  std::vector<std::int64_t> statusTimes;
  std::vector<std::int32_t> progress;

 private:
  static void Record(void* context, std::int32_t bytes, std::int32_t serial) {
    auto* self = static_cast<RecordingDisplay*>(context);
    self->progress.push_back(bytes);
    EXPECT_EQ(serial, 1);
  }

  VirtualClock& clock_;
};

inline std::string Package(std::size_t length) {
  std::string data(length, '\0');
  for (std::size_t i = 0; i < length; ++i) {
    data[i] = static_cast<char>(i * 31 + 7);
  }
  return data;
}

inline constexpr char kOpening[] = "PANTOLINE LOG INITIATED \n ";
inline constexpr char kFound[] = "System Download was found \n ";
inline constexpr char kClosing[] = "PANTOLINE LOG COMPLETE \n";

class ResetRun : public ::testing::Test {
 protected:
  ResetRun() : cwd_(dir_.path()), ports(clock), display(clock) {}

  ~ResetRun() override { EXPECT_EQ(DeviceLink::linkCount, 0); }

  void Run() { OnReset(display, ports, clock); }

  std::string Log() const { return ReadFile(dir_.path() / "ResetSystemLog.doc"); }
  void PutPackage(const std::string& bytes) { WriteFile(dir_.path() / "ResetPack.qv5", bytes); }

  // The unit on Com3, answering the greeting and receiving the package.
  ScriptedReceiver& UnitOnCom3(std::int64_t requestAfterMs = 1100) {
    ScriptedPort& port = ports.Add("\\\\.\\Com3");
    receiver_ = std::make_unique<ScriptedReceiver>(port);
    AnswerLikeUnit(port, 0, receiver_.get(), requestAfterMs);
    return *receiver_;
  }

  TempDir dir_;
  WorkingDir cwd_;
  VirtualClock clock;
  ScriptedPorts ports;
  RecordingDisplay display;
  std::unique_ptr<ScriptedReceiver> receiver_;
};

}  // namespace pantoline::testing
