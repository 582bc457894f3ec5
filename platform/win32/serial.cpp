#include "platform/win32/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>

#include "platform/win32/detail/handles.h"
#include "platform/win32/file.h"

namespace win32 {
namespace {

std::mutex g_rootMutex;
std::atomic<int> g_failSetCommState{0};
std::string g_sysfsRoot = "/sys";

struct Speed {
  DWORD baud;
  speed_t code;
};
constexpr Speed kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

}  // namespace

namespace detail {

namespace {

// "ttyUSB12" with prefix "ttyUSB" gives 12; -1 when the rest is not a plain number.
int IndexAfter(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
  int n = 0;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    const char c = name[i];
    if (c < '0' || c > '9' || n > 100000) return -1;
    n = n * 10 + (c - '0');
  }
  if (name.size() - prefix.size() > 1 && name[prefix.size()] == '0') return -1;
  return n;
}

std::vector<std::string> Entries(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  return names;
}

// An 8250 slot without a UART behind it reads its type as 0.
bool UartPresent(const std::filesystem::path& dir) {
  std::ifstream in(dir / "type");
  int type = 1;
  if (in >> type) return type != 0;
  return true;
}

}  // namespace

std::vector<PortDevice> ScanPortDevices(const std::string& root, bool presentOnly) {
  const std::filesystem::path base(root);
  std::vector<PortDevice> out;
  // Parallel ports: the printer class, lp<k> is LPT<k+1>.
  std::vector<std::pair<int, std::string>> lps;
  for (const std::string& name : Entries(base / "class" / "printer")) {
    if (const int k = IndexAfter(name, "lp"); k >= 0) lps.emplace_back(k, name);
  }
  std::sort(lps.begin(), lps.end());
  for (const auto& [k, name] : lps) out.push_back({name, "LPT" + std::to_string(k + 1)});

  struct Tty {
    int kind;
    int index;
    std::string name;
  };
  static const char* const kPrefixes[] = {"ttyS", "ttyUSB", "ttyACM"};
  std::vector<Tty> ttys;
  int slots[3] = {0, 0, 0};
  const std::filesystem::path ttyDir = base / "class" / "tty";
  for (const std::string& name : Entries(ttyDir)) {
    for (int kind = 0; kind < 3; ++kind) {
      // "ttyS" is a prefix of neither other kind, so at most one matches.
      if (const int k = IndexAfter(name, kPrefixes[kind]); k >= 0) {
        ttys.push_back({kind, k, name});
        slots[kind] = std::max(slots[kind], k + 1);
      }
    }
  }
  std::sort(ttys.begin(), ttys.end(),
            [](const Tty& a, const Tty& b) { return a.kind != b.kind ? a.kind < b.kind : a.index < b.index; });
  for (const Tty& t : ttys) {
    if (presentOnly && t.kind == 0 && !UartPresent(ttyDir / t.name)) continue;
    int number = t.index + 1;
    if (t.kind >= 1) number += slots[0];
    if (t.kind >= 2) number += slots[1];
    out.push_back({t.name, "COM" + std::to_string(number)});
  }
  return out;
}

}  // namespace detail

namespace test {
void FailSetCommState(int count) { g_failSetCommState = count; }
}  // namespace test

void SetSysfsRoot(const std::string& root) {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  g_sysfsRoot = root;
}

std::string SysfsRoot() {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  return g_sysfsRoot;
}

std::string DefaultComName(const std::string& ttyName) {
  for (const detail::PortDevice& d : detail::ScanPortDevices(SysfsRoot())) {
    if (d.node == ttyName && d.portName.rfind("COM", 0) == 0) return d.portName;
  }
  return {};
}

std::string ComDevicePath(int n) {
  if (n < 1 || n > 256) return {};
  const std::string var = "TAVLIN_COM" + std::to_string(n);
  if (const char* v = std::getenv(var.c_str()); v != nullptr && *v != '\0') return v;
  const std::string name = "COM" + std::to_string(n);
  for (const detail::PortDevice& d : detail::ScanPortDevices(SysfsRoot())) {
    if (d.portName == name) return "/dev/" + d.node;
  }
  return {};
}

}  // namespace win32

