// Serial ports on Windows: overlapped I/O, one operation per call.
//
// Each Read and Write starts one overlapped operation and waits for it
// before returning, so that no operation outlives the buffer and
// OVERLAPPED record of its call. The port's time-outs end a read; a write
// gets one wait of 300 ms.
//
// Every wait is bounded, reads included: a driver that ignores the
// time-outs, or never completes a read once its adapter is pulled, must not
// hold the program for ever. A read is given its port's total read time-out
// (constant + multiplier * count, 150 ms for the unit's longest read of 9
// bytes) plus one second: a driver that keeps its time-outs completes long
// before that, and a second is far beyond the scheduling delays a busy
// machine adds, so the bound only ever ends a read the driver has lost.
// Such a read is cancelled, waited for until the system lets go of it, and
// counts as nothing received.
//
// The device is gone (the port's handle no longer leads anywhere) when
// ReadFile, WriteFile, ClearCommError or GetOverlappedResult fail on an
// open port with one of the errors of DeviceVanished below. A pulled USB
// adapter (FTDI's driver, usbser.sys for CDC devices) fails them with
// ERROR_BAD_COMMAND or ERROR_ACCESS_DENIED, as users of both report;
// ERROR_GEN_FAILURE and ERROR_DEVICE_REMOVED are the system's own words for
// a device that failed or was removed, and ERROR_INVALID_HANDLE is what a
// handle that no longer leads anywhere gives. Wine, on a pseudo-terminal whose far end
// closed, ends reads with ERROR_BROKEN_PIPE (the end of file it reads) and
// fails writes and ClearCommError with ERROR_NOT_READY (its word for EIO):
// that last one counts as well, and an empty read asks ClearCommError, so
// that Wine and drivers that complete a lost device's reads with nothing
// are caught too. From then on the port answers at once, reads with
// nothing and writes with a failure, until it is closed.
#include <windows.h>

#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "link/port_numbers_win32.h"
#include "link/serial_port.h"

