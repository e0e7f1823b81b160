// DeviceLink: the one object through which Pantoline talks to the unit.
//
// A plain record (its fields are the link's state and are read by the reset
// procedure and by tests) with the operations of every layer of the link:
// byte primitives, text commands and the handshake, port discovery and the
// XModem transfer. Results are returned, never thrown: every operation that
// can fail returns a ResultCode and leaves the same value in lastResult;
// the byte reads return counts or bytes and leave lastResult alone.
//
// Nothing here allocates: command lines, replies and blocks live in small
// fixed buffers on the stack. All pauses go through the link's Clock.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/clock.h"
#include "link/result_code.h"
#include "link/run_stop.h"
#include "link/serial_port.h"

namespace pantoline {

// The progress receiver: called synchronously during a transfer with
// `bytes` = 0 when it starts, the bytes acknowledged so far (a multiple of
// 128) after each acknowledged block, and kProgressEnded when it has
// ended, whatever the outcome. `serial` is the link's serialNumber.
using ProgressCallback = void (*)(void* context, std::int32_t bytes, std::int32_t serial);
inline constexpr std::int32_t kProgressEnded = -1;

// The 32 port names searched by FindDevice, in search order, each in a
// zero-filled slot of kPortNameSlot bytes.
inline constexpr int kCandidatePortCount = 32;
inline constexpr int kPortNameSlot = 15;
// The most names a search tries: the candidates and COM33 to COM256.
inline constexpr int kMaxSearchedPorts = kCandidatePortCount + kMaxExtraPorts;
extern const char kCandidatePorts[kCandidatePortCount][kPortNameSlot];

// The unit's line: 115200 baud, 8N1, whose start bit, eight data bits and
// stop bit make ten bits a byte on the line.
inline constexpr std::uint32_t kUnitBaud = 115200;
inline constexpr std::uint32_t kLineBitsPerByte = 10;
inline constexpr std::uint32_t kUnitBytesPerSecond = kUnitBaud / kLineBitsPerByte;

// What the unit has been told so far, which decides what the link may send.
enum class LinkMode {
  kNew,        // before any search: a greeting is refused
  kSearching,  // searching, or finished with download mode: a greeting may go out
  kDownload,   // the unit answered the greeting: commands and the package may go out
};

// How an XModem transfer ended.
enum class XmodemOutcome {
  kDelivered,       // every block and the end of transfer acknowledged
  kRemoteCancel,    // the receiver cancelled
  kNoSync,          // the receiver never asked for the first block
  kGone,            // the device vanished
  kBlockRefused,    // a block was refused (or unanswered) 50 times
  kEotUnanswered,   // the end of transfer was never acknowledged
  kStopped,         // the run was asked to stop; three CAN were sent
};

// The result code a transfer's outcome is reported with: QV5SUCCESS,
// QV5XMODEMCANCELEDERROR, QV5XMODEMSYNCERROR, QV5NOCONNECTION (gone), or
// QV5XMODEMUNKNOWNERROR for the rest.
ResultCode TransferResult(XmodemOutcome outcome);

class DeviceLink {
 public:
  // Line settings and time-outs that Open applies; see link/device_link.cpp.
  static LineSettings UnitSettings();
  static const SerialTimeouts kUnitTimeouts;

  // Number of links alive; a new link takes the incremented value as its
  // serialNumber. Atomic: a run of several units holds one link per
  // thread, each constructed and destroyed on its own.
  static std::atomic<std::int32_t> linkCount;

  // A link on the operating system's serial ports and clock.
  DeviceLink();
  // A link on other ports and another clock (tests, the simulated unit's
  // tools); both must outlive the link. `stop` (borrowed, may be null) is
  // a request to end the run early; see SetStop.
  DeviceLink(SerialPorts& ports, Clock& clock, const RunStop* stop = nullptr);
  // Close: purges and closes the port if one is open, releases the number.
  ~DeviceLink();

  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  // Once `stop` (borrowed, may be null: never) is requested, the search
  // ends after the port in hand and the transfer's waits end at once: the
  // sender cancels with three CAN and SendPackage gives
  // QV5XMODEMUNKNOWNERROR. Bounded command replies and the fixed pauses
  // are not cut short.
  void SetStop(const RunStop* stop) { stop_ = stop; }
  bool StopRequested() const { return stop_ != nullptr && stop_->Requested(); }

  // --- Result texts ---------------------------------------------------

  // DescribeResult of lastResult into `text` (>= kResultTextCapacity bytes).
  bool DescribeLastResult(char* text) const;

