// Addresses in text, host/service/protocol look-ups, and their asynchronous forms.
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/win32/user.h"
#include "platform/winsock/detail/bsd.h"
#include "platform/winsock/detail/internal.h"
#include "platform/winsock/wsock32.h"

namespace winsock::detail {
namespace {

namespace bsd = winsock::bsd;

// Lays a result record out in a caller's buffer: the record first, then the pointer lists,
// then the bytes they point at. Writes go through memcpy, so the buffer needs no alignment;
// the caller reads the record at the buffer's start as Winsock callers do.
class Layout {
 public:
  Layout(char* buf, std::size_t size) : buf_(buf), size_(size) {}
  // Reserves n bytes aligned to a; returns the offset.
  std::size_t Take(std::size_t n, std::size_t a) {
    used_ = (used_ + a - 1) / a * a;
    const std::size_t at = used_;
    used_ += n;
    return at;
  }
  std::size_t Used() const { return used_; }
  bool Fits() const { return used_ <= size_; }
  char* At(std::size_t offset) const { return buf_ ? buf_ + offset : nullptr; }
  void Put(std::size_t offset, const void* data, std::size_t n) const {
    if (buf_ && offset + n <= size_) std::memcpy(buf_ + offset, data, n);
  }
  // A list of strings: pointer array (null-terminated) plus the strings; returns its offset.
  std::size_t PutStrings(const std::vector<std::string>& list) {
    const std::size_t arr = Take((list.size() + 1) * sizeof(char*), alignof(char*));
    for (std::size_t i = 0; i <= list.size(); ++i) {
      char* p = nullptr;
      if (i < list.size()) p = At(PutString(list[i]));
      Put(arr + i * sizeof(char*), &p, sizeof p);
    }
    return arr;
  }
  std::size_t PutString(const std::string& s) {
    const std::size_t at = Take(s.size() + 1, 1);
    Put(at, s.c_str(), s.size() + 1);
    return at;
  }

