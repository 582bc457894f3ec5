// The FTP component against vsftpd and pyftpdlib on 127.0.0.1: logon and its trail, listings
// through OnDirList, uploads and downloads through the component's events in both data
// connection modes, the remote path, raw commands, failures raised with the server's reply
// or the socket's text, the busy rule inside a handler, and handlers that throw or destroy
// their component.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <sys/stat.h>

#include "corv/ftp/Corvftp.h"
#include "tests/peers/dante.h"
#include "tests/peers/ftp.h"
#include "tests/peers/process.h"
#include "tests/peers/scripted.h"
#include "tests/peers/tinyproxy.h"

namespace {

using peers::ReadFileBytes;
using peers::WriteFileBytes;

std::string Pattern(std::size_t n, int seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + i / 509 + seed) & 0xFF);
  return s;
}

// Records what the component raises, in order.
struct Log {
  std::vector<std::string> events;
  std::string body;
  std::vector<long> counts;
  std::vector<std::string> names;
  bool nulAfterBlock = true;

  void Attach(TcorvFTP& f) {
    f.OnPITrail = [this](TObject*, int code, AnsiString& d) { events.push_back("Trail " + std::to_string(code) + " " + d.str()); };
    f.OnError = [this](TObject*, int code, AnsiString& d) { events.push_back("Error " + std::to_string(code) + " " + d.str()); };
    f.OnStartTransfer = [this](TObject*) { events.push_back("Start"); };
    f.OnEndTransfer = [this](TObject*) { events.push_back("End"); };
    f.OnTransfer = [this](TObject*, long bytes, char* text, unsigned short n) {
      nulAfterBlock = nulAfterBlock && text[n] == '\0';
      body.append(text, n);
      counts.push_back(bytes);
    };
    f.OnDirList = [this](TObject*, AnsiString&, AnsiString& name, bool isDir, long size, AnsiString&) {
      names.push_back(name.str() + (isDir ? "/" : ":" + std::to_string(size)));
    };
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& e : events) n += e.compare(0, prefix.size(), prefix) == 0;
    return n;
  }
  void Clear() {
    events.clear();
    body.clear();
    counts.clear();
    names.clear();
  }
};

// The 227 reply that names a scripted data server.
std::string PasvReply(int port) {
  return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256) + ")\r\n";
}

// A component aimed at a scripted control server for a passive transfer of f.bin.
void AimPassive(TcorvFTP& f, const peers::ScriptedServer& control) {
  f.Timeout = 20;
  f.Passive = true;
  f.RemoteHost = "127.0.0.1";
  f.RemotePort = static_cast<unsigned short>(control.port());
  f.RemoteFile = "f.bin";
}

// The control script of a passive RETR of f.bin, up to the command.
peers::ScriptedServer& ScriptRetr(peers::ScriptedServer& control, const peers::ScriptedServer& data) {
  return control.Accept().Send("220 scripted\r\n").Expect("PASV\r\n").Send(PasvReply(data.port())).Expect("RETR f.bin\r\n");
}

template <class Server>
class CorvFTPServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    try {
      server = new Server;
    } catch (const std::exception& e) {
      startError = e.what();
    }
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  void SetUp() override { ASSERT_NE(server, nullptr) << startError; }

  // A component set up for the server; nothing is sent yet.
  std::unique_ptr<TcorvFTP> Make(bool passive, Log& log) {
    auto f = std::make_unique<TcorvFTP>(nullptr);
    f->Timeout = 20;  // no test waits forever on a silent server
    f->RemoteHost = "127.0.0.1";
    f->RemotePort = static_cast<unsigned short>(server->port());
    f->Passive = passive;
    f->TransferMode = tmBinary;
    if constexpr (std::is_same_v<Server, peers::Pyftpdlib>) {
      f->User = peers::Pyftpdlib::kUser;
      f->Password = peers::Pyftpdlib::kPassword;
    } else {
      f->User = "anonymous";
    }
    log.Attach(*f);
    return f;
  }
  std::string Local(const std::string& name) { return local.File(name); }
  // The server's writable folder, on disk and as the server names it.
  std::string Remote(const std::string& name) { return server->root() + "/" + name; }
  static std::string Home() { return server->home(); }
  static std::string Path(const std::string& name) { return (Home() == "/" ? "" : Home()) + "/" + name; }

  static Server* server;
  static std::string startError;
  peers::TempDir local{"tavlin-corvftp-local"};
};
template <class Server>
Server* CorvFTPServer<Server>::server = nullptr;
template <class Server>
std::string CorvFTPServer<Server>::startError;