  // --- Byte primitives --------------------------------------------------

  // Opens and configures the port `name`; on success waits 300 ms for the
  // line to settle. Returns the port (the caller stores it in portHandle)
  // or nullptr. lastResult: QV5SUCCESS, QV5INVALIDHANDLEVALUE,
  // QV5GETCOMMSTATEERROR, QV5SETCOMMTIMEOUTERROR or QV5SETCOMSTATEERROR
  // (see SerialPorts::Open).
  // Does not touch portHandle.
  SerialPort* Open(const char* name);

  // Up to `count` bytes from the port into `buffer`: the number received
  // within the port's time-outs, 0 when none (or no port).
  std::uint32_t ReadBytes(std::uint8_t* buffer, std::uint32_t count);

  // Writes `count` bytes. Returns and stores QV5SUCCESS, QV5COMMANDNOTSENT
  // (refused outright, or no port open), QV5GETOVERLAPPEDRESULTERROR,
  // QV5WAITFORSINGLEOBJECTERROR or QV5CREATEEVENTERROR (see
  // SerialPorts::Write).
  ResultCode WriteBytes(const std::uint8_t* buffer, std::uint32_t count);
  ResultCode WriteByte(std::uint8_t value);

  // The next received byte as 0..255, or kNoByte when none arrived within
  // 2 * budget read attempts 10 ms apart (about 80 ms per unit of budget).
  // Budget 0 waits without limit. kNoByte at once when the device is gone.
  std::int32_t ReadByte(std::uint16_t budget);
  static constexpr std::int32_t kNoByte = -2;

  // True when the open port's device has vanished (SerialPorts::Gone).
  bool PortGone();

  // Abort and clear the receive side / the transmit side. Always
  // QV5SUCCESS.
  ResultCode PurgeInput();
  ResultCode PurgeOutput();

  // --- Text commands and handshake -----------------------------------

  // Sends `text` (at most kMaxCommand characters) followed by LF, CR.
  // QV5SUCCESS, QV5INVALIDHANDLEVALUE (no port), QV5COMMANDNOTSENT (text
  // too long, nothing sent) or a WriteBytes code.
  ResultCode SendCommand(const char* text);
  // Reads the reply (up to 9 bytes, up to 30 attempts) and compares its
  // start with `expected` (at most kMaxReply characters). QV5SUCCESS,
  // QV5NORESPONSE, QV5INVALIDRESPONSE or QV5INVALIDHANDLEVALUE; an
  // over-long `expected` can never match and gives QV5INVALIDRESPONSE.
  ResultCode CheckReply(const char* expected);
  // Greets the unit ("SA-28", expects "SA-77") in kSearching mode, or in
  // kDownload mode once connected; on success mode becomes kDownload.
  // QV5SUCCESS, QV5NOTFOUND or QV5INCORRECTMODE (refused in this state),
  // or a SendCommand/CheckReply code.
  ResultCode Handshake();
  // Sends `text` and checks that the unit echoes it, 1000 ms later.
  // QV5SUCCESS, QV5INVALIDHANDLEVALUE, or a SendCommand/CheckReply code.
  ResultCode Command(const char* text);
  // After 1000 ms, sends "QV5-9" (kDownload mode and connected only); on
  // success mode becomes kSearching. QV5SUCCESS, QV5NOTFOUND,
  // QV5INCORRECTMODE, or a Command code.
  ResultCode FinishDownload();

  // --- Port discovery --------------------------------------------------

  // Tries the candidate ports in order, then "\\.\COMn" for each number n
  // above 32 that the ports' ExtraPortNumbers lists; the first that answers
  // Handshake stays open in portHandle, connected is set, portName holds its name.
  // QV5SUCCESS when found; otherwise what the attempt on the last name left
  // (QV5NOTFOUND or an Open code). A port already open is closed first. A
  // stop request ends the search after the port in hand, as if no later
  // port answered.
  ResultCode FindDevice();
  // Greets only the port `name` (at most kPortNameCapacity - 1 characters:
  // a candidate name, "\\.\COMn" above 32, or a name the platform's ports
  // take as a device of their own); as FindDevice otherwise. QV5SUCCESS,
  // QV5NOTFOUND, or an Open code.
  ResultCode FindDeviceOn(const char* name);
  // Every name FindDevice tries, in its order: the candidates, then the
  // ports above 32 that `ports` lists.
  static int SearchOrder(SerialPorts& ports, char (*names)[kPortNameSlot], int capacity);

  // --- Package transfer ----------------------------------------------------

