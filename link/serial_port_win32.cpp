// Serial ports on Windows: overlapped I/O, one operation per call.
//
// Each Read and Write starts one overlapped operation and waits for it
// before returning, so that no operation outlives the buffer and
// OVERLAPPED record of its call. The port's time-outs end a read; a write
// gets one wait of kWriteWaitMs.
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

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "link/port_numbers_win32.h"
#include "link/serial_port.h"

namespace pantoline {
namespace {

// An open port, with the line and time-outs Open found on it: Close puts
// them back, so that a port that did not answer the search, and the unit's
// port after the run, are left as they were.
struct Win32Port final : SerialPort {
  HANDLE handle = INVALID_HANDLE_VALUE;
  SerialTimeouts timeouts;  // as Open set them
  DCB found{};
  COMMTIMEOUTS foundTimeouts{};
  bool hasFoundTimeouts = false;
  bool gone = false;
};

Win32Port* Of(SerialPort* port) { return static_cast<Win32Port*>(port); }

// The DCB for `s`, built from nothing so that no setting a previous program
// left on the port survives. Three parts of it the record does not carry:
// binary mode, the only mode Windows supports; the parity check, switched
// on although no parity bit is used, as the unit's line has always been
// configured; and sending on after an XOFF, which no flow control the
// program uses ever sends.
DCB ToDcb(const LineSettings& s) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = s.baud;
  dcb.fBinary = TRUE;
  dcb.fParity = TRUE;
  dcb.fDtrControl = s.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fRtsControl = s.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  dcb.ByteSize = s.dataBits;
  dcb.Parity = s.parity == Parity::kOdd ? ODDPARITY : s.parity == Parity::kEven ? EVENPARITY : NOPARITY;
  dcb.StopBits = s.stopBits == StopBits::kTwo ? TWOSTOPBITS : ONESTOPBIT;
  return dcb;
}

constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;
constexpr DWORD kPurgeOutput = PURGE_TXABORT | PURGE_TXCLEAR;

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
// A read's first wait on its event, and each one after it.
constexpr DWORD kReadWaitMs = 300;

class Win32SerialPorts final : public SerialPorts {
 public:
  SerialPort* Open(const char* name, const LineSettings& settings,
                   const SerialTimeouts& timeouts, ResultCode* code) override {
    const HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
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
      return nullptr;
    }
    Win32Port port;
    port.handle = handle;
    port.timeouts = timeouts;
    // Only a sign that this is a serial device at all: the settings are
    // rebuilt from nothing below.
    port.found.DCBlength = sizeof port.found;
    if (!GetCommState(handle, &port.found)) {
      return Refuse(handle, QV5GETCOMMSTATEERROR, code);
    }
    port.hasFoundTimeouts = GetCommTimeouts(handle, &port.foundTimeouts);
    // Without its time-outs a read could wait for ever: such a port is
    // never handed on.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.readInterval;
    t.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
    if (!SetCommTimeouts(handle, &t)) {
      return Refuse(handle, QV5SETCOMMTIMEOUTERROR, code);
    }
    DCB dcb = ToDcb(settings);
    const bool applied = SetCommState(handle, &dcb);
    PurgeBoth(handle);
    if (!applied) {
      PutBack(port);
      CloseHandle(handle);
      *code = QV5SETCOMSTATEERROR;
      return nullptr;
    }
    *code = QV5SUCCESS;
    return new Win32Port(port);
  }

