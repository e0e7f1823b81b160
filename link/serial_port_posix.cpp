// Serial ports on Linux: termios for the line, poll for the time-outs.
//
// Reads and writes keep the unit's Windows semantics: a read of n bytes
// ends when n bytes have arrived, when the total time-out has passed, or
// when the interval time-out has passed since the last byte received; a
// write has a total time-out and, as on Windows, one wait of at most 300 ms.
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

#include "link/port_access_posix.h"
#include "link/port_names_posix.h"
#include "link/serial_port.h"

namespace pantoline {
namespace {

struct PosixPort {
  int fd;
  SerialTimeouts timeouts;
  termios found;  // the line as Open found it, put back by Close
  // A pseudo-terminal hands every write to the far end at once, so it has
  // no bytes of its own waiting to go out. Flushing its output would
  // instead drop what the far end has received and not read yet: the
  // transfer's last answer or its cancel, whenever that end reads at the
  // pace of a real line.
  bool pseudoTerminal = false;
  bool gone = false;
};

// Unix98 pseudo-terminal slaves have the majors 136 to 143.
bool IsPseudoTerminal(int fd) {
  struct stat status {};
  return fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && major(status.st_rdev) >= 136 &&
         major(status.st_rdev) <= 143;
}

bool DeviceVanished(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

PosixPort* FromHandle(PortHandle port) {
  return port == kNoPort ? nullptr : reinterpret_cast<PosixPort*>(port);
}

std::int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

constexpr std::int64_t Ms(std::int64_t ms) { return ms * 1'000'000; }

// Waits until `fd` is ready for `events` or `deadline` (monotonic ns) has
// passed. Returns the poll events, 0 on time-out.
short WaitFor(int fd, short events, std::int64_t deadline) {
  for (;;) {
    const std::int64_t left = deadline - NowNs();
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

bool SpeedFor(std::uint32_t baudRate, speed_t* speed) {
  switch (baudRate) {
    case 9600: *speed = B9600; return true;
    case 19200: *speed = B19200; return true;
    case 38400: *speed = B38400; return true;
    case 57600: *speed = B57600; return true;
    case 115200: *speed = B115200; return true;
    case 230400: *speed = B230400; return true;
    default: return false;
  }
}

// termios for `s`, starting from raw mode so that nothing of the port's
// previous settings (echo, canonical input, flow control) survives.
bool BuildTermios(const SerialSettings& s, termios* tty) {
  speed_t speed{};
  if (!SpeedFor(s.baudRate, &speed) || s.byteSize < 5 || s.byteSize > 8 || s.parity > 2 ||
      s.stopBits == 1 || s.stopBits > 2) {
    return false;
  }
  cfmakeraw(tty);
  tty->c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  tty->c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
  tty->c_cflag |= CLOCAL | CREAD;
  constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  tty->c_cflag |= kSizes[s.byteSize - 5];
  if (s.parity != 0) {
    tty->c_cflag |= PARENB | (s.parity == 1 ? PARODD : 0);
    if (s.flags & kFlagParity) {
      tty->c_iflag |= INPCK;
    }
  }
  if (s.stopBits == 2) {
    tty->c_cflag |= CSTOPB;
  }
  const unsigned rtsControl = (s.flags >> 12) & 3;
  if ((s.flags & kFlagOutxCtsFlow) || rtsControl == 2) {
    tty->c_cflag |= CRTSCTS;
  }
  if (s.flags & kFlagOutX) {
    tty->c_iflag |= IXON;
  }
  if (s.flags & kFlagInX) {
    tty->c_iflag |= IXOFF;
  }
  tty->c_cc[VMIN] = 0;
  tty->c_cc[VTIME] = 0;
  cfsetispeed(tty, speed);
  cfsetospeed(tty, speed);
  return true;
}

// DTR and RTS as the settings ask. Devices without modem lines (a
// pseudo-terminal) refuse the request; the line works without them.
void SetModemLines(int fd, const SerialSettings& s) {
  const unsigned dtrControl = (s.flags >> 4) & 3;
  const unsigned rtsControl = (s.flags >> 12) & 3;
  int raise = 0;
  int lower = 0;
  (dtrControl == 0 ? lower : raise) |= TIOCM_DTR;
  (rtsControl == 0 ? lower : raise) |= TIOCM_RTS;
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
  PortHandle Open(const char* name, const SerialSettings& settings,
                  const SerialTimeouts& timeouts, ResultCode* code) override {
    *code = QV5INVALIDHANDLEVALUE;
    const std::string device = ResolvePortDevice(name);
    if (device.empty()) {
      return kNoPort;
    }
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      if (errno == EACCES || errno == EPERM) {
        Advise(NoPermissionAdvice(device), true);
      } else if (errno == EBUSY) {  // another user's program holds it (TIOCEXCL)
        Advise(BusyAdvice(device), false);
      }
      return kNoPort;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      Advise(BusyAdvice(device), false);
      return kNoPort;
    }
    termios tty{};
    if (tcgetattr(fd, &tty) != 0) {
      *code = QV5GETCOMMSTATEERROR;  // not a serial device at all
      CloseFd(fd);
      return kNoPort;
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
      return kNoPort;
    }
    *code = QV5SUCCESS;
    return reinterpret_cast<PortHandle>(new PosixPort{fd, timeouts, found, IsPseudoTerminal(fd)});
  }

  std::uint32_t Read(PortHandle port, std::uint8_t* buffer, std::uint32_t count) override {
    PosixPort* p = FromHandle(port);
    if (p == nullptr || count == 0 || p->gone) {
      return 0;
    }
    const SerialTimeouts& t = p->timeouts;
    const std::int64_t totalDeadline =
        NowNs() + Ms(t.readTotalConstant + std::int64_t{t.readTotalMultiplier} * count);
    std::int64_t deadline = totalDeadline;
    std::uint32_t received = 0;
    while (received < count) {
      const ssize_t got = read(p->fd, buffer + received, count - received);
      if (got > 0) {
        received += static_cast<std::uint32_t>(got);
        // The interval time-out runs from the last byte received.
        if (t.readInterval != 0) {
          deadline = std::min(totalDeadline, NowNs() + Ms(t.readInterval));
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

  ResultCode Write(PortHandle port, const std::uint8_t* buffer, std::uint32_t count) override {
    PosixPort* p = FromHandle(port);
    if (p == nullptr || p->gone) {
      return QV5COMMANDNOTSENT;
    }
    const SerialTimeouts& t = p->timeouts;
    const std::int64_t start = NowNs();
    const std::int64_t totalDeadline =
        start + Ms(t.writeTotalConstant + std::int64_t{t.writeTotalMultiplier} * count);
    const std::int64_t waitDeadline = start + Ms(300);
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
        // finished write; only the single 300 ms wait running out first is
        // a failure.
        tcflush(p->fd, TCOFLUSH);
        return totalDeadline <= waitDeadline ? QV5SUCCESS : QV5WAITFORSINGLEOBJECTERROR;
      }
    }
    return QV5SUCCESS;
  }

  void Purge(PortHandle port, unsigned flags) override {
    const PosixPort* p = FromHandle(port);
    if (p == nullptr) {
      return;
    }
    if (flags & (kPurgeRxAbort | kPurgeRxClear)) {
      tcflush(p->fd, TCIFLUSH);
    }
    if ((flags & (kPurgeTxAbort | kPurgeTxClear)) && !p->pseudoTerminal) {
      tcflush(p->fd, TCOFLUSH);
    }
  }

  std::uint32_t Waiting(PortHandle port) override {
    const PosixPort* p = FromHandle(port);
    int count = 0;
    if (p == nullptr || p->gone || ioctl(p->fd, FIONREAD, &count) != 0 || count < 0) {
      return 0;
    }
    return static_cast<std::uint32_t>(count);
  }

  void Drain(PortHandle port) override {
    const PosixPort* p = FromHandle(port);
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
        NowNs() + Ms(t.writeTotalConstant + std::int64_t{t.writeTotalMultiplier} * queued);
    while (queued > 0 && NowNs() < deadline) {
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

  bool Gone(PortHandle port) override {
    const PosixPort* p = FromHandle(port);
    return p != nullptr && p->gone;
  }

  void Close(PortHandle port) override {
    PosixPort* p = FromHandle(port);
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
