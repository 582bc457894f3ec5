// Loading and releasing Windows Sockets through the component units' records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "corv/core/Wsock.h"
#include "platform/win32/module.h"
#include "platform/winsock/winsock.h"
#include "platform/winsock/wsock32.h"

namespace {

int g_startups = 0;
int g_cleanups = 0;
int CountingStartup(WORD version, ws::WSADATA* data) {
  ++g_startups;
  return ws::WSAStartup(version, data);
}
int CountingCleanup() {
  ++g_cleanups;
  return ws::WSACleanup();
}
int OldVersionStartup(WORD, ws::WSADATA* data) {
  std::memset(data, 0, sizeof *data);
  data->wVersion = 0x0001;
  return 0;
}
int RefusingStartup(WORD, ws::WSADATA*) { return ws::WSAVERNOTSUPPORTED; }
int NotReadyStartup(WORD, ws::WSADATA*) { return ws::WSASYSNOTREADY; }

template <class F>
FARPROC P(F f) {
  return reinterpret_cast<FARPROC>(f);
}

// Every export of the real module, by ordinal, with chosen replacements and omissions.
std::vector<win32::ModuleExport> Exports(const std::vector<WORD>& omit = {}, FARPROC startup = nullptr,
                                         FARPROC cleanup = nullptr) {
  std::vector<win32::ModuleExport> all = {
      {151, "__WSAFDIsSet", P(ws::WSAFDIsSet)}, {1, "accept", P(ws::accept)},
      {2, "bind", P(ws::bind)}, {3, "closesocket", P(ws::closesocket)},
      {4, "connect", P(ws::connect)}, {12, "ioctlsocket", P(ws::ioctlsocket)},
      {5, "getpeername", P(ws::getpeername)}, {6, "getsockname", P(ws::getsockname)},
      {7, "getsockopt", P(ws::getsockopt)}, {8, "htonl", P(ws::htonl)},
      {9, "htons", P(ws::htons)}, {10, "inet_addr", P(ws::inet_addr)},
      {11, "inet_ntoa", P(ws::inet_ntoa)}, {13, "listen", P(ws::listen)},
      {14, "ntohl", P(ws::ntohl)}, {15, "ntohs", P(ws::ntohs)},
      {16, "recv", P(ws::recv)}, {17, "recvfrom", P(ws::recvfrom)},
      {18, "select", P(ws::select)}, {19, "send", P(ws::send)},
      {20, "sendto", P(ws::sendto)}, {21, "setsockopt", P(ws::setsockopt)},
      {22, "shutdown", P(ws::shutdown)}, {23, "socket", P(ws::socket)},
      {51, "gethostbyaddr", P(ws::gethostbyaddr)}, {52, "gethostbyname", P(ws::gethostbyname)},
      {57, "gethostname", P(ws::gethostname)}, {56, "getservbyport", P(ws::getservbyport)},
      {55, "getservbyname", P(ws::getservbyname)}, {54, "getprotobynumber", P(ws::getprotobynumber)},
      {53, "getprotobyname", P(ws::getprotobyname)}, {115, "WSAStartup", startup ? startup : P(ws::WSAStartup)},
      {116, "WSACleanup", cleanup ? cleanup : P(ws::WSACleanup)}, {112, "WSASetLastError", P(ws::WSASetLastError)},
      {111, "WSAGetLastError", P(ws::WSAGetLastError)}, {114, "WSAIsBlocking", P(ws::WSAIsBlocking)},
      {110, "WSAUnhookBlockingHook", P(ws::WSAUnhookBlockingHook)},
      {109, "WSASetBlockingHook", P(ws::WSASetBlockingHook)},
      {113, "WSACancelBlockingCall", P(ws::WSACancelBlockingCall)},
      {107, "WSAAsyncGetServByName", P(ws::WSAAsyncGetServByName)},
      {106, "WSAAsyncGetServByPort", P(ws::WSAAsyncGetServByPort)},
      {105, "WSAAsyncGetProtoByName", P(ws::WSAAsyncGetProtoByName)},
      {104, "WSAAsyncGetProtoByNumber", P(ws::WSAAsyncGetProtoByNumber)},
      {103, "WSAAsyncGetHostByName", P(ws::WSAAsyncGetHostByName)},
      {102, "WSAAsyncGetHostByAddr", P(ws::WSAAsyncGetHostByAddr)},
      {108, "WSACancelAsyncRequest", P(ws::WSACancelAsyncRequest)},
      {101, "WSAAsyncSelect", P(ws::WSAAsyncSelect)},
  };
  std::vector<win32::ModuleExport> out;
  for (auto& e : all) {
    bool skip = false;
    for (WORD o : omit) skip = skip || e.ordinal == o;
    if (!skip) out.push_back(e);
  }
  return out;
}

// An engine of a unit whose record the test owns.
struct Engine : CWsock {
  explicit Engine(CWinsock& record) { WinsockRecord = &record; }
};

bool TableIsStubs() { return WinsockProcs.inet_addr("1.2.3.4") == ws::INADDR_NONE; }

class WinsockBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    winsock::EnsureRegistered();
    ASSERT_EQ(0u, CWinsock::ProcessStarts()) << "an earlier test kept a start";
    g_startups = g_cleanups = 0;
  }
};