  std::uint32_t Read(SerialPort* port, std::uint8_t* buffer, std::uint32_t count) override {
    Win32Port* p = Of(port);
    if (p == nullptr || p->gone) {
      return 0;
    }
    const HANDLE event = CallEvent();
    if (event == nullptr) {
      SetCommMask(p->handle, 0);
      return 0;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD transferred = 0;
    std::uint32_t result = 0;
    if (ReadFile(p->handle, buffer, count, &transferred, &overlapped)) {
      result = transferred;
    } else if (GetLastError() != ERROR_IO_PENDING) {
      NoteFailure(p);
    } else {
      // The port's read time-outs end the read; the bound only ends one
      // the driver has lost.
      const ULONGLONG start = GetTickCount64();
      DWORD wait = WaitForSingleObject(event, kReadWaitMs);
      if (wait == WAIT_TIMEOUT) {
        const ULONGLONG deadline = start + ReadBoundMs(p->timeouts, count);
        while (wait == WAIT_TIMEOUT && GetTickCount64() < deadline) {
          wait = WaitForSingleObject(event, kReadWaitMs);
        }
      }
      if (wait == WAIT_OBJECT_0) {
        if (GetOverlappedResult(p->handle, &overlapped, &transferred, TRUE)) {
          result = transferred;
        } else {
          NoteFailure(p);
        }
      } else {
        AbandonPending(p->handle, &overlapped);
      }
    }
    if (result == 0 && !p->gone) {
      // Some drivers complete a pulled adapter's reads with nothing and
      // tell only when asked about the port.
      DWORD errors = 0;
      if (!ClearCommError(p->handle, &errors, nullptr)) {
        NoteFailure(p);
      }
    }
    return result;
  }

  ResultCode Write(SerialPort* port, const std::uint8_t* buffer, std::uint32_t count) override {
    Win32Port* p = Of(port);
    if (p == nullptr || p->gone) {
      return QV5COMMANDNOTSENT;
    }
    const HANDLE event = CallEvent();
    if (event == nullptr) {
      SetCommMask(p->handle, 0);
      return QV5CREATEEVENTERROR;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD transferred = 0;
    ResultCode result = QV5SUCCESS;
    if (WriteFile(p->handle, buffer, count, &transferred, &overlapped)) {
      result = QV5SUCCESS;
    } else if (GetLastError() != ERROR_IO_PENDING) {
      NoteFailure(p);
      result = QV5COMMANDNOTSENT;
    } else if (WaitForSingleObject(event, kWriteWaitMs) == WAIT_OBJECT_0) {
      if (GetOverlappedResult(p->handle, &overlapped, &transferred, FALSE)) {
        result = QV5SUCCESS;
      } else {
        result = NoteFailure(p) ? QV5COMMANDNOTSENT : QV5GETOVERLAPPEDRESULTERROR;
      }
    } else {
      AbandonPending(p->handle, &overlapped);
      result = QV5WAITFORSINGLEOBJECTERROR;
    }
    return result;
  }

  bool Gone(SerialPort* port) override { return port != nullptr && Of(port)->gone; }

  void Purge(SerialPort* port, PortSide side) override {
    Win32Port* p = Of(port);
    if (p == nullptr) {
      return;
    }
    // The transmit buffer is cleared only while the driver still holds
    // bytes for it. Once its queue is empty the clear would reach past it:
    // into a USB adapter's own buffer, and under Wine, whose clear is a
    // flush of the terminal, into what a pseudo-terminal's far end has not
    // read yet. Either way it would drop bytes the line has taken on.
    DWORD flags = side == PortSide::kInput ? kPurgeInput : kPurgeOutput;
    COMSTAT status{};
    if (side == PortSide::kOutput && Queues(p, &status) && status.cbOutQue == 0) {
      flags &= ~DWORD{PURGE_TXCLEAR};
    }
    PurgeComm(p->handle, flags);
  }

  std::uint32_t Waiting(SerialPort* port) override {
    COMSTAT status{};
    if (!Queues(Of(port), &status)) {
      return 0;
    }
    return status.cbInQue;
  }

  void Drain(SerialPort* port) override {
    Win32Port* p = Of(port);
    COMSTAT status{};
    if (!Queues(p, &status)) {
      return;
    }
    // The driver's queue is watched, within the write time-out of what it
    // held. FlushFileBuffers is not called: it has no bound of its own on
    // every driver, and Wine makes it a purge of the transmit side.
    const ULONGLONG deadline = GetTickCount64() + p->timeouts.writeTotalConstant +
                               ULONGLONG{p->timeouts.writeTotalMultiplier} * status.cbOutQue;
    while (status.cbOutQue > 0 && GetTickCount64() < deadline) {
      Sleep(1);
      if (!Queues(p, &status)) {
        return;
      }
    }
  }

  void Close(SerialPort* port) override {
    Win32Port* p = Of(port);
    if (p != nullptr) {
      PutBack(*p);
      CloseHandle(p->handle);
      delete p;
    }
  }

  const char* AccessAdvice() const override { return inUse_; }
  void ClearAccessAdvice() override { inUse_[0] = '\0'; }

  int ExtraPortNumbers(int* numbers, int capacity) override {
    return ListedPortNumbersAbove32(numbers, capacity);
  }

 private:
  // Marks `p` gone if the last error says its device vanished; returns
  // whether it is gone.
  static bool NoteFailure(Win32Port* p) {
    if (DeviceVanished(GetLastError())) {
      p->gone = true;
    }
    return p->gone;
  }

  // The driver's queues of `p`; false when there is no port, or it is (or
  // just turned out to be) gone.
  static bool Queues(Win32Port* p, COMSTAT* status) {
    if (p == nullptr || p->gone) {
      return false;
    }
    DWORD errors = 0;
    if (!ClearCommError(p->handle, &errors, status)) {
      NoteFailure(p);
      return false;
    }
    return true;
  }

  // The port's total read time-out for `count` bytes plus the grace.
  static ULONGLONG ReadBoundMs(const SerialTimeouts& t, std::uint32_t count) {
    return ULONGLONG{t.readTotalConstant} + ULONGLONG{t.readTotalMultiplier} * count + kReadGraceMs;
  }

  static void PutBack(Win32Port& port) {
    SetCommState(port.handle, &port.found);
    if (port.hasFoundTimeouts) {
      SetCommTimeouts(port.handle, &port.foundTimeouts);
    }
  }

  static void PurgeBoth(HANDLE handle) {
    PurgeComm(handle, kPurgeInput);
    PurgeComm(handle, kPurgeOutput);
  }

  static SerialPort* Refuse(HANDLE handle, ResultCode why, ResultCode* code) {
    PurgeBoth(handle);
    CloseHandle(handle);
    *code = why;
    return nullptr;
  }

  // The advice for the first port found in use since ClearAccessAdvice.
  char inUse_[96] = "";
};

}  // namespace

SerialPorts& SystemSerialPorts() {
  static Win32SerialPorts ports;
  return ports;
}

}  // namespace pantoline