namespace win32::detail {
namespace {

using Clock = std::chrono::steady_clock;

class SerialPort : public KernelObject {
 public:
  explicit SerialPort(int fd) : fd_(fd) {}
  ~SerialPort() override { Close(); }

  BOOL Close() override {
    if (fd_ >= 0) {
      ::ioctl(fd_, TIOCNXCL);
      ::close(fd_);  // also drops the flock
      fd_ = -1;
    }
    return TRUE;
  }

  BOOL Write(const void* buffer, DWORD toWrite, DWORD* written) override;

  int fd() const { return fd_; }
  COMMTIMEOUTS timeouts{};
  DWORD dtrControl = DTR_CONTROL_ENABLE;  // Linux raises DTR and RTS on open
  DWORD rtsControl = RTS_CONTROL_ENABLE;

 private:
  // Waits until the bytes written have left the output queue, or the deadline passes; returns
  // how many are still queued.
  int Drain(bool hasDeadline, Clock::time_point deadline);

  int fd_;
};

int OutputQueued(int fd) {
  int queued = 0;
  if (::ioctl(fd, TIOCOUTQ, &queued) != 0) return 0;
  return queued;
}

int SerialPort::Drain(bool hasDeadline, Clock::time_point deadline) {
  if (OutputQueued(fd_) == 0) return 0;  // pseudo-terminals never queue
  if (!hasDeadline) {
    while (::tcdrain(fd_) != 0 && errno == EINTR) {
    }
    return 0;
  }
  // tcdrain has no time-out: run it aside and, when the deadline passes, discard what is left,
  // which ends the tcdrain, as a timed-out write would on the original platform.
  const int fd = fd_;
  auto drained = std::async(std::launch::async, [fd] {
    while (::tcdrain(fd) != 0 && errno == EINTR) {
    }
  });
  if (drained.wait_until(deadline) == std::future_status::ready) return 0;
  const int left = OutputQueued(fd_);
  ::tcflush(fd_, TCOFLUSH);
  drained.wait();
  return left;
}

BOOL SerialPort::Write(const void* buffer, DWORD toWrite, DWORD* written) {
  if (written != nullptr) *written = 0;
  if (fd_ < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const std::uint64_t limitMs = static_cast<std::uint64_t>(timeouts.WriteTotalTimeoutMultiplier) * toWrite +
                                timeouts.WriteTotalTimeoutConstant;
  const bool hasDeadline = limitMs != 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  const char* p = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < toWrite) {
    const ssize_t r = ::write(fd_, p + done, toWrite - done);
    if (r > 0) {
      done += static_cast<DWORD>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN) {
      if (written != nullptr) *written = done;
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    int waitMs = -1;
    if (hasDeadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      waitMs = static_cast<int>(left);
    }
    pollfd pfd{fd_, POLLOUT, 0};
    const int pr = ::poll(&pfd, 1, waitMs);
    if (pr < 0 && errno != EINTR) break;
    if (pr > 0 && (pfd.revents & (POLLERR | POLLNVAL)) != 0) {
      if (written != nullptr) *written = done;
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
  }
  const int left = Drain(hasDeadline, deadline);
  done -= static_cast<DWORD>(left) < done ? static_cast<DWORD>(left) : done;
  if (written != nullptr) *written = done;
  // A time-out is not a failure: the count tells the caller what went out.
  if (done < toWrite) SetLastError(ERROR_TIMEOUT);
  return TRUE;
}

SerialPort* PortOf(HANDLE file) {
  SerialPort* port = HandleAs<SerialPort>(file);
  if (port == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return port;
}

// TRUE also when the device has no modem lines: a pseudo-terminal has none and is still a line.
bool ModemLines(int fd, unsigned long request, int bits, bool* unsupported) {
  if (::ioctl(fd, request, &bits) == 0) return true;
  *unsupported = errno == ENOTTY || errno == EINVAL;
  return false;
}

}  // namespace

HANDLE OpenComPort(int n, DWORD access) {
  const std::string path = ComDevicePath(n);
  if (path.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  int mode = O_RDWR;
  if ((access & GENERIC_WRITE) == 0) mode = O_RDONLY;
  else if ((access & GENERIC_READ) == 0) mode = O_WRONLY;
  const int fd = ::open(path.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    switch (errno) {
      case ENOENT:
      case ENXIO:
      case ENODEV:
      case ENOTDIR:
        SetLastError(ERROR_FILE_NOT_FOUND);
        break;
      case EACCES:
      case EPERM:
      case EBUSY:
        SetLastError(ERROR_ACCESS_DENIED);
        break;
      default:
        SetLastError(ERROR_GEN_FAILURE);
    }
    return INVALID_HANDLE_VALUE;
  }
  if (!::isatty(fd)) {
    ::close(fd);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // Exclusive use: flock keeps out every cooperating opener (root included), TIOCEXCL the rest.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  ::ioctl(fd, TIOCEXCL);
  // A COM port never edits or translates bytes, whatever the tty's state was before.
  termios t{};
  if (::tcgetattr(fd, &t) == 0) {
    const speed_t in = ::cfgetispeed(&t);
    const speed_t out = ::cfgetospeed(&t);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, in);
    ::cfsetospeed(&t, out);
    ::tcsetattr(fd, TCSANOW, &t);
  }
  return AddHandle(std::make_unique<SerialPort>(fd));
}

}  // namespace win32::detail

using win32::detail::PortOf;
using win32::detail::SerialPort;

BOOL SetupComm(HANDLE file, DWORD, DWORD) {
  // The kernel's tty buffers are fixed; the sizes asked for are at least as large.
  return PortOf(file) != nullptr ? TRUE : FALSE;
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
  SerialPort* port = PortOf(file);
  if (port == nullptr) return FALSE;
  if ((flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Writes are synchronous, so there is never one to abort.
  const bool tx = (flags & PURGE_TXCLEAR) != 0;
  const bool rx = (flags & PURGE_RXCLEAR) != 0;
  if (tx || rx) {
    const int queue = tx && rx ? TCIOFLUSH : (tx ? TCOFLUSH : TCIFLUSH);
    if (::tcflush(port->fd(), queue) != 0) {
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
  }
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
  SerialPort* port = PortOf(file);
  if (port == nullptr) return FALSE;
  if (timeouts == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  port->timeouts = *timeouts;
  return TRUE;
}

BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
  SerialPort* port = PortOf(file);
  if (port == nullptr) return FALSE;
  if (timeouts == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *timeouts = port->timeouts;
  return TRUE;
}

BOOL GetCommState(HANDLE file, DCB* dcb) {
  SerialPort* port = PortOf(file);
  if (port == nullptr) return FALSE;
  if (dcb == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  termios t{};
  if (::tcgetattr(port->fd(), &t) != 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  *dcb = DCB{};
  dcb->DCBlength = sizeof(DCB);
  const speed_t code = ::cfgetospeed(&t);
  for (const auto& s : win32::kSpeeds) {
    if (s.code == code) dcb->BaudRate = s.baud;
  }
  switch (t.c_cflag & CSIZE) {
    case CS5: dcb->ByteSize = 5; break;
    case CS6: dcb->ByteSize = 6; break;
    case CS7: dcb->ByteSize = 7; break;
    default: dcb->ByteSize = 8; break;
  }
  if ((t.c_cflag & PARENB) == 0) {
    dcb->Parity = NOPARITY;
  } else if ((t.c_cflag & CMSPAR) != 0) {
    dcb->Parity = (t.c_cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
  } else {
    dcb->Parity = (t.c_cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
  }
  dcb->StopBits = (t.c_cflag & CSTOPB) != 0 ? TWOSTOPBITS : ONESTOPBIT;
  dcb->fBinary = 1;
  dcb->fParity = (t.c_iflag & INPCK) != 0 ? 1 : 0;
  dcb->fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0 ? 1 : 0;
  dcb->fOutX = (t.c_iflag & IXON) != 0 ? 1 : 0;
  dcb->fInX = (t.c_iflag & IXOFF) != 0 ? 1 : 0;
  dcb->fDtrControl = port->dtrControl;
  dcb->fRtsControl = (t.c_cflag & CRTSCTS) != 0 ? RTS_CONTROL_HANDSHAKE : port->rtsControl;
  dcb->XonChar = static_cast<char>(t.c_cc[VSTART]);
  dcb->XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  return TRUE;
}

BOOL SetCommState(HANDLE file, DCB* dcb) {
  SerialPort* port = PortOf(file);
  if (port == nullptr) return FALSE;
  if (dcb == nullptr || dcb->ByteSize < 5 || dcb->ByteSize > 8 || dcb->Parity > SPACEPARITY ||
      dcb->StopBits > TWOSTOPBITS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (win32::g_failSetCommState > 0) {
    --win32::g_failSetCommState;
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  const win32::Speed* speed = nullptr;
  for (const auto& s : win32::kSpeeds) {
    if (s.baud == dcb->BaudRate) speed = &s;
  }
  termios t{};
  if (speed == nullptr || ::tcgetattr(port->fd(), &t) != 0) {
    SetLastError(speed == nullptr ? ERROR_INVALID_PARAMETER : ERROR_GEN_FAILURE);
    return FALSE;
  }
  // Raw bytes both ways: no echo, no line editing, no translation.
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY | INPCK);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[dcb->ByteSize - 5];
  switch (dcb->Parity) {
    case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: t.c_cflag |= PARENB; break;
    case MARKPARITY: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  // Checking parity means something only when there is a parity bit.
  if (dcb->Parity != NOPARITY && dcb->fParity) t.c_iflag |= INPCK;
  if (dcb->StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
  if (dcb->fOutxCtsFlow || dcb->fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
  if (dcb->fOutX) t.c_iflag |= IXON;
  if (dcb->fInX) t.c_iflag |= IXOFF;
  if (dcb->XonChar != 0) t.c_cc[VSTART] = static_cast<cc_t>(dcb->XonChar);
  if (dcb->XoffChar != 0) t.c_cc[VSTOP] = static_cast<cc_t>(dcb->XoffChar);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, speed->code);
  ::cfsetospeed(&t, speed->code);
  if (::tcsetattr(port->fd(), TCSANOW, &t) != 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  port->dtrControl = dcb->fDtrControl;
  port->rtsControl = dcb->fRtsControl;
  // Modem lines: a device without them (a pseudo-terminal) still has its line state set.
  bool unsupported = false;
  if (dcb->fDtrControl != DTR_CONTROL_HANDSHAKE) {
    win32::detail::ModemLines(port->fd(), dcb->fDtrControl == DTR_CONTROL_ENABLE ? TIOCMBIS : TIOCMBIC,
                              TIOCM_DTR, &unsupported);
  }
  if (dcb->fRtsControl == RTS_CONTROL_ENABLE || dcb->fRtsControl == RTS_CONTROL_DISABLE) {
    win32::detail::ModemLines(port->fd(), dcb->fRtsControl == RTS_CONTROL_ENABLE ? TIOCMBIS : TIOCMBIC,
                              TIOCM_RTS, &unsupported);
  }
  return TRUE;
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
  SerialPort* port = PortOf(file);
  if (port == nullptr) return FALSE;
  int r = 0;
  bool unsupported = false;
  switch (function) {
    case SETDTR: r = win32::detail::ModemLines(port->fd(), TIOCMBIS, TIOCM_DTR, &unsupported) ? 0 : -1; break;
    case CLRDTR: r = win32::detail::ModemLines(port->fd(), TIOCMBIC, TIOCM_DTR, &unsupported) ? 0 : -1; break;
    case SETRTS: r = win32::detail::ModemLines(port->fd(), TIOCMBIS, TIOCM_RTS, &unsupported) ? 0 : -1; break;
    case CLRRTS: r = win32::detail::ModemLines(port->fd(), TIOCMBIC, TIOCM_RTS, &unsupported) ? 0 : -1; break;
    case SETBREAK: r = ::ioctl(port->fd(), TIOCSBRK); unsupported = r != 0; break;
    case CLRBREAK: r = ::ioctl(port->fd(), TIOCCBRK); unsupported = r != 0; break;
    case SETXOFF: r = ::tcflow(port->fd(), TCOOFF); break;
    case SETXON: r = ::tcflow(port->fd(), TCOON); break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  if (r != 0) {
    SetLastError(unsupported ? ERROR_INVALID_FUNCTION : ERROR_GEN_FAILURE);
    return FALSE;
  }
  return TRUE;
}