namespace pantoline {
namespace {

// kNoPort is -1, which as a HANDLE is the pseudo-handle of the current
// process: a wait on it would never end, so it must never reach the system.
HANDLE ToHandle(PortHandle port) { return reinterpret_cast<HANDLE>(port); }
PortHandle FromHandle(HANDLE handle) { return reinterpret_cast<PortHandle>(handle); }

constexpr DCB ToDcb(const SerialSettings& s) {
  DCB dcb{};
  dcb.DCBlength = s.length;
  dcb.BaudRate = s.baudRate;
  dcb.fBinary = (s.flags >> 0) & 1;
  dcb.fParity = (s.flags >> 1) & 1;
  dcb.fOutxCtsFlow = (s.flags >> 2) & 1;
  dcb.fOutxDsrFlow = (s.flags >> 3) & 1;
  dcb.fDtrControl = (s.flags >> 4) & 3;
  dcb.fDsrSensitivity = (s.flags >> 6) & 1;
  dcb.fTXContinueOnXoff = (s.flags >> 7) & 1;
  dcb.fOutX = (s.flags >> 8) & 1;
  dcb.fInX = (s.flags >> 9) & 1;
  dcb.fErrorChar = (s.flags >> 10) & 1;
  dcb.fNull = (s.flags >> 11) & 1;
  dcb.fRtsControl = (s.flags >> 12) & 3;
  dcb.fAbortOnError = (s.flags >> 14) & 1;
  dcb.fDummy2 = s.flags >> 15;
  dcb.wReserved = s.reserved;
  dcb.XonLim = s.xonLimit;
  dcb.XoffLim = s.xoffLimit;
  dcb.ByteSize = s.byteSize;
  dcb.Parity = s.parity;
  dcb.StopBits = s.stopBits;
  dcb.XonChar = s.xonChar;
  dcb.XoffChar = s.xoffChar;
  dcb.ErrorChar = s.errorChar;
  dcb.EofChar = s.eofChar;
  dcb.EvtChar = s.evtChar;
  dcb.wReserved1 = s.reserved1;
  return dcb;
}

// The flags word of SerialSettings must land bit for bit in the DCB's bit
// fields, and the record must be the 28 bytes the unit's settings announce.
struct DcbWords {
  std::uint32_t length, baudRate, flags, rest[4];
};
static_assert(sizeof(DCB) == 28 && sizeof(DcbWords) == sizeof(DCB));
constexpr std::uint32_t FlagsWordOf(std::uint32_t flags) {
  SerialSettings s{};
  s.flags = flags;
  return std::bit_cast<DcbWords>(ToDcb(s)).flags;
}
constexpr bool EveryFlagBitLandsInPlace() {
  for (int bit = 0; bit < 32; ++bit) {
    if (FlagsWordOf(1u << bit) != 1u << bit) {
      return false;
    }
  }
  return true;
}
static_assert(EveryFlagBitLandsInPlace());
static_assert(FlagsWordOf(kFlagBinary | kFlagParity | kFlagDtrControlEnable |
                          kFlagTxContinueOnXoff | kFlagRtsControlEnable) == 0x1093);
static_assert(std::bit_cast<DcbWords>(ToDcb(SerialSettings{28, 115200})).length == 28);

// A pending operation's buffer and OVERLAPPED record live only as long as
// the call that started it: cancel it and wait until the system lets go.
void AbandonPending(HANDLE port, OVERLAPPED* overlapped) {
  CancelIoEx(port, overlapped);
  DWORD ignored = 0;
  GetOverlappedResult(port, overlapped, &ignored, TRUE);
}

// The event an overlapped call signals: unnamed, manual-reset, one per
// thread and kept for the thread's life: closed when the thread ends (the
// desktop program's reset runs on a thread of its own). Reuse is safe: ReadFile and WriteFile reset it as they start,
// and no operation outlives its call. A fresh event per call cost two more
// system calls per block and acknowledgement; under Wine each is a round
// trip to its server, about a tenth of a millisecond on the line's time.
//
// It is handed out with its low bit set, which the system ignores when it
// looks the handle up: that bit keeps a call that completes at once from
// also posting a completion packet, one more server request under Wine for
// a port that never has a completion port.
HANDLE CallEvent() {
  thread_local struct ThreadEvent {
    HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~ThreadEvent() {
      if (handle != nullptr) {
        CloseHandle(handle);
      }
    }
  } event;
  return event.handle == nullptr
             ? nullptr
             : reinterpret_cast<HANDLE>(reinterpret_cast<std::uintptr_t>(event.handle) | 1);
}

bool DeviceVanished(DWORD error) {
  switch (error) {
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
      return true;
    default:
      return false;
  }
}

// Beyond the port's total read time-out, before a read is taken as lost.
constexpr ULONGLONG kReadGraceMs = 1000;

class Win32SerialPorts final : public SerialPorts {
 public:
  PortHandle Open(const char* name, const SerialSettings& settings,
                  const SerialTimeouts& timeouts, ResultCode* code) override {
    const HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      // A serial port that exists but does not open is held by another
      // program: the system lets one opener have it at a time.
      if ((error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY) &&
          inUse_[0] == '\0') {
        const char* shown = std::strncmp(name, "\\\\.\\", 4) == 0 ? name + 4 : name;
        std::snprintf(inUse_, sizeof inUse_, "%s is in use by another program: end that program and try again",
                      shown);
        for (char* c = inUse_; *c != ' '; ++c) {
          *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
        }
      }
      *code = QV5INVALIDHANDLEVALUE;
      return kNoPort;
    }
    // Only a sign that this is a serial device at all: the settings are
    // rebuilt from nothing below.
    Found found{};
    found.port = FromHandle(port);
    found.state.DCBlength = sizeof found.state;
    if (!GetCommState(port, &found.state)) {
      return Refuse(port, QV5GETCOMMSTATEERROR, code);
    }
    found.hasTimeouts = GetCommTimeouts(port, &found.timeouts);
    // Without its time-outs a read could wait for ever: such a port is
    // never handed on.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.readInterval;
    t.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
    if (!SetCommTimeouts(port, &t)) {
      return Refuse(port, QV5SETCOMMTIMEOUTERROR, code);
    }
    DCB dcb = ToDcb(settings);
    const bool applied = SetCommState(port, &dcb);
    PurgeBoth(port);
    if (!applied) {
      PutBack(found);
      CloseHandle(port);
      *code = QV5SETCOMSTATEERROR;
      return kNoPort;
    }
    Remember(found);
    *code = QV5SUCCESS;
    return FromHandle(port);
  }

