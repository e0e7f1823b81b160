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

// An open port, owned by whoever holds it until it is passed to Close.
using PortHandle = std::intptr_t;
inline constexpr PortHandle kNoPort = -1;

// Purge flags, with the platform's values; the link purges the receive side
// with kPurgeInput, then the transmit side with kPurgeOutput.
inline constexpr unsigned kPurgeTxAbort = 0x1;
inline constexpr unsigned kPurgeRxAbort = 0x2;
inline constexpr unsigned kPurgeTxClear = 0x4;
inline constexpr unsigned kPurgeRxClear = 0x8;
inline constexpr unsigned kPurgeInput = kPurgeRxAbort | kPurgeRxClear;   // 10
inline constexpr unsigned kPurgeOutput = kPurgeTxAbort | kPurgeTxClear;  // 5

// Line settings, field for field the platform's DCB record, so that the
// values the unit depends on are fixed in shared code and visible to tests.
// `flags` is the DCB's word of flag bits (fBinary is bit 0).
struct SerialSettings {
  std::uint32_t length = 0;  // DCBlength
  std::uint32_t baudRate = 0;
  std::uint32_t flags = 0;
  std::uint16_t reserved = 0;
  std::uint16_t xonLimit = 0;
  std::uint16_t xoffLimit = 0;
  std::uint8_t byteSize = 0;
  std::uint8_t parity = 0;    // 0 none
  std::uint8_t stopBits = 0;  // 0 one stop bit
  char xonChar = 0;
  char xoffChar = 0;
  char errorChar = 0;
  char eofChar = 0;
  char evtChar = 0;
  std::uint16_t reserved1 = 0;

  friend bool operator==(const SerialSettings&, const SerialSettings&) = default;
};

// Bits of SerialSettings::flags, at the DCB's positions.
inline constexpr std::uint32_t kFlagBinary = 1u << 0;
inline constexpr std::uint32_t kFlagParity = 1u << 1;
inline constexpr std::uint32_t kFlagOutxCtsFlow = 1u << 2;
inline constexpr std::uint32_t kFlagOutxDsrFlow = 1u << 3;
inline constexpr std::uint32_t kFlagDtrControlEnable = 1u << 4;  // 2-bit field, value 1
inline constexpr std::uint32_t kFlagDsrSensitivity = 1u << 6;
inline constexpr std::uint32_t kFlagTxContinueOnXoff = 1u << 7;
inline constexpr std::uint32_t kFlagOutX = 1u << 8;
inline constexpr std::uint32_t kFlagInX = 1u << 9;
inline constexpr std::uint32_t kFlagErrorChar = 1u << 10;
inline constexpr std::uint32_t kFlagNull = 1u << 11;
inline constexpr std::uint32_t kFlagRtsControlEnable = 1u << 12;  // 2-bit field, value 1
inline constexpr std::uint32_t kFlagAbortOnError = 1u << 14;

// Port time-outs in milliseconds, field for field the platform's
// COMMTIMEOUTS. A read of n bytes ends at the latest readTotalConstant +
// readTotalMultiplier * n ms after it starts, and earlier once
// readInterval ms pass between two received bytes. A write of n bytes is
// given writeTotalConstant + writeTotalMultiplier * n ms.
struct SerialTimeouts {
  std::uint32_t readInterval = 0;
  std::uint32_t readTotalMultiplier = 0;
  std::uint32_t readTotalConstant = 0;
  std::uint32_t writeTotalMultiplier = 0;
  std::uint32_t writeTotalConstant = 0;

  friend bool operator==(const SerialTimeouts&, const SerialTimeouts&) = default;
};

class SerialPorts {
 public:
  virtual ~SerialPorts() = default;

  // Opens the port `name` (a device name such as "\\.\Com1") for exclusive
  // use, sets `timeouts`, applies `settings` and purges both sides.
  // Returns the port, the caller owning it, or kNoPort with *code set:
  //   QV5INVALIDHANDLEVALUE (26)  no such port, in use, or access refused
  //   QV5GETCOMMSTATEERROR (27)   its current settings could not be read
  //   QV5SETCOMMTIMEOUTERROR (28) the time-outs could not be set
  //   QV5SETCOMSTATEERROR (29)    the settings were refused
  // A port that is not fully configured is closed again, never returned.
  // *code is QV5SUCCESS with a port. Does not sleep after configuring.
  virtual PortHandle Open(const char* name, const SerialSettings& settings,
                          const SerialTimeouts& timeouts, ResultCode* code) = 0;

  // Reads up to `count` bytes under the port's time-outs. Returns the
  // number placed in `buffer`: 0 when nothing arrived in time, the read
  // failed, or the device is gone (then at once).
  virtual std::uint32_t Read(PortHandle port, std::uint8_t* buffer, std::uint32_t count) = 0;

  // Writes `count` bytes with a single wait of at most 300 ms. Returns
  //   QV5SUCCESS (0)                   the write ended (the count the
  //                                    platform reports is not examined)
  //   QV5GETOVERLAPPEDRESULTERROR (19) it ended but its outcome is unknown
  //   QV5WAITFORSINGLEOBJECTERROR (20) still pending after 300 ms (it is
  //                                    cancelled before Write returns), or
  //                                    the wait failed
  //   QV5CREATEEVENTERROR (21)         no event for the call
  //   QV5COMMANDNOTSENT (13)           refused outright, no such port, or
  //                                    the device is gone (then at once)
  // A write given up on (20, or its own time-out running out) discards
  // what it had not sent yet: nothing of it goes out later.
  virtual ResultCode Write(PortHandle port, const std::uint8_t* buffer, std::uint32_t count) = 0;

  // True once the device behind `port` has vanished (an adapter or unit
  // pulled, the far end of a line closed), as the platform tells it apart
  // from a quiet line; it stays true until Close. A present but silent
  // device is never gone. False for kNoPort.
  virtual bool Gone(PortHandle port) = 0;

  // Aborts pending operations and drops buffered bytes on the sides that
  // `flags` name. Harmless on kNoPort; the outcome is not reported.
  // A purge of the transmit side also drops what a finished Write handed
  // to the driver and the line has not carried yet: Drain first to keep it.
  virtual void Purge(PortHandle port, unsigned flags) = 0;

  // The number of received bytes that a Read would return at once, without
  // waiting. 0 for kNoPort, when the device is gone, or when the platform
  // cannot tell.
  virtual std::uint32_t Waiting(PortHandle port) = 0;

  // Waits until what the earlier Writes handed to the driver has gone out
  // on the line, or until the write time-out for the bytes still queued
  // when it starts (writeTotalConstant + writeTotalMultiplier * n ms) has
  // passed: a device that takes nothing in cannot hold the caller longer.
  // Returns at once on kNoPort or when the device is gone, and where the
  // platform delivers writes at once (a pseudo-terminal). The outcome is
  // not reported: a purge after it may still drop what did not drain.
  virtual void Drain(PortHandle port) = 0;

  // Closes the port. The handle is invalid afterwards.
  virtual void Close(PortHandle port) = 0;

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