TEST_F(WinsockBinding, BeforeAnyStartEverythingReadsDown) {
  CWinsock record;
  Engine engine(record);
  ASSERT_EQ(1, engine.Init(false));
  EXPECT_FALSE(engine.GetWinsockLoaded());
  EXPECT_STREQ("Down", engine.GetWinsockStatus());
  EXPECT_EQ(0, engine.GetWinsockMaxSockets());
  EXPECT_EQ(0, engine.GetWinsockMaxDatagramSize());
  EXPECT_STREQ("WSOCK32.DLL", engine.GetWinsockPath());
  EXPECT_TRUE(TableIsStubs());
  EXPECT_EQ(ws::INVALID_SOCKET, WinsockProcs.socket(ws::AF_INET, ws::SOCK_STREAM, 0));
  EXPECT_EQ(ws::WSANOTINITIALISED, WinsockProcs.WSAGetLastError());
}

TEST_F(WinsockBinding, PathIsCutAndEmptyMeansDefault) {
  CWinsock record;
  record.SetPath("");
  EXPECT_STREQ("WSOCK32.DLL", record.GetPath());
  record.SetPath(std::string(300, 'a').c_str());
  EXPECT_EQ(200u, std::strlen(record.GetPath()));
  record.SetPath(nullptr);
  EXPECT_STREQ("WSOCK32.DLL", record.GetPath());
}

TEST_F(WinsockBinding, StartFillsTheRecordAndPathBecomesModuleName) {
  CWinsock record;
  {
    Engine engine(record);
    ASSERT_EQ(1, engine.Init(true));
    ASSERT_TRUE(engine.GetWinsockLoaded()) << engine.GetWinsockInfo();
    EXPECT_FALSE(TableIsStubs());
    EXPECT_EQ(0x0101, record.StartupData.wVersion);
    EXPECT_GT(engine.GetWinsockMaxSockets(), 0);
    EXPECT_STREQ(winsock::kModulePath, engine.GetWinsockPath());
    EXPECT_STREQ(winsock::kModulePath, record.Path);
  }
  EXPECT_TRUE(TableIsStubs());
  EXPECT_STREQ("Down", record.StartupData.szSystemStatus);
  EXPECT_EQ(nullptr, record.Module);
}

TEST_F(WinsockBinding, MissingDllLeavesTheEngineWithoutAStart) {
  CWinsock record;
  record.SetPath("C:\\NOWHERE\\NOSUCH.DLL");
  Engine engine(record);
  ASSERT_EQ(1, engine.Init(true));
  EXPECT_FALSE(engine.GetWinsockLoaded());
  EXPECT_STREQ("Could not load Winsock DLL.", engine.GetWinsockInfo());
  EXPECT_EQ(0u, CWinsock::ProcessStarts());
  EXPECT_EQ(ws::INVALID_SOCKET, WinsockProcs.socket(ws::AF_INET, ws::SOCK_STREAM, 0));
  EXPECT_EQ(ws::WSANOTINITIALISED, WinsockProcs.WSAGetLastError());
  // Before the start, a name cannot be resolved, and that is not an error.
  EXPECT_EQ(0, engine.SetLocalHost("localhost"));
  EXPECT_EQ(0u, engine.LocalHostAddr);
}

TEST_F(WinsockBinding, ModuleLackingOrdinalsStillStartsAndMissingOnesStayStubs) {
  win32::RegisterBuiltinModule("PARTIAL.DLL", "C:\\TEST\\PARTIAL.DLL", Exports({23, 11}));
  CWinsock record;
  record.SetPath("partial.dll");
  {
    Engine engine(record);
    ASSERT_EQ(1, engine.Init(true));
    EXPECT_TRUE(engine.GetWinsockLoaded()) << engine.GetWinsockInfo();
    EXPECT_EQ(ws::INVALID_SOCKET, WinsockProcs.socket(ws::AF_INET, ws::SOCK_STREAM, 0));
    ws::in_addr a{};
    EXPECT_EQ(nullptr, WinsockProcs.inet_ntoa(a));
    EXPECT_EQ(0x0100007Fu, WinsockProcs.inet_addr("127.0.0.1"));
    EXPECT_FALSE(LoadWinsockProcs(record.Module));
  }
  EXPECT_TRUE(TableIsStubs());
  win32::UnregisterBuiltinModule("PARTIAL.DLL");
}

