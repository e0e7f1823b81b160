// A machine's serial ports played by a script, in virtual time.
//
// Each port that exists is a ScriptedPort. What the link writes is recorded
// and handed to the port's peer, which answers by scheduling bytes to
// arrive later. Reads take exactly the virtual time that a real port with
// the same time-outs would take: the total time-out, or the interval
// time-out after the last byte, or the arrival of the last byte asked for.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "tests/support/virtual_clock.h"

namespace pantoline::testing {

using Bytes = std::vector<std::uint8_t>;

// The bytes of a text, without its terminator.
Bytes B(std::string_view text);

// The first or last `n` items of `items`, or all of them when there are
// fewer: a run that went wrong must fail the check, not read past the end.
template <typename Items>
Items Head(const Items& items, std::size_t n) {
  return Items(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(std::min(n, items.size())));
}
template <typename Items>
Items Tail(const Items& items, std::size_t n) {
  return Items(items.end() - static_cast<std::ptrdiff_t>(std::min(n, items.size())), items.end());
}

class ScriptedPort {
 public:
  ScriptedPort(std::string name, VirtualClock& clock) : name_(std::move(name)), clock_(clock) {}

  const std::string& name() const { return name_; }

  // The peer sends `bytes`, the first arriving `delayMs` from now and the
  // others right behind it (or `gapMs` apart).
  void Send(std::span<const std::uint8_t> bytes, std::int64_t delayMs = 0, std::int64_t gapMs = 0);
  void Send(std::string_view text, std::int64_t delayMs = 0) { Send(B(text), delayMs); }

  // Called after every write with the bytes written.
  std::function<void(ScriptedPort&, std::span<const std::uint8_t>)> peer;

  // What Open reports for this port (0: it opens).
  ResultCode openResult = QV5SUCCESS;
  // What every Write reports.
  ResultCode writeResult = QV5SUCCESS;
  // The device has vanished: reads return nothing at once, writes fail at
  // once (13, not recorded), and Gone reports it.
  bool gone = false;

  // Everything written, each call separately and all together.
  std::vector<Bytes> writes;
  Bytes written() const;

  int opens = 0;
  bool isOpen = false;
  SerialSettings settings{};
  SerialTimeouts timeouts{};
  std::size_t pendingInput() const { return incoming_.size(); }

 private:
  friend class ScriptedPorts;
  struct Arrival {
    std::int64_t at;
    std::uint8_t byte;
  };

  std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count);
  void DropArrived();

  std::string name_;
  VirtualClock& clock_;
  std::deque<Arrival> incoming_;
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
  // Names of the Open calls, existing ports or not.
  std::vector<std::string> opened;

  PortHandle Open(const char* name, const SerialSettings& settings,
                  const SerialTimeouts& timeouts, ResultCode* code) override;
  std::uint32_t Read(PortHandle port, std::uint8_t* buffer, std::uint32_t count) override;
  ResultCode Write(PortHandle port, const std::uint8_t* buffer, std::uint32_t count) override;
  void Purge(PortHandle port, unsigned flags) override;
  bool Gone(PortHandle port) override;
  void Close(PortHandle port) override;

  // Ports open right now.
  int openCount() const;

  // What ExtraPortNumbers and AccessAdvice give.
  std::vector<int> extraNumbers;
  std::string accessAdvice;
  int ExtraPortNumbers(int* numbers, int capacity) override;
  const char* AccessAdvice() const override { return accessAdvice.c_str(); }

 private:
  ScriptedPort& At(PortHandle port);

  VirtualClock& clock_;
  std::vector<std::unique_ptr<ScriptedPort>> ports_;
};

}  // namespace pantoline::testing
