// Serial ports on Linux: termios for the line, poll for the time-outs.
//
// Reads and writes keep the unit's Windows semantics: a read of n bytes
// ends when n bytes have arrived, when the total time-out has passed, or
// when the interval time-out has passed since the last byte received; a
// write has a total time-out and, as on Windows, one wait of at most
// kWriteWaitMs.
// A port is held exclusively: TIOCEXCL for other users' programs, and an
// flock that even a second opener running as root respects.
//
// The device is gone (an adapter or unit pulled, the far end of a
// pseudo-terminal closed) when a read or write fails with EIO, ENXIO or
// ENODEV, or when poll reports POLLHUP or POLLERR; a quiet line only ever
// times out. From then on the port answers at once: reads with nothing,
// writes with a failure.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "link/clock.h"
#include "link/port_access_posix.h"
#include "link/port_names_posix.h"
#include "link/serial_port.h"

namespace pantoline {
namespace {

struct PosixPort final : SerialPort {
  PosixPort(int fd, const SerialTimeouts& timeouts, const termios& found, bool pseudoTerminal)
      : fd(fd), timeouts(timeouts), found(found), pseudoTerminal(pseudoTerminal) {}

  int fd;
  SerialTimeouts timeouts;
  termios found;  // the line as Open found it, put back by Close
  // A pseudo-terminal hands every write to the far end at once, so it has
  // no bytes of its own waiting to go out. Flushing its output would
  // instead drop what the far end has received and not read yet: the
  // transfer's last answer or its cancel, whenever that end reads at the
  // pace of a real line.
  bool pseudoTerminal;
  bool gone = false;
};

// Unix98 pseudo-terminal slaves have the majors 136 to 143.
bool IsPseudoTerminal(int fd) {
  struct stat status {};
  return fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && major(status.st_rdev) >= 136 &&
         major(status.st_rdev) <= 143;
}

bool DeviceVanished(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

PosixPort* Of(SerialPort* port) { return static_cast<PosixPort*>(port); }

constexpr std::int64_t Ms(std::int64_t ms) { return ms * 1'000'000; }

// Waits until `fd` is ready for `events` or `deadline` (monotonic ns) has
// passed. Returns the poll events, 0 on time-out.
short WaitFor(int fd, short events, std::int64_t deadline) {
  for (;;) {
    const std::int64_t left = deadline - MonotonicNs();
    if (left <= 0) {
      return 0;
    }
    pollfd entry{fd, events, 0};
    timespec wait{static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
    const int ready = ppoll(&entry, 1, &wait, nullptr);
    if (ready > 0) {
      return entry.revents;
    }
    if (ready < 0 && errno != EINTR) {
      return POLLERR;
    }
  }
}

// termios for `s`, starting from raw mode so that nothing of the port's
// previous settings (echo, canonical input, flow control) survives. The
// one line known is the one the program sets, the unit's: 115200 8N1.
bool BuildTermios(const LineSettings& s, termios* tty) {
  if (s.baud != 115200 || s.dataBits != 8 || s.parity != Parity::kNone || s.stopBits != StopBits::kOne) {
    return false;
  }
  cfmakeraw(tty);
  tty->c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  tty->c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
  tty->c_cflag |= CLOCAL | CREAD | CS8;
  tty->c_cc[VMIN] = 0;
  tty->c_cc[VTIME] = 0;
  cfsetispeed(tty, B115200);
  cfsetospeed(tty, B115200);
  return true;
}

// DTR and RTS as the settings ask. Devices without modem lines (a
// pseudo-terminal) refuse the request; the line works without them.
void SetModemLines(int fd, const LineSettings& s) {
  int raise = 0;
  int lower = 0;
  (s.dtr ? raise : lower) |= TIOCM_DTR;
  (s.rts ? raise : lower) |= TIOCM_RTS;
  ioctl(fd, TIOCMBIS, &raise);
  if (lower != 0) {
    ioctl(fd, TIOCMBIC, &lower);
  }
}

void CloseFd(int fd) {
  ioctl(fd, TIOCNXCL);
  close(fd);  // releases the flock as well
}

// Puts back the line `found` before closing: a port that did not answer
// the search (a modem, a console, the user's own terminal pinned by
// mistake) or the unit's port after the run is left as it was found, not
// raw at 115200 baud.
void RestoreAndClose(int fd, const termios& found) {
  tcsetattr(fd, TCSANOW, &found);
  CloseFd(fd);
}

class PosixSerialPorts final : public SerialPorts {
 public:
  SerialPort* Open(const char* name, const LineSettings& settings,
                   const SerialTimeouts& timeouts, ResultCode* code) override {
    *code = QV5INVALIDHANDLEVALUE;
    const std::string device = ResolvePortDevice(name);
    if (device.empty()) {
      return nullptr;
    }
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      if (errno == EACCES || errno == EPERM) {
        Advise(NoPermissionAdvice(device), true);
      } else if (errno == EBUSY) {  // another user's program holds it (TIOCEXCL)
        Advise(BusyAdvice(device), false);
      }
      return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      Advise(BusyAdvice(device), false);
      return nullptr;
    }
    termios tty{};
    if (tcgetattr(fd, &tty) != 0) {
      *code = QV5GETCOMMSTATEERROR;  // not a serial device at all
      CloseFd(fd);
      return nullptr;
    }
    ioctl(fd, TIOCEXCL);
    RequestLowLatency(fd);
    const termios found = tty;
    const bool applied = BuildTermios(settings, &tty) && tcsetattr(fd, TCSANOW, &tty) == 0;
    if (applied) {
      SetModemLines(fd, settings);
    }
    tcflush(fd, TCIFLUSH);
    tcflush(fd, TCOFLUSH);
    if (!applied) {
      *code = QV5SETCOMSTATEERROR;
      RestoreAndClose(fd, found);  // a refusal may have taken part of them
      return nullptr;
    }
    *code = QV5SUCCESS;
    return new PosixPort(fd, timeouts, found, IsPseudoTerminal(fd));
  }

  std::uint32_t Read(SerialPort* port, std::uint8_t* buffer, std::uint32_t count) override {
    PosixPort* p = Of(port);
    if (p == nullptr || count == 0 || p->gone) {
      return 0;
    }
    const SerialTimeouts& t = p->timeouts;
    const std::int64_t totalDeadline =
        MonotonicNs() + Ms(t.readTotalConstant + std::int64_t{t.readTotalMultiplier} * count);
    std::int64_t deadline = totalDeadline;
    std::uint32_t received = 0;
    while (received < count) {
      const ssize_t got = read(p->fd, buffer + received, count - received);
      if (got > 0) {
        received += static_cast<std::uint32_t>(got);
        // The interval time-out runs from the last byte received.
        if (t.readInterval != 0) {
          deadline = std::min(totalDeadline, MonotonicNs() + Ms(t.readInterval));
        }
        continue;
      }
      if (got < 0 && errno != EAGAIN && errno != EINTR) {
        p->gone = DeviceVanished(errno);
        break;
      }
      // Only polled once a read found nothing, so a hang-up here leaves
      // nothing unread behind it.
      const short events = WaitFor(p->fd, POLLIN, deadline);
      if (events & (POLLHUP | POLLERR)) {
        p->gone = true;
        break;
      }
      if (events == 0 || (events & POLLNVAL)) {
        break;
      }
    }
    return received;
  }

  ResultCode Write(SerialPort* port, const std::uint8_t* buffer, std::uint32_t count) override {
    PosixPort* p = Of(port);
    if (p == nullptr || p->gone) {
      return QV5COMMANDNOTSENT;
    }
    const SerialTimeouts& t = p->timeouts;
    const std::int64_t start = MonotonicNs();
    const std::int64_t totalDeadline =
        start + Ms(t.writeTotalConstant + std::int64_t{t.writeTotalMultiplier} * count);
    const std::int64_t waitDeadline = start + Ms(kWriteWaitMs);
    std::uint32_t sent = 0;
    while (sent < count) {
      const ssize_t put = write(p->fd, buffer + sent, count - sent);
      if (put > 0) {
        sent += static_cast<std::uint32_t>(put);
        continue;
      }
      if (put < 0 && errno != EAGAIN && errno != EINTR) {
        p->gone = DeviceVanished(errno);
        return sent == 0 || p->gone ? QV5COMMANDNOTSENT : QV5GETOVERLAPPEDRESULTERROR;
      }
      const std::int64_t deadline = std::min(totalDeadline, waitDeadline);
      const short events = WaitFor(p->fd, POLLOUT, deadline);
      if (events & (POLLHUP | POLLERR)) {
        p->gone = true;
        return QV5COMMANDNOTSENT;
      }
      if (events == 0) {
        // Given up: what the kernel holds of this write must not go out
        // later, after the link has moved on (as the purge of an abandoned
        // write does on Windows). The write's own time-out ends it like any
        // finished write; only its one wait running out first is a failure.
        tcflush(p->fd, TCOFLUSH);
        return totalDeadline <= waitDeadline ? QV5SUCCESS : QV5WAITFORSINGLEOBJECTERROR;
      }
    }
    return QV5SUCCESS;
  }

  void Purge(SerialPort* port, PortSide side) override {
    const PosixPort* p = Of(port);
    if (p == nullptr) {
      return;
    }
    if (side == PortSide::kInput) {
      tcflush(p->fd, TCIFLUSH);
    } else if (!p->pseudoTerminal) {
      tcflush(p->fd, TCOFLUSH);
    }
  }

  std::uint32_t Waiting(SerialPort* port) override {
    const PosixPort* p = Of(port);
    int count = 0;
    if (p == nullptr || p->gone || ioctl(p->fd, FIONREAD, &count) != 0 || count < 0) {
      return 0;
    }
    return static_cast<std::uint32_t>(count);
  }

  void Drain(SerialPort* port) override {
    const PosixPort* p = Of(port);
    int queued = 0;
    if (p == nullptr || p->gone || ioctl(p->fd, TIOCOUTQ, &queued) != 0) {
      return;
    }
    // tcdrain alone has no bound: a device that holds the line back would
    // hold the link for ever. The driver's queue is watched instead, within
    // the write time-out of what it holds, and tcdrain is left only the
    // last bytes in the UART, which go out in a fraction of a millisecond.
    const SerialTimeouts& t = p->timeouts;
    const std::int64_t deadline =
        MonotonicNs() + Ms(t.writeTotalConstant + std::int64_t{t.writeTotalMultiplier} * queued);
    while (queued > 0 && MonotonicNs() < deadline) {
      const timespec pause{0, 1'000'000};
      nanosleep(&pause, nullptr);
      if (ioctl(p->fd, TIOCOUTQ, &queued) != 0) {
        return;
      }
    }
    if (queued <= 0) {
      tcdrain(p->fd);
    }
  }

  bool Gone(SerialPort* port) override {
    const PosixPort* p = Of(port);
    return p != nullptr && p->gone;
  }

  void Close(SerialPort* port) override {
    PosixPort* p = Of(port);
    if (p == nullptr) {
      return;
    }
    RestoreAndClose(p->fd, p->found);
    delete p;
  }

  // Per thread: the search and the run that reports its advice share a
  // thread, and runs of several units must not see each other's.
  const char* AccessAdvice() const override { return accessAdvice_.c_str(); }
  void ClearAccessAdvice() override {
    accessAdvice_.clear();
    permissionAdvice_.clear();
    busyAdvice_.clear();
  }

 private:
  // A port passed over for want of permission or because another program
  // holds it looks, to the search, like any port that does not open; but
  // those are the usual reasons a unit is "not found" on Linux, so the user
  // is told which device and what helps: on stderr, and to the reset
  // procedure, the first port of each kind.
  void Advise(const std::string& advice, bool permission) {
    std::fprintf(stderr, "pantoline: %s\n", advice.c_str());
    std::string& first = permission ? permissionAdvice_ : busyAdvice_;
    if (first.empty()) {
      first = advice;
      accessAdvice_ = permissionAdvice_ + (permissionAdvice_.empty() || busyAdvice_.empty() ? "" : "\n") +
                      busyAdvice_;
    }
  }

  static thread_local std::string permissionAdvice_;
  static thread_local std::string busyAdvice_;
  static thread_local std::string accessAdvice_;
};

thread_local std::string PosixSerialPorts::permissionAdvice_;
thread_local std::string PosixSerialPorts::busyAdvice_;
thread_local std::string PosixSerialPorts::accessAdvice_;

}  // namespace

SerialPorts& SystemSerialPorts() {
  static PosixSerialPorts ports;
  return ports;
}

}  // namespace pantoline