TEST_F(WinsockBinding, RefusedStartsLeaveTheirTextAndGiveTheStartBack) {
  struct Case {
    FARPROC startup;
    const char* text;
  } cases[] = {
      {P(RefusingStartup), "Version not supported."},
      {P(NotReadyStartup), "Network subsystem not ready."},
      {P(OldVersionStartup), "Incompatible Winsock version."},
  };
  for (const auto& c : cases) {
    win32::RegisterBuiltinModule("ODD.DLL", "C:\\TEST\\ODD.DLL", Exports({}, c.startup));
    CWinsock record;
    record.SetPath("ODD.DLL");
    Engine engine(record);
    ASSERT_EQ(1, engine.Init(true));
    EXPECT_FALSE(engine.GetWinsockLoaded());
    EXPECT_STREQ(c.text, engine.GetWinsockInfo());
    EXPECT_EQ(0, record.UseCount);
    EXPECT_EQ(0u, CWinsock::ProcessStarts());
    EXPECT_TRUE(TableIsStubs());
  }
  win32::UnregisterBuiltinModule("ODD.DLL");
}

TEST_F(WinsockBinding, TwoEnginesLoadTwiceBindOnceAndReleaseInOrder) {
  win32::RegisterBuiltinModule("COUNTING.DLL", "C:\\TEST\\COUNTING.DLL",
                               Exports({}, P(CountingStartup), P(CountingCleanup)));
  CWinsock record;
  record.SetPath("COUNTING.DLL");
  auto* a = new Engine(record);
  auto* b = new Engine(record);
  ASSERT_EQ(1, a->Init(true));
  ASSERT_EQ(1, b->Init(true));
  EXPECT_EQ(2, win32::ModuleLoadCount("COUNTING.DLL"));
  EXPECT_EQ(2, g_startups);
  EXPECT_EQ(2, record.UseCount);
  EXPECT_EQ(reinterpret_cast<void*>(&CountingStartup), reinterpret_cast<void*>(WinsockProcs.WSAStartup));

  delete a;
  EXPECT_EQ(1, g_cleanups);
  EXPECT_FALSE(TableIsStubs());
  EXPECT_EQ(1, record.UseCount);

  delete b;
  EXPECT_EQ(2, g_cleanups);
  EXPECT_TRUE(TableIsStubs());
  // The module is never freed.
  EXPECT_EQ(2, win32::ModuleLoadCount("COUNTING.DLL"));
  win32::UnregisterBuiltinModule("COUNTING.DLL");
}

TEST_F(WinsockBinding, TableStaysBoundWhileAnotherUnitStillHoldsAStart) {
  CWinsock unitA;
  CWinsock unitB;
  auto* a = new Engine(unitA);
  auto* b = new Engine(unitB);
  ASSERT_EQ(1, a->Init(true));
  ASSERT_EQ(1, b->Init(true));
  delete a;  // unit A's last engine
  EXPECT_FALSE(TableIsStubs());
  ws::SOCKET s = WinsockProcs.socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  EXPECT_NE(ws::INVALID_SOCKET, s);
  WinsockProcs.closesocket(s);
  delete b;
  EXPECT_TRUE(TableIsStubs());
}

TEST_F(WinsockBinding, SettingLoadedFalseGivesTheStartBack) {
  CWinsock record;
  Engine engine(record);
  ASSERT_EQ(1, engine.Init(true));
  ASSERT_TRUE(engine.GetWinsockLoaded());
  engine.UseWinsock(false);
  EXPECT_FALSE(engine.GetWinsockLoaded());
  EXPECT_EQ(0u, CWinsock::ProcessStarts());
  engine.UseWinsock(true);
  EXPECT_TRUE(engine.GetWinsockLoaded());
}

TEST_F(WinsockBinding, InitAgainKeepsAStartedRecord) {
  CWinsock record;
  Engine engine(record);
  ASSERT_EQ(1, engine.Init(true));
  record.SetPath("OTHER.DLL");
  record.Init();  // a second component of the unit
  EXPECT_EQ(1, record.UseCount);
  EXPECT_STREQ("OTHER.DLL", record.Path);
}

TEST_F(WinsockBinding, WindowRoutesToItsEngineAndDiesWithIt) {
  CWinsock record;
  HWND window = nullptr;
  {
    Engine engine(record);
    ASSERT_EQ(1, engine.Init(false));
    window = engine.Window;
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&engine), GetWindowLongA(window, 0));
  }
  EXPECT_FALSE(IsWindow(window));
}

}  // namespace
