#include "tests/support/scripted_ports.h"

#include <algorithm>
#include <stdexcept>

namespace pantoline::testing {

Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

void ScriptedPort::Send(std::span<const std::uint8_t> bytes, std::int64_t delayMs,
                        std::int64_t gapMs) {
  std::int64_t at = clock_.NowMs() + delayMs;
  if (!incoming_.empty()) {
    at = std::max(at, incoming_.back().at);
  }
  for (std::uint8_t byte : bytes) {
    incoming_.push_back({at, byte});
    at += gapMs;
  }
}

Bytes ScriptedPort::written() const {
  Bytes all;
  for (const Bytes& w : writes) {
    all.insert(all.end(), w.begin(), w.end());
  }
  return all;
}

std::uint32_t ScriptedPort::Read(std::uint8_t* buffer, std::uint32_t count) {
  const std::int64_t start = clock_.NowMs();
  const std::int64_t total =
      start + timeouts.readTotalConstant + std::int64_t{timeouts.readTotalMultiplier} * count;
  std::uint32_t got = 0;
  std::int64_t last = 0;
  while (got < count && !incoming_.empty()) {
    const std::int64_t arrival = std::max(incoming_.front().at, start);
    const std::int64_t limit =
        got == 0 || timeouts.readInterval == 0 ? total : std::min(total, last + timeouts.readInterval);
    if (arrival > limit) {
      break;
    }
    buffer[got++] = incoming_.front().byte;
    last = arrival;
    incoming_.pop_front();
  }
  std::int64_t end = total;
  if (got == count) {
    end = last;
  } else if (got > 0 && timeouts.readInterval != 0) {
    end = std::min(total, last + timeouts.readInterval);
  }
  clock_.Advance(end - start);
  return got;
}

void ScriptedPort::DropArrived() {
  const std::int64_t now = clock_.NowMs();
  while (!incoming_.empty() && incoming_.front().at <= now) {
    incoming_.pop_front();
  }
}

ScriptedPort& ScriptedPorts::Add(const std::string& name) {
  ports_.push_back(std::make_unique<ScriptedPort>(name, clock_));
  return *ports_.back();
}

ScriptedPort* ScriptedPorts::Find(const std::string& name) {
  for (auto& port : ports_) {
    if (port->name() == name) {
      return port.get();
    }
  }
  return nullptr;
}

int ScriptedPorts::openCount() const {
  return static_cast<int>(
      std::count_if(ports_.begin(), ports_.end(), [](const auto& p) { return p->isOpen; }));
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
  opened.push_back(name);
  log.push_back(std::string("open ") + name);
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    ScriptedPort& port = *ports_[i];
    if (port.name() != name) {
      continue;
    }
    if (port.isOpen || port.openResult != QV5SUCCESS) {
      *code = port.isOpen ? QV5INVALIDHANDLEVALUE : port.openResult;
      return kNoPort;
    }
    port.isOpen = true;
    ++port.opens;
    port.settings = settings;
    port.timeouts = timeouts;
    *code = QV5SUCCESS;
    return static_cast<PortHandle>(i + 1);
  }
  *code = QV5INVALIDHANDLEVALUE;
  return kNoPort;
}

std::uint32_t ScriptedPorts::Read(PortHandle port, std::uint8_t* buffer, std::uint32_t count) {
  ScriptedPort& p = At(port);
  return p.gone ? 0 : p.Read(buffer, count);
}

bool ScriptedPorts::Gone(PortHandle port) { return port != kNoPort && At(port).gone; }

ResultCode ScriptedPorts::Write(PortHandle port, const std::uint8_t* buffer, std::uint32_t count) {
  ScriptedPort& p = At(port);
  log.push_back("write " + p.name() + " " + std::to_string(count));
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
  log.push_back("purge " + p.name() + " " + std::to_string(flags));
  if (flags & kPurgeRxClear) {
    p.DropArrived();
  }
}

void ScriptedPorts::Close(PortHandle port) {
  ScriptedPort& p = At(port);
  log.push_back("close " + p.name());
  p.isOpen = false;
}

}  // namespace pantoline::testing