using Servers = ::testing::Types<peers::Vsftpd, peers::Pyftpdlib>;
TYPED_TEST_SUITE(CorvFTPServer, Servers);

TYPED_TEST(CorvFTPServer, LogonListAndLogoff) {
  Log log;
  auto f = this->Make(true, log);
  WriteFileBytes(this->Remote("quotes.csv"), "ABC,1.5\n");
  f->Logon();
  EXPECT_TRUE(f->Connected());
  EXPECT_NE(f->SocketHandle(), -1);
  ASSERT_GE(log.events.size(), 3u);
  EXPECT_EQ(log.events[0], "Trail 2 Connecting to FTP server.");
  EXPECT_EQ(log.events[1], "Trail 2 Connected.");
  EXPECT_EQ(log.events[2].rfind("Trail 1 220", 0), 0u) << log.events[2];
  EXPECT_EQ(log.Count("Trail 0 TYPE I"), 1);
  f->RemotePath = this->Home().c_str();
  EXPECT_EQ(f->RemotePath().str(), this->Home());

  EXPECT_THROW(f->MakeDirectory(), ECORVCore);  // RemoteFile is empty: the server refuses
  log.Clear();
  f->RemoteFile = "folder";
  f->MakeDirectory();
  EXPECT_EQ(f->LastReply().SubString(1, 3), "257");
  f->RemoteFile = "";
  f->ListDirectoryLong();
  std::sort(log.names.begin(), log.names.end());
  EXPECT_EQ(log.names, (std::vector<std::string>{"folder/", "quotes.csv:8"}));
  // The final reply of the listing stays readable.
  EXPECT_EQ(f->LastReply().SubString(1, 3), "226");
  EXPECT_EQ(log.Count("Start"), 1);
  EXPECT_EQ(log.Count("End"), 1);

  log.Clear();
  f->ListDirectory();
  std::sort(log.names.begin(), log.names.end());
  ASSERT_EQ(log.names.size(), 2u);
  EXPECT_EQ(log.names[1], "quotes.csv:0");

  f->RemotePath = "folder";
  EXPECT_EQ(f->RemotePath().str(), this->Path("folder"));
  f->RemotePath = "..";
  EXPECT_EQ(f->RemotePath().str(), this->Home());
  f->RemoteFile = "folder";
  f->RemoveDirectoryA();

  log.Clear();
  f->Logoff();
  EXPECT_FALSE(f->Connected());
  EXPECT_EQ(log.Count("Trail 0 QUIT"), 1);
  EXPECT_EQ(f->SocketHandle(), -1);
}

TYPED_TEST(CorvFTPServer, UploadAndDownloadThroughTheComponent) {
  for (bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    Log log;
    auto f = this->Make(passive, log);
    const std::string data = Pattern(300 * 1000 + 7, passive ? 1 : 2);
    const std::string name = passive ? "p.bin" : "a.bin";
    WriteFileBytes(this->Local("up.bin"), data);
    f->LocalFile = this->Local("up.bin").c_str();
    f->RemoteFile = this->Path(name).c_str();
    // The first action logs on by itself.
    f->Upload();
    EXPECT_TRUE(f->Connected());
    EXPECT_EQ(ReadFileBytes(this->Remote(name)), data);
    ASSERT_FALSE(log.counts.empty());
    EXPECT_EQ(log.counts.back(), static_cast<long>(data.size()));
    EXPECT_TRUE(log.body.empty()) << "uploads report counts only";
    EXPECT_EQ(log.Count("Start"), 1);
    EXPECT_EQ(log.Count("End"), 1);

    // Without a local file the blocks arrive through OnTransfer, each NUL-terminated for the call.
    log.Clear();
    f->LocalFile = "";
    int actionSeen = -1;
    f->OnTransfer = [&](TObject*, long bytes, char* text, unsigned short n) {
      actionSeen = f->Action();
      log.nulAfterBlock = log.nulAfterBlock && text[n] == '\0';
      log.body.append(text, n);
      log.counts.push_back(bytes);
    };
    f->Action = ftpDownload;
    EXPECT_EQ(actionSeen, ftpDownload);
    EXPECT_EQ(f->Action(), ftpIdle);
    EXPECT_TRUE(log.body == data) << log.body.size();
    EXPECT_TRUE(log.nulAfterBlock);
    EXPECT_EQ(log.counts.back(), static_cast<long>(data.size()));

    // To a local file, resumed from a start byte.
    log.Clear();
    WriteFileBytes(this->Local("down.bin"), data.substr(0, 1000));
    f->LocalFile = this->Local("down.bin").c_str();
    f->StartByte = "1000";
    f->Download();
    EXPECT_TRUE(ReadFileBytes(this->Local("down.bin")) == data);
    f->StartByte = "";
    f->Logoff();
  }
}