  // Installs the progress receiver. QV5SUCCESS, or QV5NULLFUNCTIONPOINTER
  // when `callback` is null (the receiver installed before stays).
  ResultCode SetProgressCallback(void* context, ProgressCallback callback);
  // Calls the installed receiver, if any, with (progressContext, bytes,
  // serialNumber).
  void ReportProgress(std::int32_t bytes);
  // XModem sender over the open port: sends the `length` bytes of `data`
  // (borrowed for the call) in ceil(length / 128) blocks of 128 bytes, a
  // short last chunk followed by one pad byte 26 and zeros; a `length` of 0
  // or less sends no block, only the end of transfer. CRC-16 or checksum,
  // as the receiver asks. The bytes acknowledged go to the progress
  // receiver; the outcome is returned. Only ACK, NAK and CAN answer a
  // block (only ACK and NAK an EOT); any other byte is line noise and is
  // dropped. A block or EOT goes again only on NAK or
  // when the wait runs out, and only once the line has fallen quiet, so
  // that the answer read is always the answer to the latest send.
  XmodemOutcome XmodemSend(const std::uint8_t* data, std::int32_t length);
  // Sends the whole package of `length` bytes; TransferResult of the
  // outcome: QV5SUCCESS, QV5XMODEMSYNCERROR, QV5XMODEMCANCELEDERROR,
  // QV5XMODEMUNKNOWNERROR (also when the run was asked to stop), or
  // QV5NOCONNECTION when the device vanished during the transfer.
  ResultCode SendPackage(const std::uint8_t* data, std::int32_t length);
  // Sends "QV5-3" and, once echoed, the package. QV5SUCCESS, QV5NOTFOUND
  // (not connected), QV5INCORRECTMODE (not in kDownload mode), a Command
  // code, or a SendPackage code.
  ResultCode LoadPackage(const std::uint8_t* data, std::int32_t length);

  static constexpr int kMaxCommand = 10;
  static constexpr int kMaxReply = 9;

  // --- The record ----------------------------------------------------------
  // Room for a candidate name or a device path given by the user.
  static constexpr int kPortNameCapacity = 256;
  char portName[kPortNameCapacity];  // port the unit answered on, or "NOT FOUND"
  LinkMode mode = LinkMode::kNew;
  bool connected = false;            // set by FindDevice once a port answered
  SerialPort* portHandle = nullptr;  // the open port, owned by the link
  ResultCode lastResult = QV5SUCCESS;
  LineSettings portSettings{};       // the settings Open last applied
  ProgressCallback progressCallback = nullptr;
  std::int32_t serialNumber;
  void* progressContext = nullptr;

 private:
  void PurgeBoth();
  // Stores and returns QV5NOTFOUND when not connected, QV5INCORRECTMODE
  // when not in kDownload mode, else QV5SUCCESS: what the download's
  // commands require.
  ResultCode RequireDownloadMode();
  // Opens and greets `name`; true when the unit answered there, the port
  // then staying open.
  bool TryPort(const char* name);
  // ReadByte with the attempts left in *attemptsLeft (counted down, one
  // per attempt; null: no limit), so that a caller can go on waiting
  // within one budget after a byte it drops. Gives up (kNoByte) at once
  // when a stop has been requested.
  std::int32_t ReadByteWithin(std::uint32_t* attemptsLeft);
  // Waits within `budget` (as ReadByte) for ACK, NAK or (unless `eot`)
  // two CAN in a row, dropping every other byte. Returns kDelivered for
  // the ACK; for a NAK or a wait that ran out the outcome of sending no
  // more (kEotUnanswered where `eot`, else kBlockRefused); kRemoteCancel,
  // kGone or kStopped.
  XmodemOutcome AwaitAnswer(std::uint16_t budget, bool eot);
  // Drops input until the line has been quiet for one read time-out, so
  // that a late answer to an earlier send is not taken for the next one.
  // True, at once, when the bytes dropped hold the receiver's cancel (two
  // CAN in a row; not where `eot`, as an EOT's answer is never CAN).
  bool LetLineFallQuiet(bool eot);
  // Drops, without waiting, what has arrived: before a first send, so that
  // an answer is only ever taken from after its send. True as for
  // LetLineFallQuiet when a cancel was among it.
  bool ClearInput(bool eot);
  // Closes portHandle after purging both sides; the serial number stays.
  void ClosePort();

  SerialPorts& ports_;
  Clock& clock_;
  const RunStop* stop_ = nullptr;
};

}  // namespace pantoline
