// A unit that vanishes mid-run, on a real line and in real time: from the
// moment the line goes, the reset takes only its own fixed pauses (plus at
// most a second) to show its last status and close the log.
//
// Run by run_on_ptys.sh, one moment per run (the line does not come back):
// the reset searches the ports and finds the unit on PANTOLINE_TEST_PORT;
// the unit is played on PANTOLINE_TEST_PEER with plain Win32 calls and
// makes the line vanish by asking pty_pair to hang up.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "reset/reset_procedure.h"
#include "tests/support/hangup_moments.h"
#include "tests/wine/peer_win32.h"

namespace pantoline::testing {
namespace {

// The unit on the peer's end: answers the greeting and the download
// command, asks for CRC blocks and acknowledges them, until `vanish`.
class Unit {
 public:
  Unit(const char* name, Vanish vanish) : vanish_(vanish), line_(OpenPeer(name)) {
    if (line_ != INVALID_HANDLE_VALUE) {
      thread_ = std::thread([this] { Run(); });
    }
  }
  ~Unit() {
    stop_ = true;
    if (thread_.joinable()) {
      thread_.join();
    }
    CloseHandle(line_);
  }

  std::atomic<std::int64_t> vanishedMs{0};

 private:
  void Send(const char* bytes) { PeerSend(line_, bytes, static_cast<DWORD>(std::strlen(bytes))); }
  void HangUp() {
    Send("pty_pair: hang up A");
    vanishedMs = SteadyMs();
  }

  void Run() {
    std::string text;
    int blocks = 0;
    bool receiving = false;
    while (!stop_) {
      const std::vector<std::uint8_t> got = PeerReceive(line_, 1);
      if (got.empty()) {
        continue;
      }
      const char c = static_cast<char>(got[0]);
      if (receiving && (c == 1 || c == 4)) {
        const bool eot = c == 4;
        for (int rest = eot ? 0 : 132; rest > 0 && !stop_;) {
          rest -= static_cast<int>(PeerReceive(line_, rest).size());
        }
        if ((eot && vanish_ == Vanish::kEot) || (!eot && ++blocks == 3 && vanish_ == Vanish::kBlock)) {
          return HangUp();
        }
        Send("\x06");
      } else if (c != '\r') {
        text += c;
      } else if (text == "SA-28\n") {
        if (vanish_ == Vanish::kGreeting) {
          return HangUp();
        }
        Send("SA-77\n\r");
        text.clear();
      } else if (text == "QV5-3\n") {
        Send("QV5-3\n\r");
        Sleep(1100);  // the link reads the echo a second after its command
        if (vanish_ == Vanish::kRequest) {
          return HangUp();
        }
        Send("C");
        receiving = true;
      } else {
        text.clear();
      }
    }
  }

  const Vanish vanish_;
  const HANDLE line_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class HangUp : public ::testing::TestWithParam<Moment> {};

TEST_P(HangUp, EndsTheRunWithinItsFixedPausesAndASecond) {
  const Moment& m = GetParam();
  const char* peer = std::getenv("PANTOLINE_TEST_PEER");
  ASSERT_NE(peer, nullptr) << "run by run_on_ptys.sh";
  TempDir dir;
  WorkingDir cwd(dir.path());
  WriteFile(dir.path() / "ResetPack.qv5", std::string(1000, 'p'));
  LastStatus display;
  Unit unit(peer, m.vanish);
  OnReset(display);
  ASSERT_NE(unit.vanishedMs, 0);
  ExpectEndedInTime(m, SteadyMs() - unit.vanishedMs, display, dir.path());
}

INSTANTIATE_TEST_SUITE_P(Moments, HangUp, ::testing::ValuesIn(kHangUpMoments), MomentName);

}  // namespace
}  // namespace pantoline::testing