TYPED_TEST(CorvFTPServer, RenameDeleteAndRawCommands) {
  Log log;
  auto f = this->Make(true, log);
  WriteFileBytes(this->Remote("old.txt"), "x");
  f->RemoteFile = this->Path("old.txt").c_str();
  f->AltFile = this->Path("new.txt").c_str();
  f->RenameFile();
  EXPECT_EQ(ReadFileBytes(this->Remote("new.txt")), "x");
  f->Command = "NOOP";
  EXPECT_EQ(f->LastReply().SubString(1, 1), "2");
  EXPECT_EQ(log.Count("Trail 0 NOOP"), 1);

  // A line break in a raw command would smuggle in a second command: refused, nothing sent.
  const int sent = log.Count("Trail 0");
  for (const char* line : {"NOOP\r\nDELE new.txt", "NOOP\nDELE new.txt", "NOOP\rDELE new.txt"}) {
    try {
      f->Command = line;
      ADD_FAILURE() << "accepted";
    } catch (const ECORVCore& e) {
      EXPECT_EQ(e.Code, 147) << e.Message;
    }
  }
  EXPECT_EQ(log.Count("Trail 0"), sent);
  // The same holds for a file name that reaches a command line.
  f->RemoteFile = (this->Path("new.txt") + "\r\nDELE " + this->Path("new.txt")).c_str();
  EXPECT_THROW(f->DeleteFileA(), ECORVCore);
  EXPECT_EQ(ReadFileBytes(this->Remote("new.txt")), "x");
  EXPECT_EQ(f->Action(), ftpIdle);

  f->RemoteFile = this->Path("new.txt").c_str();
  f->DeleteFileA();
  EXPECT_EQ(ReadFileBytes(this->Remote("new.txt")), "");
  // A server refusal carries the server's reply.
  try {
    f->DeleteFileA();
    ADD_FAILURE();
  } catch (const ECORVCore& e) {
    EXPECT_EQ(e.Code, 141);
    EXPECT_EQ(e.Message.str(), "141: " + f->LastReply().str());
    EXPECT_EQ(f->LastReply().SubString(1, 1), "5");
  }
  f->Logoff();
}

TYPED_TEST(CorvFTPServer, BusyInsideAHandlerAndUploadChecks) {
  Log log;
  auto f = this->Make(true, log);
  const std::string data = Pattern(200 * 1000, 5);
  WriteFileBytes(this->Remote("big.bin"), data);
  f->RemoteFile = this->Path("big.bin").c_str();
  f->Logon();
  std::vector<std::string> refused;
  f->OnPITrail = [&](TObject*, int code, AnsiString& d) {
    if (code != 0 || d.SubString(1, 4) != "RETR") return;
    for (int i = 0; i < 3; ++i) {
      try {
        if (i == 0) f->Upload();
        if (i == 1) f->TransferMode = tmASCII;
        if (i == 2) f->RemotePath = "/";
        refused.push_back("accepted");
      } catch (const ECORVCore& e) {
        refused.push_back(e.Message.str());
      }
    }
  };
  f->Download();
  ASSERT_EQ(refused.size(), 3u);
  for (const auto& r : refused) EXPECT_EQ(r, "143: Busy performing current action.");
  EXPECT_TRUE(log.body == data);
  EXPECT_EQ(f->TransferMode(), tmBinary);

  f->OnPITrail = nullptr;
  f->LocalFile = "";
  f->RemoteFile = this->Path("x.bin").c_str();
  try {
    f->Upload();
    ADD_FAILURE();
  } catch (const ECORVCore& e) {
    EXPECT_EQ(e.Message.str(), "145: Please specify a local file for upload.");
  }
  f->LocalFile = this->Local("missing.bin").c_str();
  try {
    f->Upload();
    ADD_FAILURE();
  } catch (const ECORVCore& e) {
    EXPECT_EQ(e.Message.str(), "145: Can't open LocalFile for reading.");
  }
  f->RemoteFile = "";
  try {
    f->Append();
    ADD_FAILURE();
  } catch (const ECORVCore& e) {
    EXPECT_EQ(e.Message.str(), "146: Please specify a remote file for upload.");
  }
  EXPECT_TRUE(f->Connected());
  f->Logoff();
}

