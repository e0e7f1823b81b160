// A machine's serial ports played by a script, in virtual time.
//
// Each port that exists is a ScriptedPort. What the link writes is recorded
// and handed to the port's peer, which answers by scheduling bytes to
// arrive later. Reads take exactly the virtual time that a real port with
// the same time-outs would take: the total time-out, or the interval
// time-out after the last byte, or the arrival of the last byte asked for.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/serial_port.h"

namespace pantoline::testing {

using Bytes = std::vector<std::uint8_t>;

// The bytes of a text, without its terminator.
Bytes B(std::string_view text);

// A clock that only moves when someone sleeps on it or a read waits, so
// that minutes of protocol time cost a test nothing.
class VirtualClock final : public Clock {
 public:
  std::int64_t NowMs() override { return now; }
  void SleepMs(std::uint32_t ms) override {
    sleeps.push_back(ms);
    now += ms;
  }
  std::int64_t now = 1'000'000;  // away from 0, so that "0" stands out
  std::vector<std::uint32_t> sleeps;  // every pause, in order
};

class ScriptedPort {
 public:
  ScriptedPort(std::string name, VirtualClock& clock) : name(std::move(name)), clock_(clock) {}

  // The peer sends `bytes`, the first arriving `delayMs` from now (not
  // before what it sent earlier) and the others right behind it.
  void Send(std::span<const std::uint8_t> bytes, std::int64_t delayMs = 0);

  const std::string name;
  // Called after every write with the bytes written.
  std::function<void(ScriptedPort&, std::span<const std::uint8_t>)> peer;
  ResultCode openResult = QV5SUCCESS;  // what Open reports for this port
  ResultCode writeResult = QV5SUCCESS;  // what every Write reports
  // The device has vanished: reads return nothing at once, writes fail at
  // once (13, not recorded), and Gone reports it.
  bool gone = false;

  std::vector<Bytes> writes;  // each write, in order
  bool isOpen = false;
  SerialSettings settings{};  // as the last Open gave them
  SerialTimeouts timeouts{};

 private:
  friend class ScriptedPorts;
  std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count);

  VirtualClock& clock_;
  std::deque<std::pair<std::int64_t, std::uint8_t>> incoming_;  // arrival time, byte
};

class ScriptedPorts final : public SerialPorts {
 public:
  explicit ScriptedPorts(VirtualClock& clock) : clock_(clock) {}

  // Makes the port `name` exist. The reference stays valid.
  ScriptedPort& Add(const std::string& name);
  ScriptedPort* Find(const std::string& name);

  // One line per platform call, in order: "open NAME", "close NAME",
  // "purge NAME 10", "write NAME 7"; reads are not logged.
  std::vector<std::string> log;
  std::vector<std::string> opened;  // the names of the Open calls, existing ports or not
  int OpenCount() const;            // ports open right now

  PortHandle Open(const char* name, const SerialSettings& settings,
                  const SerialTimeouts& timeouts, ResultCode* code) override;
  std::uint32_t Read(PortHandle port, std::uint8_t* buffer, std::uint32_t count) override;
  ResultCode Write(PortHandle port, const std::uint8_t* buffer, std::uint32_t count) override;
  void Purge(PortHandle port, unsigned flags) override;
  bool Gone(PortHandle port) override { return port != kNoPort && At(port).gone; }
  void Close(PortHandle port) override;

  // What ExtraPortNumbers and AccessAdvice give.
  std::vector<int> extraNumbers;
  std::string accessAdvice;
  int ExtraPortNumbers(int* numbers, int capacity) override;
  const char* AccessAdvice() const override { return accessAdvice.c_str(); }

 private:
  // The open port behind `port`; a handle not open fails the test program.
  ScriptedPort& At(PortHandle port);

  VirtualClock& clock_;
  std::vector<std::unique_ptr<ScriptedPort>> ports_;
};

}  // namespace pantoline::testing
