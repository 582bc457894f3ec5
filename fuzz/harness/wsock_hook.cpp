// The Windows Sockets side of the peer: "WSOCK32.DLL" registered again with the real exports,
// except that connects go to the peer and names resolve to the loopback address.
#include <cstring>
#include <vector>

#include "fuzz/harness/peer.h"
#include "platform/win32/module.h"
#include "platform/winsock/winsock.h"
#include "platform/winsock/wsock32.h"

namespace fuzzpeer {
namespace {

int HookedConnect(ws::SOCKET s, const ws::sockaddr* name, int namelen) {
  if (!name || namelen < static_cast<int>(sizeof(ws::sockaddr_in))) return ws::connect(s, name, namelen);
  ws::sockaddr_in to;
  std::memcpy(&to, name, sizeof to);
  const std::uint16_t port = ListenerPort();
  // Without a session the connect is refused on the loopback address rather than sent out.
  to.sin_port = port ? ws::htons(port) : ws::htons(1);
  to.sin_addr.s_addr = ws::htonl(ws::INADDR_LOOPBACK);
  return ws::connect(s, reinterpret_cast<const ws::sockaddr*>(&to), sizeof to);
}

int HookedListen(ws::SOCKET s, int backlog) {
  const int r = ws::listen(s, backlog);
  if (r == 0) {
    ws::sockaddr_in a{};
    int len = sizeof a;
    if (ws::getsockname(s, reinterpret_cast<ws::sockaddr*>(&a), &len) == 0) NoteEngineListener(ws::ntohs(a.sin_port));
  }
  return r;
}

ws::hostent* HookedGetHostByName(const char* name) {
  static ws::u_long address;
  static char* list[2];
  static char hostName[] = "peer.invalid";
  static ws::hostent host;
  if (!name || !*name) return ws::gethostbyname(name);
  address = ws::htonl(ws::INADDR_LOOPBACK);
  list[0] = reinterpret_cast<char*>(&address);
  list[1] = nullptr;
  host = ws::hostent{hostName, &list[1], ws::AF_INET, 4, list};
  return &host;
}

template <class F>
FARPROC P(F f) {
  return reinterpret_cast<FARPROC>(f);
}

}  // namespace

void InstallWinsockHook() {
  static bool done = false;
  if (done) return;
  done = true;
  winsock::EnsureRegistered();
  HMODULE real = LoadLibraryA(winsock::kModuleName);
  std::vector<WORD> ordinals{151};
  for (WORD o = 1; o <= 23; ++o) ordinals.push_back(o);
  for (WORD o = 51; o <= 57; ++o) ordinals.push_back(o);
  for (WORD o = 101; o <= 116; ++o) ordinals.push_back(o);
  std::vector<win32::ModuleExport> exports;
  for (WORD o : ordinals) {
    FARPROC proc = GetProcAddress(real, MAKEINTRESOURCEA(o));
    if (o == 4) proc = P(&HookedConnect);
    if (o == 13) proc = P(&HookedListen);
    if (o == 52) proc = P(&HookedGetHostByName);
    exports.push_back({o, "", proc});
  }
  FreeLibrary(real);
  win32::RegisterBuiltinModule(winsock::kModuleName, winsock::kModulePath, std::move(exports));
}

}  // namespace fuzzpeer