TYPED_TEST(CorvFTPServer, RemotePathReadInsideATransfer) {
  Log log;
  auto f = this->Make(true, log);
  const std::string data = Pattern(100 * 1000, 3);
  WriteFileBytes(this->Remote("r.bin"), data);
  f->Logon();
  f->RemotePath = this->Home().c_str();
  f->RemoteFile = "r.bin";
  std::vector<std::string> paths;
  f->OnTransfer = [&](TObject*, long, char* text, unsigned short n) {
    log.body.append(text, n);
    if (paths.empty()) paths.push_back(f->RemotePath().str());
  };
  f->Download();
  // The running command keeps its own replies: the path read meanwhile is the one last set,
  // and the download ends on the server's final reply to it.
  EXPECT_EQ(paths, std::vector<std::string>{this->Home()});
  EXPECT_TRUE(log.body == data);
  EXPECT_EQ(f->LastReply().SubString(1, 3), "226");
  EXPECT_EQ(f->RemotePath().str(), this->Home());
  f->Command = "NOOP";
  EXPECT_EQ(f->LastReply().SubString(1, 3), "200");
  f->Logoff();
}

TYPED_TEST(CorvFTPServer, HandlerThatThrowsLeavesTheComponentUsable) {
  Log log;
  auto f = this->Make(true, log);
  const std::string data = Pattern(100 * 1000, 7);
  mkdir(this->Remote("sub").c_str(), 0777);
  chmod(this->Remote("sub").c_str(), 0777);
  WriteFileBytes(this->Remote("sub/t.bin"), data);
  f->Logon();
  f->RemotePath = this->Path("sub").c_str();
  f->RemoteFile = "t.bin";
  struct Stop {};
  f->OnTransfer = [](TObject*, long, char*, unsigned short) { throw Stop{}; };
  EXPECT_THROW(f->Download(), Stop);
  EXPECT_EQ(f->Action(), ftpIdle);
  // The next action runs normally, on the same or a new connection, in the same folder.
  log.Attach(*f);
  f->Download();
  EXPECT_TRUE(log.body == data);
  EXPECT_EQ(f->RemotePath().str(), this->Path("sub"));
  f->Logoff();
}

TYPED_TEST(CorvFTPServer, HandlerThatDestroysItsComponent) {
  Log log;
  TcorvFTP* f = this->Make(true, log).release();
  WriteFileBytes(this->Remote("d.bin"), Pattern(100 * 1000, 9));
  f->RemoteFile = this->Path("d.bin").c_str();
  int calls = 0;
  f->OnTransfer = [&](TObject*, long, char*, unsigned short) {
    ++calls;
    delete f;  // the running download stops; nothing of the component is touched again
  };
  try {
    f->Download();
  } catch (const ECORVCore& e) {
    EXPECT_EQ(e.Code, 301) << e.Message;
  }
  EXPECT_EQ(calls, 1);
}