 private:
  char* buf_;
  std::size_t size_;
  std::size_t used_ = 0;
};

// Returns the bytes needed; writes only when they fit.
std::size_t WriteHost(const bsd::HostInfo& info, char* buf, std::size_t size) {
  Layout l(buf, size);
  const std::size_t rec = l.Take(sizeof(ws::hostent), alignof(ws::hostent));
  const std::size_t name = l.PutString(info.name);
  const std::size_t aliases = l.PutStrings(info.aliases);
  const std::size_t list = l.Take((info.addrs.size() + 1) * sizeof(char*), alignof(char*));
  const std::size_t bytes = l.Take(info.addrs.size() * 4, 4);
  for (std::size_t i = 0; i <= info.addrs.size(); ++i) {
    char* p = nullptr;
    if (i < info.addrs.size()) {
      l.Put(bytes + i * 4, &info.addrs[i], 4);
      p = l.At(bytes + i * 4);
    }
    l.Put(list + i * sizeof(char*), &p, sizeof p);
  }
  ws::hostent h{l.At(name), reinterpret_cast<char**>(l.At(aliases)), static_cast<short>(ws::AF_INET), 4,
                reinterpret_cast<char**>(l.At(list))};
  l.Put(rec, &h, sizeof h);
  return l.Used();
}

std::size_t WriteServ(const bsd::ServInfo& info, char* buf, std::size_t size) {
  Layout l(buf, size);
  const std::size_t rec = l.Take(sizeof(ws::servent), alignof(ws::servent));
  const std::size_t name = l.PutString(info.name);
  const std::size_t aliases = l.PutStrings(info.aliases);
  const std::size_t proto = l.PutString(info.proto);
  ws::servent s{l.At(name), reinterpret_cast<char**>(l.At(aliases)), static_cast<short>(info.port), l.At(proto)};
  l.Put(rec, &s, sizeof s);
  return l.Used();
}

std::size_t WriteProto(const bsd::ProtoInfo& info, char* buf, std::size_t size) {
  Layout l(buf, size);
  const std::size_t rec = l.Take(sizeof(ws::protoent), alignof(ws::protoent));
  const std::size_t name = l.PutString(info.name);
  const std::size_t aliases = l.PutStrings(info.aliases);
  ws::protoent p{l.At(name), reinterpret_cast<char**>(l.At(aliases)), static_cast<short>(info.number)};
  l.Put(rec, &p, sizeof p);
  return l.Used();
}

// Winsock keeps one result of each kind per thread, valid until the thread's next call.
template <class Info>
char* PerThread(const Info& info, std::size_t (*write)(const Info&, char*, std::size_t), std::vector<char>& store) {
  const std::size_t need = write(info, nullptr, 0);
  store.assign(need, 0);
  write(info, store.data(), store.size());
  return store.data();
}

thread_local std::vector<char> tHost, tServ, tProto;

// What a look-up produces: the Winsock error (0 for success) and the record's writer.
struct Answer {
  int error = 0;
  std::function<std::size_t(char*, std::size_t)> write;
};

int HostByName(const char* name, bsd::HostInfo* out) {
  std::string host = name ? name : "";
  if (host.empty()) {
    // An empty name means this machine.
    if (const int e = bsd::LocalHostName(&host)) return e;
  }
  return bsd::ResolveHost(host, out);
}

// Runs the look-up now and keeps its result for the writer to lay out later.
template <class Info, class Fn>
Answer Look(Fn look, std::size_t (*write)(const Info&, char*, std::size_t)) {
  auto info = std::make_shared<Info>();
  Answer a;
  a.error = look(info.get());
  a.write = [info, write](char* b, std::size_t n) { return write(*info, b, n); };
  return a;
}

// --- asynchronous requests ---

struct Task {
  HWND hwnd;
  UINT msg;
  char* buf;
  int buflen;
  bool cancelled = false;
};

struct Tasks {
  std::mutex mu;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Task>> live;
  std::uintptr_t next = 0x1000;
};

Tasks& AllTasks() {
  static Tasks* t = new Tasks;  // never destroyed: workers may finish during exit
  return *t;
}

HANDLE StartTask(HWND hwnd, UINT msg, char* buf, int buflen, std::function<Answer()> look) {
  if (!Started()) return Fail(ws::WSANOTINITIALISED), nullptr;
  if (!buf || buflen <= 0) return Fail(ws::WSAENOBUFS), nullptr;
  auto task = std::make_shared<Task>(Task{hwnd, msg, buf, buflen});
  std::uintptr_t id;
  {
    Tasks& t = AllTasks();
    std::lock_guard lock(t.mu);
    id = t.next++;
    t.live.emplace(id, task);
  }
  try {
    std::thread([id, task, look = std::move(look)] {
      const Answer a = look();
      Tasks& t = AllTasks();
      std::lock_guard lock(t.mu);
      t.live.erase(id);
      // Once cancelled, the caller's buffer may be gone: leave it alone.
      if (task->cancelled) return;
      int error = a.error;
      std::size_t need = 0;
      if (error == 0) {
        need = a.write(nullptr, 0);
        if (need > static_cast<std::size_t>(task->buflen))
          error = ws::WSAENOBUFS;
        else
          a.write(task->buf, static_cast<std::size_t>(task->buflen));
      }
      const WORD len = static_cast<WORD>(std::min<std::size_t>(need, 0xFFFF));
      PostMessageA(task->hwnd, task->msg, id, ws::WSAMAKEASYNCREPLY(len, static_cast<WORD>(error)));
    }).detach();
  } catch (const std::system_error&) {
    Tasks& t = AllTasks();
    std::lock_guard lock(t.mu);
    t.live.erase(id);
    return Fail(ws::WSAENOBUFS), nullptr;
  }
  return reinterpret_cast<HANDLE>(id);
}

template <class T>
T* FailNull(int code) {
  SetError(code);
  return nullptr;
}

}  // namespace
}  // namespace winsock::detail

