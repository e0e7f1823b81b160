#include "tests/support/scripted_ports.h"

#include <algorithm>
#include <stdexcept>

namespace pantoline::testing {

Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

void ScriptedPort::Send(std::span<const std::uint8_t> bytes, std::int64_t delayMs) {
  std::int64_t at = clock_.now + delayMs;
  if (!incoming_.empty()) {
    at = std::max(at, incoming_.back().first);
  }
  for (std::uint8_t byte : bytes) {
    incoming_.emplace_back(at, byte);
  }
}

std::uint32_t ScriptedPort::Read(std::uint8_t* buffer, std::uint32_t count) {
  const std::int64_t start = clock_.now;
  const std::int64_t total =
      start + timeouts.readTotalConstant + std::int64_t{timeouts.readTotalMultiplier} * count;
  std::uint32_t got = 0;
  std::int64_t end = total;
  while (got < count && !incoming_.empty()) {
    const std::int64_t arrival = std::max(incoming_.front().first, start);
    if (arrival > end) {
      break;
    }
    buffer[got++] = incoming_.front().second;
    incoming_.pop_front();
    // The read ends with the last byte asked for, or once the line has
    // been quiet for the interval after a byte.
    end = got == count ? arrival
                       : timeouts.readInterval == 0 ? total
                                                    : std::min(total, arrival + timeouts.readInterval);
  }
  clock_.now = end;
  return got;
}

ScriptedPort& ScriptedPorts::Add(const std::string& name) {
  ports_.push_back(std::make_unique<ScriptedPort>(name, clock_));
  return *ports_.back();
}

ScriptedPort* ScriptedPorts::Find(const std::string& name) {
  const auto port = std::ranges::find_if(ports_, [&](const auto& p) { return p->name == name; });
  return port == ports_.end() ? nullptr : port->get();
}

int ScriptedPorts::OpenCount() const {
  return static_cast<int>(std::ranges::count_if(ports_, [](const auto& p) { return p->isOpen; }));
}

int ScriptedPorts::ExtraPortNumbers(int* numbers, int capacity) {
  const int count = std::min(capacity, static_cast<int>(extraNumbers.size()));
  std::copy_n(extraNumbers.begin(), count, numbers);
  return count;
}

ScriptedPort& ScriptedPorts::At(PortHandle port) {
  if (port < 1 || port > static_cast<PortHandle>(ports_.size()) || !ports_[port - 1]->isOpen) {
    throw std::logic_error("the link used a port handle that is not open");
  }
  return *ports_[port - 1];
}

PortHandle ScriptedPorts::Open(const char* name, const SerialSettings& settings,
                               const SerialTimeouts& timeouts, ResultCode* code) {
  log.push_back(std::string("open ") + name);
  opened.push_back(name);
  *code = QV5INVALIDHANDLEVALUE;
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    ScriptedPort& port = *ports_[i];
    if (port.name == name && !port.isOpen) {
      *code = port.openResult;
      if (*code != QV5SUCCESS) {
        return kNoPort;
      }
      port.isOpen = true;
      port.settings = settings;
      port.timeouts = timeouts;
      return static_cast<PortHandle>(i + 1);
    }
  }
  return kNoPort;
}

std::uint32_t ScriptedPorts::Read(PortHandle port, std::uint8_t* buffer, std::uint32_t count) {
  ScriptedPort& p = At(port);
  return p.gone ? 0 : p.Read(buffer, count);
}

ResultCode ScriptedPorts::Write(PortHandle port, const std::uint8_t* buffer, std::uint32_t count) {
  ScriptedPort& p = At(port);
  log.push_back("write " + p.name + " " + std::to_string(count));
  if (p.gone) {
    return QV5COMMANDNOTSENT;
  }
  p.writes.emplace_back(buffer, buffer + count);
  if (p.peer) {
    // A copy: the peer may hand the line to another peer while it runs.
    const auto peer = p.peer;
    peer(p, std::span<const std::uint8_t>(buffer, count));
  }
  return p.writeResult;
}

void ScriptedPorts::Purge(PortHandle port, unsigned flags) {
  ScriptedPort& p = At(port);
  log.push_back("purge " + p.name + " " + std::to_string(flags));
  while ((flags & kPurgeRxClear) && !p.incoming_.empty() && p.incoming_.front().first <= clock_.now) {
    p.incoming_.pop_front();  // what has arrived, not what is on its way
  }
}

void ScriptedPorts::Close(PortHandle port) {
  ScriptedPort& p = At(port);
  log.push_back("close " + p.name);
  p.isOpen = false;
}

}  // namespace pantoline::testing
