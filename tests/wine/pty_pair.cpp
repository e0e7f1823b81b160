// pty_pair: a null-modem cable between two pseudo-terminals A and B.
// Prints "A B" and relays bytes between their masters until a signal ends
// it or its parent dies. One small buffer per direction, refilled only
// when empty: a reader that stops reading blocks the writer, as on a real
// line. Both slaves stay open here, so that a test can close and reopen
// its ports without a hang-up. Writing kHangUpA to B in one piece makes
// the line vanish, as a pulled adapter would: both masters close.
// Each terminal is the controlling terminal of a small session of its
// own; otherwise the first session leader that opens it (the wineserver)
// would take it and receive SIGHUP when the relay ends.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

volatile sig_atomic_t stopping = 0;
bool hangUpA = false;
constexpr char kHangUpA[] = "pty_pair: hang up A";
void Stop(int) { stopping = 1; }

struct Pty {
  int master = -1;
  int slave = -1;
  char path[128] = {};
};

bool OpenPty(Pty* pty) {
  pty->master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (pty->master < 0 || grantpt(pty->master) != 0 || unlockpt(pty->master) != 0 ||
      ptsname_r(pty->master, pty->path, sizeof pty->path) != 0) {
    return false;
  }
  // A serial line neither echoes nor translates line ends.
  pty->slave = open(pty->path, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tty{};
  if (pty->slave < 0 || tcgetattr(pty->slave, &tty) != 0) {
    return false;
  }
  cfmakeraw(&tty);
  cfsetispeed(&tty, B115200);
  cfsetospeed(&tty, B115200);
  tty.c_cc[VMIN] = 0;
  tty.c_cc[VTIME] = 0;
  return tcsetattr(pty->slave, TCSANOW, &tty) == 0;
}

// One direction of the cable.
struct Lane {
  int from;
  int to;
  unsigned char buffer[512];
  ssize_t held = 0;
  ssize_t sent = 0;
};

// Moves what it can without blocking. Returns false when the relay must end.
bool Pump(Lane* lane, short fromEvents, short toEvents) {
  if (lane->held == 0 && (fromEvents & POLLIN)) {
    const ssize_t got = read(lane->from, lane->buffer, sizeof lane->buffer);
    if (got == sizeof kHangUpA - 1 && std::memcmp(lane->buffer, kHangUpA, got) == 0) {
      hangUpA = true;
    } else if (got > 0) {
      lane->held = got;
      lane->sent = 0;
    } else if (got < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
      return false;
    }
  }
  if (lane->held > lane->sent && (toEvents & POLLOUT)) {
    const ssize_t put = write(lane->to, lane->buffer + lane->sent, lane->held - lane->sent);
    if (put > 0) {
      lane->sent += put;
      if (lane->sent == lane->held) {
        lane->held = lane->sent = 0;
      }
    } else if (put < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
      return false;
    }
  }
  return true;
}

// Forks a process that holds `slave` as the controlling terminal of a new
// session until this process ends; returns once the terminal is taken. The
// holder lets go of the masters, so that closing them here hangs them up.
bool HoldAsControllingTerminal(int slave, const Pty& a, const Pty& b, pid_t* holder) {
  int ready[2];
  if (pipe(ready) != 0) {
    return false;
  }
  const pid_t child = fork();
  if (child < 0) {
    return false;
  }
  if (child == 0) {
    close(ready[0]);
    close(a.master);
    close(b.master);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (setsid() < 0 || ioctl(slave, TIOCSCTTY, 0) != 0) {
      _exit(1);
    }
    const char taken = 1;
    if (write(ready[1], &taken, 1) != 1) {
      _exit(1);
    }
    close(ready[1]);
    for (;;) {
      pause();
    }
  }
  *holder = child;
  close(ready[1]);
  char taken = 0;
  ssize_t got;
  do {
    got = read(ready[0], &taken, 1);
  } while (got < 0 && errno == EINTR);
  close(ready[0]);
  return got == 1;
}

}  // namespace

int main() {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() == 1) return 1;
  struct sigaction action {};
  action.sa_handler = Stop;
  for (const int stopSignal : {SIGTERM, SIGINT, SIGHUP}) {
    sigaction(stopSignal, &action, nullptr);
  }
  signal(SIGPIPE, SIG_IGN);

  Pty a;
  Pty b;
  if (!OpenPty(&a) || !OpenPty(&b)) {
    std::fprintf(stderr, "pty_pair: cannot make pseudo-terminals: %s\n", std::strerror(errno));
    return 1;
  }
  pid_t holders[2] = {-1, -1};
  // Reaped here: in a container, init may never reap an orphan.
  const auto release = [&holders] {
    for (const pid_t holder : holders) {
      if (holder > 0) {
        kill(holder, SIGKILL);
        waitpid(holder, nullptr, 0);
      }
    }
  };
  if (!HoldAsControllingTerminal(a.slave, a, b, &holders[0]) ||
      !HoldAsControllingTerminal(b.slave, a, b, &holders[1])) {
    std::fprintf(stderr, "pty_pair: cannot take the terminals: %s\n", std::strerror(errno));
    release();
    return 1;
  }
  std::printf("%s %s\n", a.path, b.path);
  std::fflush(stdout);

  Lane aToB{a.master, b.master, {}};
  Lane bToA{b.master, a.master, {}};
  while (!stopping) {
    pollfd fds[2] = {
        {a.master, static_cast<short>((aToB.held == 0 ? POLLIN : 0) | (bToA.held ? POLLOUT : 0)), 0},
        {b.master, static_cast<short>((bToA.held == 0 ? POLLIN : 0) | (aToB.held ? POLLOUT : 0)), 0},
    };
    // The timeout bounds how long a signal just before the poll goes unseen.
    const int ready = poll(fds, 2, 200);
    if (ready < 0 && errno != EINTR) {
      break;
    }
    if (ready <= 0) {
      continue;
    }
    if (!Pump(&aToB, fds[0].revents, fds[1].revents) ||
        !Pump(&bToA, fds[1].revents, fds[0].revents)) {
      break;
    }
    if (hangUpA) {
      for (const int fd : {a.master, a.slave, b.master, b.slave}) {
        close(fd);
      }
      while (!stopping) {
        pause();
      }
    }
  }
  release();
  return 0;
}