namespace ws {

using namespace winsock::detail;
namespace bsd = winsock::bsd;

u_long inet_addr(const char* cp) {
  if (!cp) return INADDR_NONE;
  std::uint64_t parts[4];
  int count = 0;
  const char* p = cp;
  for (;;) {
    if (count == 4) return INADDR_NONE;
    int base = 10;
    if (*p == '0') {
      base = 8;
      if (p[1] == 'x' || p[1] == 'X') {
        base = 16;
        p += 2;
      }
    }
    std::uint64_t v = 0;
    int digits = 0;
    for (;; ++p, ++digits) {
      const char c = *p;
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (base == 16 && c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (base == 16 && c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        break;
      if (d >= base) return INADDR_NONE;
      v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
      if (v > 0xFFFFFFFFu) return INADDR_NONE;
    }
    if (digits == 0 && base != 8) return INADDR_NONE;  // "0x" alone, or no number at all
    parts[count++] = v;
    if (*p != '.') break;
    ++p;
  }
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
  if (*p != '\0') return INADDR_NONE;
  std::uint64_t host;
  switch (count) {
    case 1: host = parts[0]; break;
    case 2:
      if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) return INADDR_NONE;
      host = parts[0] << 24 | parts[1];
      break;
    case 3:
      if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) return INADDR_NONE;
      host = parts[0] << 24 | parts[1] << 16 | parts[2];
      break;
    default:
      for (int i = 0; i < 4; ++i)
        if (parts[i] > 0xFF) return INADDR_NONE;
      host = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
      break;
  }
  return htonl(static_cast<u_long>(host));
}

char* inet_ntoa(in_addr in) {
  thread_local char text[16];
  const u_long a = ntohl(in.s_addr);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (a >> 24) & 0xFF, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
  return text;
}

hostent* gethostbyname(const char* name) {
  if (!Started()) return FailNull<hostent>(WSANOTINITIALISED);
  bsd::HostInfo info;
  if (const int e = HostByName(name, &info)) return FailNull<hostent>(e);
  return reinterpret_cast<hostent*>(PerThread(info, &WriteHost, tHost));
}

hostent* gethostbyaddr(const char* addr, int len, int type) {
  if (!Started()) return FailNull<hostent>(WSANOTINITIALISED);
  if (!addr || len < 4) return FailNull<hostent>(WSAEFAULT);
  if (type != AF_INET) return FailNull<hostent>(WSAEAFNOSUPPORT);
  std::uint32_t a;
  std::memcpy(&a, addr, 4);
  bsd::HostInfo info;
  if (const int e = bsd::ReverseHost(a, &info)) return FailNull<hostent>(e);
  return reinterpret_cast<hostent*>(PerThread(info, &WriteHost, tHost));
}

int gethostname(char* name, int namelen) {
  if (!Started()) return Fail(WSANOTINITIALISED);
  if (!name || namelen <= 0) return Fail(WSAEFAULT);
  std::string host;
  if (const int e = bsd::LocalHostName(&host)) return Fail(e);
  if (host.size() + 1 > static_cast<std::size_t>(namelen)) return Fail(WSAEFAULT);
  std::memcpy(name, host.c_str(), host.size() + 1);
  return 0;
}

servent* getservbyname(const char* name, const char* proto) {
  if (!Started()) return FailNull<servent>(WSANOTINITIALISED);
  if (!name) return FailNull<servent>(WSAEFAULT);
  bsd::ServInfo info;
  if (const int e = bsd::ServiceByName(name, proto ? proto : "", &info)) return FailNull<servent>(e);
  return reinterpret_cast<servent*>(PerThread(info, &WriteServ, tServ));
}

servent* getservbyport(int port, const char* proto) {
  if (!Started()) return FailNull<servent>(WSANOTINITIALISED);
  bsd::ServInfo info;
  if (const int e = bsd::ServiceByPort(port, proto ? proto : "", &info)) return FailNull<servent>(e);
  return reinterpret_cast<servent*>(PerThread(info, &WriteServ, tServ));
}

protoent* getprotobyname(const char* name) {
  if (!Started()) return FailNull<protoent>(WSANOTINITIALISED);
  if (!name) return FailNull<protoent>(WSAEFAULT);
  bsd::ProtoInfo info;
  if (const int e = bsd::ProtocolByName(name, &info)) return FailNull<protoent>(e);
  return reinterpret_cast<protoent*>(PerThread(info, &WriteProto, tProto));
}

protoent* getprotobynumber(int number) {
  if (!Started()) return FailNull<protoent>(WSANOTINITIALISED);
  bsd::ProtoInfo info;
  if (const int e = bsd::ProtocolByNumber(number, &info)) return FailNull<protoent>(e);
  return reinterpret_cast<protoent*>(PerThread(info, &WriteProto, tProto));
}

HANDLE WSAAsyncGetHostByName(HWND hwnd, u_int msg, const char* name, char* buf, int buflen) {
  const std::string n = name ? name : "";
  return StartTask(hwnd, msg, buf, buflen, [n] {
    return Look([&](bsd::HostInfo* out) { return HostByName(n.c_str(), out); }, &WriteHost);
  });
}

HANDLE WSAAsyncGetHostByAddr(HWND hwnd, u_int msg, const char* addr, int len, int type, char* buf, int buflen) {
  if (!addr || len < 4) return Fail(WSAEFAULT), nullptr;
  if (type != AF_INET) return Fail(WSAEAFNOSUPPORT), nullptr;
  std::uint32_t a;
  std::memcpy(&a, addr, 4);
  return StartTask(hwnd, msg, buf, buflen, [a] {
    return Look([&](bsd::HostInfo* out) { return bsd::ReverseHost(a, out); }, &WriteHost);
  });
}

HANDLE WSAAsyncGetServByName(HWND hwnd, u_int msg, const char* name, const char* proto, char* buf, int buflen) {
  if (!name) return Fail(WSAEFAULT), nullptr;
  const std::string n = name, p = proto ? proto : "";
  return StartTask(hwnd, msg, buf, buflen, [n, p] {
    return Look([&](bsd::ServInfo* out) { return bsd::ServiceByName(n, p, out); }, &WriteServ);
  });
}

HANDLE WSAAsyncGetServByPort(HWND hwnd, u_int msg, int port, const char* proto, char* buf, int buflen) {
  const std::string p = proto ? proto : "";
  return StartTask(hwnd, msg, buf, buflen, [port, p] {
    return Look([&](bsd::ServInfo* out) { return bsd::ServiceByPort(port, p, out); }, &WriteServ);
  });
}

HANDLE WSAAsyncGetProtoByName(HWND hwnd, u_int msg, const char* name, char* buf, int buflen) {
  if (!name) return Fail(WSAEFAULT), nullptr;
  const std::string n = name;
  return StartTask(hwnd, msg, buf, buflen, [n] {
    return Look([&](bsd::ProtoInfo* out) { return bsd::ProtocolByName(n, out); }, &WriteProto);
  });
}

HANDLE WSAAsyncGetProtoByNumber(HWND hwnd, u_int msg, int number, char* buf, int buflen) {
  return StartTask(hwnd, msg, buf, buflen, [number] {
    return Look([&](bsd::ProtoInfo* out) { return bsd::ProtocolByNumber(number, out); }, &WriteProto);
  });
}

int WSACancelAsyncRequest(HANDLE task) {
  if (!Started()) return Fail(WSANOTINITIALISED);
  Tasks& t = AllTasks();
  std::lock_guard lock(t.mu);
  auto it = t.live.find(reinterpret_cast<std::uintptr_t>(task));
  if (it == t.live.end()) {
    // A finished request's completion is already on its way.
    const auto id = reinterpret_cast<std::uintptr_t>(task);
    return Fail(id >= 0x1000 && id < t.next ? WSAEALREADY : WSAEINVAL);
  }
  it->second->cancelled = true;
  t.live.erase(it);
  return 0;
}

}  // namespace ws
