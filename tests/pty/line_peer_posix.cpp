// The unit's end of the line on Linux: the master of a pseudo-terminal
// whose slave is pinned as COM1 in a configuration folder of the test's own.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdarg>

#include "tests/pty/line_peer.h"
#include "tests/support/config_home_posix.h"

// A USB serial driver in place of the pseudo-terminal's for what a
// pseudo-terminal cannot show: the test program is linked with
// --wrap=ioctl, so the port layer's calls come here first. The driver keeps
// DTR and RTS, and its serial flags, one of its own among them.
constexpr int kDriverOwnFlag = 1 << 6;  // to be kept as it was
static struct FakeDriver {
  int modemOn = 0;  // TIOCM_* bits
  int serialFlags = kDriverOwnFlag;
} gDriver;

extern "C" int __real_ioctl(int fd, unsigned long request, ...);
extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  auto* serial = static_cast<serial_struct*>(argument);
  if (request == TIOCMBIS) {
    gDriver.modemOn |= *static_cast<int*>(argument);
  } else if (request == TIOCMBIC) {
    gDriver.modemOn &= ~*static_cast<int*>(argument);
  } else if (request == TIOCGSERIAL) {
    serial->flags = gDriver.serialFlags;
  } else if (request == TIOCSSERIAL) {
    gDriver.serialFlags = serial->flags;
  } else {
    return __real_ioctl(fd, request, argument);
  }
  return 0;
}

namespace pantoline::testing {

const std::size_t LinePeer::kLineHolds = 8192;  // the slave's 4 KiB, with room

struct LinePeer::Impl {
  ConfigHome config;
  int master = -1;
  int slave = -1;  // held open as well: the line's settings stay readable
};

LinePeer::LinePeer() : portName("\\\\.\\COM1"), impl_(std::make_unique<Impl>()) {
  gDriver = {};
  termios raw{};  // a pseudo-terminal made as usual would echo what the peer sends
  cfmakeraw(&raw);
  if (openpty(&impl_->master, &impl_->slave, nullptr, &raw, nullptr) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
    return;
  }
  fcntl(impl_->master, F_SETFL, O_NONBLOCK);
  impl_->config.Pin(1, ttyname(impl_->slave));
}

LinePeer::~LinePeer() {
  HangUp();
  close(impl_->slave);
}

bool LinePeer::Send(const Bytes& bytes) {
  return write(impl_->master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

Bytes LinePeer::Receive(std::size_t atMost) {
  Bytes got(atMost);
  std::size_t n = 0;
  for (pollfd p{impl_->master, POLLIN, 0}; n < atMost && poll(&p, 1, n ? 50 : 300) == 1;) {
    const ssize_t r = read(impl_->master, got.data() + n, atMost - n);
    if (r <= 0) break;
    n += static_cast<std::size_t>(r);
  }
  got.resize(n);
  return got;
}

void LinePeer::HangUp() {
  if (impl_->master >= 0) close(impl_->master);
  impl_->master = -1;
}

void LinePeer::Scramble() {
  termios odd{};
  tcgetattr(impl_->slave, &odd);
  odd.c_lflag |= ICANON | ECHO | ISIG;
  odd.c_iflag |= IXON | IXOFF | ICRNL | INPCK;
  odd.c_oflag |= OPOST | ONLCR;
  odd.c_cflag = (odd.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
  cfsetspeed(&odd, B9600);
  tcsetattr(impl_->slave, TCSANOW, &odd);
}

std::string LinePeer::Settings(const SerialPort* port) const {
  termios t{};
  tcgetattr(impl_->slave, &t);
  std::string s = cfgetospeed(&t) == B115200 && cfgetispeed(&t) == B115200 ? "115200 " : "? ";
  s += (t.c_cflag & CSIZE) == CS8 ? "8" : "?";
  s += t.c_cflag & PARENB ? (t.c_cflag & PARODD ? "O" : "E") : "N";
  s += t.c_cflag & CSTOPB ? "2" : "1";
  if ((t.c_cflag & CRTSCTS) || (t.c_iflag & (IXON | IXOFF))) s += " flow";
  if ((t.c_lflag & (ICANON | ECHO | ISIG)) || (t.c_iflag & (ICRNL | INPCK)) || (t.c_oflag & OPOST))
    s += " cooked";
  if (port == nullptr) return s;
  s += gDriver.modemOn & TIOCM_DTR ? " dtr+" : " dtr-";
  s += gDriver.modemOn & TIOCM_RTS ? " rts+" : " rts-";
  if (gDriver.modemOn & ~(TIOCM_DTR | TIOCM_RTS)) s += " other lines+";
  // A USB adapter gathers input for up to 16 ms unless asked not to.
  if (gDriver.serialFlags != (kDriverOwnFlag | ASYNC_LOW_LATENCY)) s += " slow";
  return s;
}

std::string LinePeer::PortNameOf(const std::filesystem::path& file) {
  impl_->config.Pin(3, file);
  return "\\\\.\\Com3";
}

}  // namespace pantoline::testing
