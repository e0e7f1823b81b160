// A machine's serial ports played by a script, in virtual time. What the
// link writes goes to the port's peer, which answers by scheduling bytes to
// arrive later. Reads take exactly the virtual time that a real port with
// the same time-outs would take. A port may hold writes in its driver
// until time passes, so that a purge of the transmit side can lose them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <ranges>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "link/clock.h"
#include "link/serial_port.h"

namespace pantoline::testing {

using Bytes = std::vector<std::uint8_t>;

// The bytes of a text, without its terminator.
inline Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A clock that only moves on a pause or a read: minutes cost a test nothing.
class VirtualClock final : public Clock {
 public:
  std::int64_t NowMs() override { return now; }
  void SleepMs(std::uint32_t ms) override {
    sleeps.push_back(ms);
    now += ms;
  }
  std::int64_t now = 1'000'000;       // away from 0, so that "0" stands out
  std::vector<std::uint32_t> sleeps;  // every pause, in order
};

// A port of the script, and the link's handle on it while it is open.
struct ScriptedPort final : SerialPort {
  ScriptedPort(std::string name, VirtualClock& clock) : name(std::move(name)), clock(clock) {}

  // The peer sends `bytes`, the first arriving `delayMs` from now (not
  // before what it sent earlier) and the others right behind it.
  void Send(std::span<const std::uint8_t> bytes, std::int64_t delayMs = 0) {
    const std::int64_t at = std::max(clock.now + delayMs, incoming.empty() ? 0 : incoming.back().first);
    for (std::uint8_t byte : bytes) incoming.emplace_back(at, byte);
  }

  const std::string name;
  VirtualClock& clock;
  // Called after every write with the bytes written.
  std::function<void(ScriptedPort&, std::span<const std::uint8_t>)> peer = nullptr;
  ResultCode openResult = QV5SUCCESS;   // what Open reports for this port
  ResultCode writeResult = QV5SUCCESS;  // what every Write reports
  // The device has vanished: reads return nothing at once, writes fail at
  // once (13, not recorded), and Gone reports it.
  bool gone = false;
  std::vector<Bytes> writes = {};  // each write, in order
  // Writes stay in the driver, not yet on the line, until the next Read or
  // Drain carries them to the peer; a purge of the transmit side drops
  // them, as a UART's does.
  bool holdsWrites = false;
  std::deque<Bytes> unsent = {};
  bool isOpen = false;
  LineSettings settings = {};  // as the last Open gave them
  SerialTimeouts timeouts = {};
  std::deque<std::pair<std::int64_t, std::uint8_t>> incoming = {};  // arrival time, byte
};

class ScriptedPorts final : public SerialPorts {
 public:
  explicit ScriptedPorts(VirtualClock& clock) : clock_(clock) {}

  // Makes the port `name` exist. The reference stays valid.
  ScriptedPort& Add(const std::string& name) { return ports_.emplace_back(name, clock_); }
  int OpenCount() const { return static_cast<int>(std::ranges::count(ports_, true, &ScriptedPort::isOpen)); }

  // One line per platform call, in order: "open NAME", "close NAME",
  // "purge NAME input", "write NAME 7", "drain NAME"; reads and Waiting are
  // not logged.
  std::vector<std::string> log;
  std::vector<std::string> opened;  // the names of the Open calls, existing ports or not
  // What ExtraPortNumbers and AccessAdvice give.
  std::vector<int> extraNumbers;
  std::string accessAdvice;

  SerialPort* Open(const char* name, const LineSettings& settings, const SerialTimeouts& timeouts,
                   ResultCode* code) override {
    log.push_back(std::string("open ") + name);
    opened.push_back(name);
    *code = QV5INVALIDHANDLEVALUE;
    for (ScriptedPort& port : ports_) {
      if (port.name == name && !port.isOpen) {
        *code = port.openResult;
        port.isOpen = *code == QV5SUCCESS;
        port.settings = settings;
        port.timeouts = timeouts;
        return port.isOpen ? &port : nullptr;
      }
    }
    return nullptr;
  }