TEST(CorvFTPLogon, WrongPasswordRaisesTheServersReply) {
  peers::Pyftpdlib server;
  TcorvFTP f(nullptr);
  Log log;
  log.Attach(f);
  f.Timeout = 20;
  f.RemoteHost = "127.0.0.1";
  f.RemotePort = static_cast<unsigned short>(server.port());
  f.User = peers::Pyftpdlib::kUser;
  f.Password = "wrong";
  try {
    f.Logon();
    ADD_FAILURE() << "logged on";
  } catch (const ECORVCore& e) {
    EXPECT_EQ(e.Code, 141);
    EXPECT_EQ(e.Message.SubString(1, 9), "141: 530 ") << e.Message;
    EXPECT_EQ(e.Message.str(), "141: " + f.LastReply().str());
  }
  // The password goes out as typed: the trail shows it.
  EXPECT_EQ(log.Count("Trail 0 PASS wrong"), 1);
  // The right one works on the same connection.
  f.Password = peers::Pyftpdlib::kPassword;
  f.Logon();
  f.Command = "NOOP";
  f.Logoff();
}

TEST(CorvFTPLogon, RefusedConnection) {
  const int port = peers::FreePort();  // nothing listens there
  TcorvFTP f(nullptr);
  Log log;
  log.Attach(f);
  f.Timeout = 20;
  f.RemoteHost = "127.0.0.1";
  f.RemotePort = static_cast<unsigned short>(port);
  try {
    f.Logon();
    ADD_FAILURE() << "connected";
  } catch (const ECORVCore& e) {
    EXPECT_EQ(e.Code, 10061);
    EXPECT_EQ(e.Message.str(), "10061: [10061] Connection refused");
  }
  EXPECT_EQ(log.Count("Error 142 Failed to connect: [10061] Connection refused"), 1);
  EXPECT_FALSE(f.Connected());
  // Any other action logs on first and fails the same way.
  f.RemoteFile = "x";
  try {
    f.Download();
    ADD_FAILURE();
  } catch (const ECORVCore& e) {
    EXPECT_EQ(e.Message.str(), "10061: [10061] Connection refused");
  }
  EXPECT_EQ(f.Action(), ftpIdle);
}

TEST(CorvFTPLogon, ProxyFailuresRaiseWhatTheProxySaid) {
  peers::Tinyproxy tunnel({"corv", "tunnel-pw"});
  peers::Dante socks;
  peers::Dante turnsAway(false, true);
  const int closed = peers::FreePort();  // nothing listens there
  const struct {
    TFIREWALLTYPES type;
    int port;
    std::string text;
  } cases[] = {
      {fwTunnel, tunnel.port(), "HTTP/1.0 407"},
      {fwSOCKS5, socks.port(), "connection refused"},
      {fwSOCKS4, turnsAway.port(), "the proxy closed the connection during the handshake"},
  };
  for (const auto& c : cases) {
    TcorvFTP f(nullptr);
    Log log;
    log.Attach(f);
    f.Timeout = 20;
    f.FirewallType = c.type;
    f.FirewallHost = "127.0.0.1";
    f.FirewallPort = static_cast<unsigned short>(c.port);
    f.RemoteHost = "127.0.0.1";
    f.RemotePort = static_cast<unsigned short>(closed);
    try {
      f.Logon();
      ADD_FAILURE() << "connected";
    } catch (const ECORVCore& e) {
      EXPECT_EQ(e.Code, 118);
      EXPECT_EQ(e.Message.str().rfind("118: " + c.text, 0), 0u) << e.Message.str();
    }
    EXPECT_EQ(log.Count("Error 118 " + c.text), 1) << c.text;
    EXPECT_FALSE(f.Connected());
  }
}