  std::uint32_t Read(PortHandle port, std::uint8_t* buffer, std::uint32_t count) override {
    if (port == kNoPort || Gone(port)) {
      return 0;
    }
    const HANDLE handle = ToHandle(port);
    const HANDLE event = CallEvent();
    if (event == nullptr) {
      SetCommMask(handle, 0);
      return 0;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD transferred = 0;
    std::uint32_t result = 0;
    if (ReadFile(handle, buffer, count, &transferred, &overlapped)) {
      result = transferred;
    } else if (GetLastError() != ERROR_IO_PENDING) {
      NoteFailure(port);
    } else {
      // The port's read time-outs end the read; the bound only ends one
      // the driver has lost, so it is looked up (one more system call)
      // only once a first wait has run out.
      const ULONGLONG start = GetTickCount64();
      DWORD wait = WaitForSingleObject(event, 300);
      if (wait == WAIT_TIMEOUT) {
        const ULONGLONG deadline = start + ReadBoundMs(handle, count);
        while (wait == WAIT_TIMEOUT && GetTickCount64() < deadline) {
          wait = WaitForSingleObject(event, 300);
        }
      }
      if (wait == WAIT_OBJECT_0) {
        if (GetOverlappedResult(handle, &overlapped, &transferred, TRUE)) {
          result = transferred;
        } else {
          NoteFailure(port);
        }
      } else {
        AbandonPending(handle, &overlapped);
      }
    }
    if (result == 0 && !Gone(port)) {
      // Some drivers complete a pulled adapter's reads with nothing and
      // tell only when asked about the port.
      DWORD errors = 0;
      if (!ClearCommError(handle, &errors, nullptr)) {
        NoteFailure(port);
      }
    }
    return result;
  }

  ResultCode Write(PortHandle port, const std::uint8_t* buffer, std::uint32_t count) override {
    if (port == kNoPort || Gone(port)) {
      return QV5COMMANDNOTSENT;
    }
    const HANDLE handle = ToHandle(port);
    const HANDLE event = CallEvent();
    if (event == nullptr) {
      SetCommMask(handle, 0);
      return QV5CREATEEVENTERROR;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD transferred = 0;
    ResultCode result = QV5SUCCESS;
    if (WriteFile(handle, buffer, count, &transferred, &overlapped)) {
      result = QV5SUCCESS;
    } else if (GetLastError() != ERROR_IO_PENDING) {
      NoteFailure(port);
      result = QV5COMMANDNOTSENT;
    } else if (WaitForSingleObject(event, 300) == WAIT_OBJECT_0) {
      if (GetOverlappedResult(handle, &overlapped, &transferred, FALSE)) {
        result = QV5SUCCESS;
      } else {
        result = NoteFailure(port) ? QV5COMMANDNOTSENT : QV5GETOVERLAPPEDRESULTERROR;
      }
    } else {
      AbandonPending(handle, &overlapped);
      result = QV5WAITFORSINGLEOBJECTERROR;
    }
    return result;
  }

  bool Gone(PortHandle port) override {
    for (PortHandle g : gone_) {
      if (g == port && port != kNoPort) {
        return true;
      }
    }
    return false;
  }

  void Purge(PortHandle port, unsigned flags) override {
    if (port == kNoPort) {
      return;
    }
    // The transmit buffer is cleared only while the driver still holds
    // bytes for it. Once its queue is empty the clear would reach past it:
    // into a USB adapter's own buffer, and under Wine, whose clear is a
    // flush of the terminal, into what a pseudo-terminal's far end has not
    // read yet. Either way it would drop bytes the line has taken on.
    COMSTAT status{};
    if ((flags & kPurgeTxClear) && Queues(port, &status) && status.cbOutQue == 0) {
      flags &= ~kPurgeTxClear;
    }
    PurgeComm(ToHandle(port), flags);
  }

  std::uint32_t Waiting(PortHandle port) override {
    COMSTAT status{};
    if (!Queues(port, &status)) {
      return 0;
    }
    return status.cbInQue;
  }

  void Drain(PortHandle port) override {
    COMSTAT status{};
    if (!Queues(port, &status)) {
      return;
    }
    // The driver's queue is watched, within the write time-out of what it
    // held. FlushFileBuffers is not called: it has no bound of its own on
    // every driver, and Wine makes it a purge of the transmit side.
    const HANDLE handle = ToHandle(port);
    COMMTIMEOUTS t{};
    if (!GetCommTimeouts(handle, &t)) {
      t.WriteTotalTimeoutConstant = 15;
      t.WriteTotalTimeoutMultiplier = 15;
    }
    const ULONGLONG deadline = GetTickCount64() + t.WriteTotalTimeoutConstant +
                               ULONGLONG{t.WriteTotalTimeoutMultiplier} * status.cbOutQue;
    while (status.cbOutQue > 0 && GetTickCount64() < deadline) {
      Sleep(1);
      if (!Queues(port, &status)) {
        return;
      }
    }
  }

  void Close(PortHandle port) override {
    if (port != kNoPort) {
      Forget(port);
      for (Found& f : found_) {
        if (f.port == port) {
          PutBack(f);
          f.port = kNoPort;
        }
      }
      CloseHandle(ToHandle(port));
    }
  }

  const char* AccessAdvice() const override { return inUse_; }
  void ClearAccessAdvice() override { inUse_[0] = '\0'; }

  int ExtraPortNumbers(int* numbers, int capacity) override {
    return ListedPortNumbersAbove32(numbers, capacity);
  }

 private:
  // Marks `port` gone if the last error says its device vanished; returns
  // whether it is gone.
  bool NoteFailure(PortHandle port) {
    if (!DeviceVanished(GetLastError())) {
      return Gone(port);
    }
    if (!Gone(port)) {
      for (PortHandle& g : gone_) {
        if (g == kNoPort) {
          g = port;
          break;
        }
      }
    }
    return true;
  }

  // The driver's queues of `port`; false when there is no port, or it is
  // (or just turned out to be) gone.
  bool Queues(PortHandle port, COMSTAT* status) {
    if (port == kNoPort || Gone(port)) {
      return false;
    }
    DWORD errors = 0;
    if (!ClearCommError(ToHandle(port), &errors, status)) {
      NoteFailure(port);
      return false;
    }
    return true;
  }

  void Forget(PortHandle port) {
    for (PortHandle& g : gone_) {
      if (g == port) {
        g = kNoPort;
      }
    }
  }

  // The port's total read time-out for `count` bytes plus the grace; the
  // unit's time-outs when the port's own cannot be read.
  static ULONGLONG ReadBoundMs(HANDLE port, std::uint32_t count) {
    COMMTIMEOUTS t{};
    if (!GetCommTimeouts(port, &t)) {
      t.ReadTotalTimeoutConstant = 15;
      t.ReadTotalTimeoutMultiplier = 15;
    }
    return ULONGLONG{t.ReadTotalTimeoutConstant} +
           ULONGLONG{t.ReadTotalTimeoutMultiplier} * count + kReadGraceMs;
  }

  // Ports found gone and not yet closed. The link holds one port at a
  // time; a few slots leave room for tests that hold more.
  PortHandle gone_[8] = {kNoPort, kNoPort, kNoPort, kNoPort,
                         kNoPort, kNoPort, kNoPort, kNoPort};

  // A port's line and time-outs as Open found them, put back by Close: a
  // port that did not answer the search, and the unit's port after the
  // run, are left as they were. One slot per open port.
  struct Found {
    PortHandle port = kNoPort;
    DCB state{};
    COMMTIMEOUTS timeouts{};
    bool hasTimeouts = false;
  };
  Found found_[8];
  // The advice for the first port found in use since ClearAccessAdvice.
  char inUse_[96] = "";

  void Remember(const Found& found) {
    for (Found& f : found_) {
      if (f.port == kNoPort) {
        f = found;
        return;
      }
    }
  }

  static void PutBack(Found& found) {
    const HANDLE port = ToHandle(found.port);
    SetCommState(port, &found.state);
    if (found.hasTimeouts) {
      SetCommTimeouts(port, &found.timeouts);
    }
  }

  static void PurgeBoth(HANDLE port) {
    PurgeComm(port, kPurgeInput);
    PurgeComm(port, kPurgeOutput);
  }

  static PortHandle Refuse(HANDLE port, ResultCode why, ResultCode* code) {
    PurgeBoth(port);
    CloseHandle(port);
    *code = why;
    return kNoPort;
  }
};

}  // namespace

SerialPorts& SystemSerialPorts() {
  static Win32SerialPorts ports;
  return ports;
}

}  // namespace pantoline
