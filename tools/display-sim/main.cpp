// display-sim: stands in for the LED display board at the far end of a serial line.
//
//   display-sim [--frames N] DEVICE     read an existing serial device or pseudo-terminal
//   display-sim [--frames N] --pty LINK make a pseudo-terminal, link LINK to its device node
//                                       (what the program opens) and read the other end
//
// Prints one line per frame: its wire bytes and what the display shows, or what is wrong with
// it. Ends after N frames (good or bad) when --frames is given, or on SIGINT/SIGTERM; the exit
// status is 1 when any frame was bad.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/display-sim/frame_decoder.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

bool MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  cfsetispeed(&t, B19200);
  cfsetospeed(&t, B19200);
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

int Usage() {
  std::fprintf(stderr, "usage: display-sim [--frames N] (DEVICE | --pty LINK)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  long frames = -1;
  std::string device;
  std::string link;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--frames" && i + 1 < argc) {
      char* end = nullptr;
      frames = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || frames < 1) return Usage();
    } else if (a == "--pty" && i + 1 < argc) {
      link = argv[++i];
    } else if (!a.empty() && a[0] != '-' && device.empty()) {
      device = a;
    } else {
      return Usage();
    }
  }
  if (device.empty() == link.empty()) return Usage();

  int fd = -1;
  int slave = -1;  // held open so the far end's closing never reads as a hang-up
  if (!link.empty()) {
    fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
      std::fprintf(stderr, "display-sim: cannot make a pseudo-terminal: %s\n", std::strerror(errno));
      return 1;
    }
    const std::string node = ptsname(fd);
    slave = open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || !MakeRaw(slave)) {
      std::fprintf(stderr, "display-sim: cannot set up %s: %s\n", node.c_str(), std::strerror(errno));
      return 1;
    }
    unlink(link.c_str());
    if (symlink(node.c_str(), link.c_str()) != 0) {
      std::fprintf(stderr, "display-sim: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
      return 1;
    }
    std::printf("display-sim: listening on %s (%s)\n", link.c_str(), node.c_str());
  } else {
    fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      std::fprintf(stderr, "display-sim: cannot open %s: %s\n", device.c_str(), std::strerror(errno));
      return 1;
    }
    if (isatty(fd) && !MakeRaw(fd)) {
      std::fprintf(stderr, "display-sim: cannot set up %s: %s\n", device.c_str(), std::strerror(errno));
      return 1;
    }
    std::printf("display-sim: listening on %s\n", device.c_str());
  }

  // Signals are let through only inside ppoll, so none is lost between checks.
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigprocmask(SIG_BLOCK, &blocked, nullptr);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigset_t during;
  sigemptyset(&during);

  displaysim::FrameDecoder decoder;
  std::vector<displaysim::Event> events;
  long seen = 0;
  bool anyBad = false;
  std::vector<std::uint8_t> buf(4096);
  while (!g_stop && (frames < 0 || seen < frames)) {
    pollfd p{fd, POLLIN, 0};
    const int r = ppoll(&p, 1, nullptr, &during);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    const ssize_t got = read(fd, buf.data(), buf.size());
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) {
      decoder.Flush(&events);
    } else {
      decoder.Feed(buf.data(), static_cast<std::size_t>(got), &events);
    }
    for (const displaysim::Event& e : events) {
      if (frames >= 0 && seen >= frames) break;
      ++seen;
      if (e.ok) {
        std::printf("frame %s: %s\n", displaysim::Hex(e.wire).c_str(), displaysim::Describe(e.payload).c_str());
      } else {
        anyBad = true;
        std::printf("error: %s: %s\n", e.error.c_str(), displaysim::Hex(e.wire).c_str());
      }
    }
    events.clear();
    if (got <= 0 && device.size() != 0) break;  // the device went away
  }
  if (!link.empty()) unlink(link.c_str());
  if (slave >= 0) close(slave);
  close(fd);
  return anyBad ? 1 : 0;
}
