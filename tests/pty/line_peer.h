// The unit's end of a real serial line in the tests, driven with the
// system's own calls so that it does not share the faults of the code under
// test: line_peer_posix.cpp (a pseudo-terminal whose slave is pinned as
// COM1) or line_peer_win32.cpp (the second of two ports that
// `wine_prefix.sh line` joins under Wine).
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "link/serial_port.h"
#include "tests/support/scripted_ports.h"

namespace pantoline::testing {

class LinePeer {
 public:
  LinePeer();  // fails the test if there is no line
  ~LinePeer();

  std::string portName;  // "\\.\COMn", the port under test
  bool Send(const Bytes& bytes);
  // What arrives, up to `atMost` bytes, until the line is quiet for 50 ms
  // (300 ms before the first byte).
  Bytes Receive(std::size_t atMost);
  void HangUp();  // the line vanishes for good, as a pulled adapter
  // Leaves the port under test as another program might: 9600 baud, 7E2,
  // flow control; on Linux also echo, and DTR and RTS low.
  void Scramble();
  // How the system reports the open port's line, e.g. "115200 8N1 dtr+ rts+",
  // then " flow", " cooked" or " slow" (a driver that gathers input) if so.
  // The modem lines (and under Wine the DCB) as a driver in front of the
  // system's saw them. nullptr: the line alone while no one has the port.
  std::string Settings(const SerialPort* port) const;
  // The most bytes the line holds in flight: what a write given up on may
  // still deliver.
  static const std::size_t kLineHolds;
  std::string PortNameOf(const std::filesystem::path& file);  // Open finds it

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pantoline::testing