// A server that stops answering: the time-out ends the command with "Interrupted" while the
// connection stands, and the late reply is read before the next command goes out; once the
// server has gone, the text is "Timeout".
TEST(CorvFTPScripted, SilentServerAndVanishedServer) {
  peers::ScriptedServer server;
  server.Accept()
      .Send("220 scripted\r\n")
      .Expect("NOOP\r\n")
      .Gate(1)
      .Expect("NOOP\r\n")  // the recovery's: its reply comes after the late one
      .Send("200 late\r\n200 in step\r\n")
      .Expect("NOOP\r\n")
      .Send("200 on time\r\n")
      .Close();
  server.Start();
  TcorvFTP f(nullptr);
  Log log;
  log.Attach(f);
  f.OnPITrail = [&](TObject*, int code, AnsiString& d) {
    log.events.push_back("Trail " + std::to_string(code) + " " + d.str());
    if (log.Count("Trail 0 NOOP") == 2) server.Open(1);
  };
  f.Timeout = 1;
  f.RemoteHost = "127.0.0.1";
  f.RemotePort = static_cast<unsigned short>(server.port());
  f.Logon();  // no user: the greeting completes it
  EXPECT_EQ(f.LastReply(), "220 scripted");
  try {
    f.Command = "NOOP";
    ADD_FAILURE() << "answered";
  } catch (const ECORVCore& e) {
    EXPECT_EQ(e.Message.str(), "301: Interrupted");
  }
  EXPECT_TRUE(f.Connected());
  f.Command = "NOOP";
  EXPECT_EQ(f.LastReply(), "200 on time");
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.failures(), "");
  try {
    f.Command = "NOOP";
    ADD_FAILURE() << "answered";
  } catch (const ECORVCore& e) {
    EXPECT_EQ(e.Code, 301) << e.Message;
    EXPECT_EQ(e.Message.str(), "301: Timeout");
  }
  EXPECT_FALSE(f.Connected());
  EXPECT_EQ(f.Action(), ftpIdle);
}

// A throw from OnStartTransfer before the server's go-ahead: the recovery leaves no transfer
// behind, so the next action's first reply (the greeting of the new logon) opens no file.
TEST(CorvFTPScripted, ThrowFromOnStartTransferKeepsTheLocalFile) {
  peers::ScriptedServer data;
  data.Accept().Stall();
  data.Start();
  peers::ScriptedServer control;
  ScriptRetr(control, data)
      .ReadUntilClosed()  // the recovery closes the connection
      .Accept()
      .Send("220 again\r\n")
      .Expect("NOOP\r\n")
      .Send("200 fine\r\n");
  control.Start();
  peers::TempDir dir;
  const std::string local = dir.Write("keep.bin", "precious");
  TcorvFTP f(nullptr);
  AimPassive(f, control);
  f.LocalFile = local.c_str();
  struct Stop {};
  f.OnStartTransfer = [](TObject*) { throw Stop{}; };
  EXPECT_THROW(f.Download(), Stop);
  EXPECT_EQ(f.Action(), ftpIdle);
  f.OnStartTransfer = nullptr;
  f.Command = "NOOP";
  EXPECT_EQ(f.LastReply(), "200 fine");
  EXPECT_EQ(ReadFileBytes(local), "precious");
  EXPECT_TRUE(control.WaitDone());
  EXPECT_EQ(control.failures(), "");
}

// An interrupt from a transfer handler stops the download while the server still holds the
// data connection open, at once even between two blocks of one receive; the control
// connection stays up and in step, so the text is "Interrupted".
TEST(CorvFTPScripted, InterruptFromATransferHandler) {
  const std::string sent(20000, 'x');
  peers::ScriptedServer data;
  data.Accept().Send(sent).Stall();
  data.Start();
  peers::ScriptedServer control;
  ScriptRetr(control, data)
      .Send("150 here it comes\r\n")
      .ExpectLine()  // ABOR, after the urgent bytes
      .Expect("NOOP\r\n")
      .Send("426 aborted\r\n226 abort done\r\n200 in step\r\n")
      .Expect("NOOP\r\n")
      .Send("200 own reply\r\n")
      .Stall();
  control.Start();
  TcorvFTP f(nullptr);
  AimPassive(f, control);
  std::string got;
  int events = 0;
  f.OnTransfer = [&](TObject*, long, char* text, unsigned short n) {
    got.append(text, n);
    ++events;
    f.Interrupt();
  };
  try {
    f.Download();
    ADD_FAILURE() << "not interrupted";
  } catch (const ECORVCore& e) {
    EXPECT_EQ(e.Message.str(), "301: Interrupted");
  }
  EXPECT_EQ(events, 1);
  EXPECT_EQ(got.size(), 2048u) << "the first block only";
  EXPECT_TRUE(f.Connected());
  EXPECT_EQ(f.Action(), ftpIdle);
  f.OnTransfer = nullptr;
  f.Command = "NOOP";
  EXPECT_EQ(f.LastReply(), "200 own reply");
  EXPECT_EQ(control.failures(), "");
  EXPECT_EQ(data.failures(), "");
}

}  // namespace
