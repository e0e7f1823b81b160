// The platform's serial ports, as the device link sees them.
//
// One small interface with one implementation per operating system
// (serial_port_win32.cpp, serial_port_posix.cpp; CMake picks one) and a
// scripted one in the tests. It knows nothing of the unit's protocol: it
// opens and configures a port, moves bytes under the port's time-outs,
// purges and closes. The protocol's own pauses are the DeviceLink's, on its
// Clock; only the waits inside Read and Write happen here, in real time.
#pragma once

#include <cstdint>

#include "link/result_code.h"

namespace pantoline {

// An open port. Each implementation of SerialPorts derives its own record
// from this one in its own file; the link only holds the pointer, which
// Open hands out and Close takes back. nullptr is no port.
class SerialPort {
 protected:
  SerialPort() = default;
  ~SerialPort() = default;
};

// The sides of a port that Purge empties.
enum class PortSide : std::uint8_t { kInput, kOutput };

enum class Parity : std::uint8_t { kNone, kOdd, kEven };
enum class StopBits : std::uint8_t { kOne, kTwo };

// The line a port is set to: speed, character frame and the two modem
// control lines the program drives.
struct LineSettings {
  std::uint32_t baud = 0;  // bits per second
  std::uint8_t dataBits = 8;
  Parity parity = Parity::kNone;
  StopBits stopBits = StopBits::kOne;
  bool dtr = false;  // Data Terminal Ready raised while the port is open
  bool rts = false;  // Request To Send raised while the port is open

  friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Port time-outs in milliseconds. A read of n bytes ends at the latest
// readTotalConstant + readTotalMultiplier * n ms after it starts, and
// earlier once readInterval ms pass between two received bytes. A write of
// n bytes is given writeTotalConstant + writeTotalMultiplier * n ms.
struct SerialTimeouts {
  std::uint32_t readInterval = 0;
  std::uint32_t readTotalMultiplier = 0;
  std::uint32_t readTotalConstant = 0;
  std::uint32_t writeTotalMultiplier = 0;
  std::uint32_t writeTotalConstant = 0;

  friend bool operator==(const SerialTimeouts&, const SerialTimeouts&) = default;
};

// The one wait a Write allows itself, in milliseconds.
inline constexpr std::uint32_t kWriteWaitMs = 300;

class SerialPorts {
 public:
  virtual ~SerialPorts() = default;

  // Opens the port `name` (a device name such as "\\.\Com1") for exclusive
  // use, sets `timeouts`, applies `settings` and purges both sides.
  // Returns the port, the caller owning it until it passes it to Close, or
  // nullptr with *code set:
  //   QV5INVALIDHANDLEVALUE   no such port, in use, or access refused
  //   QV5GETCOMMSTATEERROR    its current settings could not be read
  //   QV5SETCOMMTIMEOUTERROR  the time-outs could not be set
  //   QV5SETCOMSTATEERROR     the settings were refused
  // A port that is not fully configured is closed again, never returned.
  // *code is QV5SUCCESS with a port. Does not sleep after configuring.
  virtual SerialPort* Open(const char* name, const LineSettings& settings,
                           const SerialTimeouts& timeouts, ResultCode* code) = 0;

  // Reads up to `count` bytes under the port's time-outs. Returns the
  // number placed in `buffer`: 0 when nothing arrived in time, the read
  // failed, or the device is gone (then at once).
  virtual std::uint32_t Read(SerialPort* port, std::uint8_t* buffer, std::uint32_t count) = 0;

  // Writes `count` bytes with a single wait of at most kWriteWaitMs. Returns
  //   QV5SUCCESS                   the write ended (the count the platform
  //                                reports is not examined)
  //   QV5GETOVERLAPPEDRESULTERROR  it ended but its outcome is unknown
  //   QV5WAITFORSINGLEOBJECTERROR  still pending after kWriteWaitMs (it is
  //                                cancelled before Write returns), or the
  //                                wait failed
  //   QV5CREATEEVENTERROR          no event for the call
  //   QV5COMMANDNOTSENT            refused outright, no such port, or the
  //                                device is gone (then at once)
  // A write given up on (QV5WAITFORSINGLEOBJECTERROR, or its own time-out
  // running out) discards what it had not sent yet: nothing of it goes out
  // later.
  virtual ResultCode Write(SerialPort* port, const std::uint8_t* buffer, std::uint32_t count) = 0;

  // True once the device behind `port` has vanished (an adapter or unit
  // pulled, the far end of a line closed), as the platform tells it apart
  // from a quiet line; it stays true until Close. A present but silent
  // device is never gone. False for nullptr.
  virtual bool Gone(SerialPort* port) = 0;

  // Aborts pending operations and drops buffered bytes on `side`. Harmless
  // on nullptr; the outcome is not reported. A purge of the output side
  // also drops what a finished Write handed to the driver and the line has
  // not carried yet: Drain first to keep it.
  virtual void Purge(SerialPort* port, PortSide side) = 0;

  // The number of received bytes that a Read would return at once, without
  // waiting. 0 for nullptr, when the device is gone, or when the platform
  // cannot tell.
  virtual std::uint32_t Waiting(SerialPort* port) = 0;

  // Waits until what the earlier Writes handed to the driver has gone out
  // on the line, or until the write time-out for the bytes still queued
  // when it starts (writeTotalConstant + writeTotalMultiplier * n ms) has
  // passed: a device that takes nothing in cannot hold the caller longer.
  // Returns at once on nullptr or when the device is gone, and where the
  // platform delivers writes at once (a pseudo-terminal). The outcome is
  // not reported: a purge after it may still drop what did not drain.
  virtual void Drain(SerialPort* port) = 0;

  // Closes the port, if any, and frees it: the pointer is invalid
  // afterwards.
  virtual void Close(SerialPort* port) = 0;

  // The numbers above 32 of the serial ports the system lists (COM45 gives
  // 45), ascending and without repeats, at most `capacity` of them placed
  // in `numbers`; returns how many. The search tries them after its 32
  // fixed names. A platform whose ports have no such numbers has none.
  virtual int ExtraPortNumbers(int* numbers, int capacity) {
    (void)numbers;
    (void)capacity;
    return 0;
  }

  // What the user can do about the ports that Open passed over since
  // ClearAccessAdvice because the user may not open them or another
  // program holds them: for the first port of each kind, one line naming
  // the device (the lines separated by a newline, none after the last).
  // Empty (never null) when there was none, or when the platform cannot
  // tell. Valid until the next Open or clear.
  virtual const char* AccessAdvice() const { return ""; }
  virtual void ClearAccessAdvice() {}
};

// The most ports ExtraPortNumbers can list: COM33 to COM256.
inline constexpr int kMaxExtraPorts = 224;

// The operating system's serial ports. Lives as long as the process.
SerialPorts& SystemSerialPorts();

}  // namespace pantoline