  std::uint32_t Read(SerialPort* handle, std::uint8_t* buffer, std::uint32_t count) override {
    ScriptedPort& port = At(handle);
    Carry(port);
    const SerialTimeouts& t = port.timeouts;
    const std::int64_t start = clock_.now;
    const std::int64_t total = start + t.readTotalConstant + std::int64_t{t.readTotalMultiplier} * count;
    std::uint32_t got = 0;
    std::int64_t end = port.gone ? start : total;
    while (got < count && !port.gone && !port.incoming.empty()) {
      const std::int64_t arrival = std::max(port.incoming.front().first, start);
      if (arrival > end) break;
      buffer[got++] = port.incoming.front().second;
      port.incoming.pop_front();
      // The read ends with the last byte asked for, or a quiet interval.
      end = got == count ? arrival : t.readInterval == 0 ? total : std::min(total, arrival + t.readInterval);
    }
    clock_.now = end;
    return got;
  }

  ResultCode Write(SerialPort* handle, const std::uint8_t* buffer, std::uint32_t count) override {
    ScriptedPort& port = At(handle);
    log.push_back("write " + port.name + " " + std::to_string(count));
    if (port.gone) return QV5COMMANDNOTSENT;
    port.writes.emplace_back(buffer, buffer + count);
    if (port.holdsWrites) {
      port.unsent.push_back(port.writes.back());
    } else {
      Deliver(port, port.writes.back());
    }
    return port.writeResult;
  }

  std::uint32_t Waiting(SerialPort* handle) override {
    if (handle == nullptr) return 0;
    const ScriptedPort& port = At(handle);
    const auto arrived = std::ranges::count_if(port.incoming, [&](const auto& in) { return in.first <= clock_.now; });
    return port.gone ? 0 : static_cast<std::uint32_t>(arrived);
  }

  void Drain(SerialPort* handle) override {
    if (handle == nullptr) return;
    ScriptedPort& port = At(handle);
    log.push_back("drain " + port.name);
    Carry(port);
  }

  void Purge(SerialPort* handle, PortSide side) override {
    ScriptedPort& port = At(handle);
    const bool input = side == PortSide::kInput;
    log.push_back("purge " + port.name + (input ? " input" : " output"));
    while (input && !port.incoming.empty() && port.incoming.front().first <= clock_.now) {
      port.incoming.pop_front();  // what has arrived, not what is on its way
    }
    if (!input) port.unsent.clear();
  }

  bool Gone(SerialPort* handle) override { return handle != nullptr && At(handle).gone; }

  void Close(SerialPort* handle) override {
    ScriptedPort& port = At(handle);
    log.push_back("close " + port.name);
    port.isOpen = false;
  }

  int ExtraPortNumbers(int* numbers, int capacity) override {
    return static_cast<int>(std::ranges::copy(extraNumbers | std::views::take(capacity), numbers).out - numbers);
  }
  const char* AccessAdvice() const override { return accessAdvice.c_str(); }

 private:
  // The open port behind `handle`; a handle not open ends the test program.
  ScriptedPort& At(SerialPort* handle) {
    const auto open = std::ranges::find_if(ports_, [handle](const ScriptedPort& p) { return &p == handle && p.isOpen; });
    if (open == ports_.end()) throw std::logic_error("the link used a port handle that is not open");
    return *open;
  }

  static void Deliver(ScriptedPort& port, const Bytes& bytes) {
    if (port.peer) {
      const auto peer = port.peer;  // a copy: the peer may hand the line to another while it runs
      peer(port, bytes);
    }
  }
  // The line carries what the driver holds.
  static void Carry(ScriptedPort& port) {
    for (; !port.unsent.empty() && !port.gone; port.unsent.pop_front()) Deliver(port, port.unsent.front());
  }

  VirtualClock& clock_;
  std::deque<ScriptedPort> ports_;
};

}  // namespace pantoline::testing
