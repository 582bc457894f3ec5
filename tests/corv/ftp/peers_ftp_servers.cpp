// The FTP engine against vsftpd (anonymous) and pyftpdlib (user and password), in passive and
// active mode: logon, files both ways byte for byte, resume, append, folder actions, listings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>

#include "tests/corv/ftp/ftp_sink.h"
#include "tests/peers/ftp.h"

namespace {

using ftptest::Engine;
using peers::ReadFileBytes;
using peers::WriteFileBytes;

// Bytes of every value, NULs and line ends included, in a pattern that never repeats within
// a chunk.
std::string Pattern(std::size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  return s;
}

template <class Server>
class FTPServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    try {
      server = new Server();
    } catch (const peers::PeerError& e) {
      startError = e.what();
    }
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  void SetUp() override { ASSERT_NE(server, nullptr) << startError; }
  void Connect(Engine& e, bool passive) {
    e.ftp.RemotePort = static_cast<WORD>(server->port());
    e.ftp.Passive = passive ? 1 : 0;
    e.ftp.SetTransferMode(tmBinary);
    if constexpr (std::is_same_v<Server, peers::Pyftpdlib>) {
      e.ftp.User.SetText(peers::Pyftpdlib::kUser);
      e.ftp.Password.SetText(peers::Pyftpdlib::kPassword);
    } else {
      e.ftp.User.SetText("anonymous");
    }
  }
  // Logs on and goes to the server's writable folder.
  void Enter(Engine& e, bool passive) {
    Connect(e, passive);
    ASSERT_EQ(e.ftp.DoAction(ftpLogon), 0) << e.Error();
    ASSERT_EQ(e.ftp.SetRemotePath(server->home().c_str()), 0) << e.Error();
    e.sink.Clear();
  }
  static std::string Home() { return server->home() == "/" ? "" : server->home(); }
  std::string Local(const std::string& name) { return local.File(name); }
  std::string Remote(const std::string& name) { return server->root() + "/" + name; }
  static Server* server;
  static std::string startError;
  peers::TempDir local{"tavlin-ftp-local"};
};
template <class Server>
Server* FTPServer<Server>::server = nullptr;
template <class Server>
std::string FTPServer<Server>::startError;

using Servers = ::testing::Types<peers::Vsftpd, peers::Pyftpdlib>;
TYPED_TEST_SUITE(FTPServer, Servers);

TYPED_TEST(FTPServer, LogonTrailAndLogoff) {
  Engine e;
  this->Connect(e, true);
  ASSERT_EQ(e.ftp.DoAction(ftpLogon), 0) << e.Error();
  EXPECT_TRUE(e.ftp.Firewall.IsConnected());
  auto& ev = e.sink.events;
  ASSERT_GE(ev.size(), 4u);
  EXPECT_EQ(ev[0], "Trail 2 Connecting to FTP server.");
  EXPECT_EQ(ev[1], "Trail 2 Connected.");
  EXPECT_EQ(ev[2].rfind("Trail 1 220", 0), 0u) << ev[2];
  EXPECT_EQ(e.sink.Count("Trail 0 USER "), 1);
  EXPECT_EQ(e.sink.Count("Trail 0 TYPE I"), 1) << "the stored mode is sent after the logon";
  EXPECT_EQ(e.ftp.TransferMode, tmBinary);
  EXPECT_EQ(e.ftp.CurrentAction, 0);

  e.sink.Clear();
  ASSERT_EQ(e.ftp.DoAction(ftpLogoff), 0) << e.Error();
  EXPECT_FALSE(e.ftp.Firewall.IsConnected());
  EXPECT_EQ(e.sink.Count("Trail 0 QUIT"), 1);
  EXPECT_EQ(e.sink.Count("Trail 1 221"), 1);
  EXPECT_EQ(e.ftp.DoAction(ftpLogoff), 0) << "logging off twice does nothing";
}

TYPED_TEST(FTPServer, UploadDownloadByteExactBothModes) {
  for (bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    Engine e;
    this->Enter(e, passive);
    const std::string data = Pattern(3 * 1024 * 1024 + 17, passive ? 1 : 2);
    const std::string name = passive ? "p.bin" : "a.bin";
    WriteFileBytes(this->Local("up.bin"), data);
    e.ftp.SetLocalFile(this->Local("up.bin").c_str());
    e.ftp.SetRemoteFile(name.c_str());
    ASSERT_EQ(e.ftp.DoAction(ftpUpload), 0) << e.Error();
    EXPECT_EQ(ReadFileBytes(this->Remote(name)), data);
    EXPECT_EQ(e.sink.Count("Start"), 1);
    EXPECT_EQ(e.sink.Count("End"), 1);
    ASSERT_FALSE(e.sink.counts.empty());
    EXPECT_EQ(e.sink.counts.back(), static_cast<std::int32_t>(data.size()));
    EXPECT_EQ(e.sink.Count("Trail 0 " + std::string(passive ? "PASV" : "PORT")), 1);
    EXPECT_EQ(e.ftp.CurrentAction, 0);

    e.sink.Clear();
    e.ftp.SetLocalFile(this->Local("down.bin").c_str());
    ASSERT_EQ(e.ftp.DoAction(ftpDownload), 0) << e.Error();
    EXPECT_EQ(ReadFileBytes(this->Local("down.bin")), data);
    EXPECT_EQ(e.sink.counts.back(), static_cast<std::int32_t>(data.size()));
    EXPECT_EQ(e.sink.Only("Start").size() + e.sink.Only("End").size(), 2u);
    EXPECT_EQ(std::string(e.ftp.Reply.Text()).substr(0, 3), "226");

    // Without a local file the blocks come as events.
    e.sink.Clear();
    e.ftp.SetLocalFile("");
    ASSERT_EQ(e.ftp.DoAction(ftpDownload), 0) << e.Error();
    EXPECT_EQ(e.sink.body.size(), data.size());
    EXPECT_TRUE(e.sink.body == data);
    EXPECT_TRUE(e.sink.nulOk);

    // Writes are gathered: a file that cannot take them fails at the flush before the end of
    // the transfer, reported once and before EndTransfer, and the download fails.
    WriteFileBytes(this->Remote("small.bin"), data.substr(0, 5000));
    e.sink.Clear();
    e.ftp.SetLocalFile("/dev/full");
    e.ftp.SetRemoteFile("small.bin");
    ASSERT_EQ(e.ftp.DoAction(ftpDownload), FTP_FILE_WRITE_FAILED);
    EXPECT_EQ(e.Error(), "Error writing to local file.");
    EXPECT_EQ(e.sink.Only("Error"), std::vector<std::string>{"Error 7 Error writing to local file."});
    const auto& ev = e.sink.events;
    EXPECT_LT(std::find(ev.begin(), ev.end(), "Error 7 Error writing to local file."), std::find(ev.begin(), ev.end(), "End"));
    EXPECT_EQ(e.sink.counts.back(), 5000);

    // A file that cannot be created fails the download too, after its reply was read: the
    // next command gets its own.
    e.sink.Clear();
    e.ftp.SetLocalFile(this->Local("missing/small.bin").c_str());
    ASSERT_EQ(e.ftp.DoAction(ftpDownload), FTP_FILE_OPEN_FAILED);
    EXPECT_EQ(e.Error(), "Error opening local file.");
    EXPECT_EQ(e.sink.Only("Error").front(), "Error 4 Error opening local file.");
    EXPECT_EQ(e.sink.Count("End"), 1);
    e.ftp.Command.SetText("NOOP");
    ASSERT_EQ(e.ftp.DoAction(FTP_ACTION_COMMAND), 0) << e.Error();
    EXPECT_EQ(std::string(e.ftp.Reply.Text()).substr(0, 3), "200");
    EXPECT_EQ(e.ftp.DoAction(ftpLogoff), 0);
  }
}

TYPED_TEST(FTPServer, ResumeAppendAndEmptyFile) {
  Engine e;
  this->Enter(e, true);
  const std::string data = Pattern(1500, 3);
  WriteFileBytes(this->Local("src"), data);
  WriteFileBytes(this->Remote("half"), data.substr(0, 1000));
  chmod(this->Remote("half").c_str(), 0666);  // the server's own user writes to it

  // Upload resumed at 1000 sends the last 500 bytes.
  e.ftp.SetLocalFile(this->Local("src").c_str());
  e.ftp.SetRemoteFile("half");
  e.ftp.StartByte.SetText("1000");
  ASSERT_EQ(e.ftp.DoAction(ftpUpload), 0) << e.Error();
  EXPECT_EQ(e.sink.Count("Trail 0 REST 1000"), 1);
  EXPECT_EQ(e.sink.counts.back(), 1500);
  EXPECT_EQ(ReadFileBytes(this->Remote("half")), data);

  // Download resumed at 1000 appends to the partial local file.
  WriteFileBytes(this->Local("part"), data.substr(0, 1000));
  e.ftp.SetLocalFile(this->Local("part").c_str());
  e.ftp.SetRemoteFile("half");
  ASSERT_EQ(e.ftp.DoAction(ftpDownload), 0) << e.Error();
  EXPECT_EQ(ReadFileBytes(this->Local("part")), data);

  // Resuming into a file that is not there: open error once, write errors per block, and the
  // download fails.
  e.sink.Clear();
  e.ftp.SetLocalFile(this->Local("missing/none").c_str());
  ASSERT_EQ(e.ftp.DoAction(ftpDownload), FTP_FILE_OPEN_FAILED);
  EXPECT_EQ(e.sink.Count("Error 4 Error opening local file."), 1);
  EXPECT_GE(e.sink.Count("Error 5 Error writing to local file."), 1);

  e.ftp.StartByte.SetText("");
  WriteFileBytes(this->Local("tail"), std::string("TAIL\0", 5));
  e.ftp.SetLocalFile(this->Local("tail").c_str());
  ASSERT_EQ(e.ftp.DoAction(ftpAppend), 0) << e.Error();
  EXPECT_EQ(ReadFileBytes(this->Remote("half")), data + std::string("TAIL\0", 5));

  // A unique name chosen by the server.
  e.ftp.SetRemoteFile("");
  ASSERT_EQ(e.ftp.DoAction(ftpStoreUnique), 0) << e.Error();
  EXPECT_EQ(std::string(e.ftp.Reply.Text()).substr(0, 1), "2");

  e.sink.Clear();
  WriteFileBytes(this->Local("empty"), "");
  e.ftp.SetLocalFile(this->Local("empty").c_str());
  e.ftp.SetRemoteFile("empty.txt");
  ASSERT_EQ(e.ftp.DoAction(ftpUpload), 0) << e.Error();
  EXPECT_EQ(ReadFileBytes(this->Remote("empty.txt")), "");
  EXPECT_EQ(e.sink.Count("Transfer"), 0);
  EXPECT_EQ(e.sink.Count("End"), 1);
}

TYPED_TEST(FTPServer, FolderActionsAndListings) {
  for (bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    Engine e;
    this->Enter(e, passive);
    const std::string dir = passive ? "pdir" : "adir";
    e.ftp.SetRemoteFile(dir.c_str());
    ASSERT_EQ(e.ftp.DoAction(ftpMakeDirectory), 0) << e.Error();
    struct stat st{};
    ASSERT_EQ(stat(this->Remote(dir).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));

    ASSERT_EQ(e.ftp.SetTransferMode(tmASCII), 0) << e.Error();
    EXPECT_EQ(e.ftp.TransferMode, tmASCII);
    EXPECT_EQ(e.sink.Count("Trail 0 TYPE A"), 1);
    ASSERT_EQ(e.ftp.SetRemotePath(dir.c_str()), 0) << e.Error();
    EXPECT_EQ(std::string(e.ftp.GetRemotePath()), this->Home() + "/" + dir);
    EXPECT_EQ(std::string(e.ftp.Reply.Text()).find('"'), std::string(e.ftp.Reply.Text()).rfind('"'))
        << "the reply ends before the closing quote";

    WriteFileBytes(this->Remote(dir + "/one two.txt"), std::string(1234, 'x'));
    mkdir(this->Remote(dir + "/sub").c_str(), 0777);
    e.sink.Clear();
    e.ftp.SetRemoteFile("");
    ASSERT_EQ(e.ftp.DoAction(ftpListDirectoryLong), 0) << e.Error();
    bool file = false, sub = false;
    for (const auto& d : e.sink.dirs) {
      if (d.name == "one two.txt") {
        file = true;
        EXPECT_EQ(d.size, 1234);
        EXPECT_FALSE(d.dir);
        EXPECT_EQ(std::count(d.time.begin(), d.time.end(), ' '), 2) << d.time;
      }
      if (d.name == "sub") {
        sub = true;
        EXPECT_TRUE(d.dir);
      }
    }
    EXPECT_TRUE(file && sub);
    EXPECT_EQ(std::string(e.ftp.Reply.Text()).substr(0, 3), "226");

    e.sink.Clear();
    ASSERT_EQ(e.ftp.DoAction(ftpListDirectory), 0) << e.Error();
    std::vector<std::string> names;
    for (const auto& d : e.sink.dirs) names.push_back(d.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"one two.txt", "sub"}));

    e.ftp.SetRemoteFile("one two.txt");
    e.ftp.SetAltFile("renamed.txt");
    ASSERT_EQ(e.ftp.DoAction(ftpRenameFile), 0) << e.Error();
    EXPECT_EQ(ReadFileBytes(this->Remote(dir + "/renamed.txt")).size(), 1234u);
    e.ftp.SetRemoteFile("renamed.txt");
    ASSERT_EQ(e.ftp.DoAction(ftpDeleteFile), 0) << e.Error();
    EXPECT_NE(stat(this->Remote(dir + "/renamed.txt").c_str(), &st), 0);
    EXPECT_EQ(e.ftp.DoAction(ftpDeleteFile), FTP_REPLY_FAILED);
    EXPECT_EQ(e.Error().substr(0, 3), "550");
    EXPECT_EQ(e.ftp.CurrentAction, 0);

    e.ftp.SetRemoteFile("sub");
    ASSERT_EQ(e.ftp.DoAction(ftpRemoveDirectory), 0) << e.Error();
    ASSERT_EQ(e.ftp.SetRemotePath(".."), 0) << e.Error();
    EXPECT_EQ(e.sink.Count("Trail 0 CDUP"), 1);
    EXPECT_EQ(std::string(e.ftp.GetRemotePath()), this->server->home());
    e.ftp.SetRemoteFile(dir.c_str());
    ASSERT_EQ(e.ftp.DoAction(ftpRemoveDirectory), 0) << e.Error();

    // Raw command with a multi-line answer.
    e.sink.Clear();
    e.ftp.Command.SetText("HELP");
    ASSERT_EQ(e.ftp.DoAction(FTP_ACTION_COMMAND), 0) << e.Error();
    EXPECT_GE(e.sink.Count("Trail 1 "), 3);
    EXPECT_EQ(std::string(e.ftp.Reply.Text()).substr(0, 4), "214 ");
  }
}

TYPED_TEST(FTPServer, FailuresKeepTheEngineUsable) {
  Engine e;
  this->Enter(e, true);
  e.ftp.SetRemoteFile("no such file");
  e.ftp.SetLocalFile(this->Local("nothing").c_str());
  EXPECT_EQ(e.ftp.DoAction(ftpDownload), FTP_REPLY_FAILED);
  EXPECT_EQ(e.Error().substr(0, 3), "550");
  EXPECT_FALSE(e.ftp.Data.Connected);
  EXPECT_EQ(e.ftp.CurrentAction, 0);

  e.ftp.SetLocalFile("");
  e.ftp.SetRemoteFile("x");
  EXPECT_EQ(e.ftp.DoAction(ftpUpload), FTP_NO_LOCAL_FILE);
  EXPECT_EQ(e.Error(), "Please specify a local file for upload.");
  e.ftp.SetLocalFile(this->Local("nothing").c_str());
  EXPECT_EQ(e.ftp.DoAction(ftpUpload), FTP_NO_LOCAL_FILE);
  EXPECT_EQ(e.Error(), "Can't open LocalFile for reading.");
  e.ftp.SetRemoteFile("");
  EXPECT_EQ(e.ftp.DoAction(ftpAppend), FTP_NO_REMOTE_FILE);
  EXPECT_EQ(e.Error(), "Please specify a remote file for upload.");

  // A name holding a line break is refused before anything reaches the server.
  e.sink.Clear();
  e.ftp.SetRemoteFile("a\r\nDELE victim");
  WriteFileBytes(this->Remote("victim"), "keep");
  EXPECT_EQ(e.ftp.DoAction(ftpDeleteFile), FTP_LINE_BREAK);
  EXPECT_EQ(e.sink.Count("Trail 0"), 0);
  EXPECT_EQ(ReadFileBytes(this->Remote("victim")), "keep");
  e.ftp.Command.SetText("NOOP\r\nDELE victim");
  EXPECT_EQ(e.ftp.DoAction(FTP_ACTION_COMMAND), FTP_LINE_BREAK);
  EXPECT_EQ(ReadFileBytes(this->Remote("victim")), "keep");
  e.sink.Clear();
  e.ftp.SetRemoteFile("victim");
  e.ftp.SetAltFile("moved\r\nDELE victim");
  EXPECT_EQ(e.ftp.DoAction(ftpRenameFile), FTP_LINE_BREAK);
  EXPECT_EQ(e.sink.Count("Trail 0"), 0);
  EXPECT_EQ(ReadFileBytes(this->Remote("victim")), "keep");
  // A bad old name leaves no rename waiting on the server either: the connection stays.
  e.ftp.SetRemoteFile("a\r\nDELE victim");
  e.ftp.SetAltFile("moved");
  EXPECT_EQ(e.ftp.DoAction(ftpRenameFile), FTP_LINE_BREAK);
  EXPECT_TRUE(e.ftp.Firewall.IsConnected());
  e.ftp.SetAltFile("");

  // A start byte beyond the end of the local file sends nothing rather than stale bytes.
  WriteFileBytes(this->Local("small"), std::string(1500, 's'));
  e.ftp.SetLocalFile(this->Local("small").c_str());
  e.ftp.SetRemoteFile("beyond");
  WriteFileBytes(this->Remote("beyond"), std::string(6000, 'r'));
  chmod(this->Remote("beyond").c_str(), 0666);
  e.ftp.StartByte.SetText("5000");
  EXPECT_EQ(e.ftp.DoAction(ftpUpload), FTP_LOCAL_FILE);
  EXPECT_EQ(e.Error(), "Error reading from local file.");
  EXPECT_EQ(ReadFileBytes(this->Remote("beyond")), std::string(6000, 'r'));
  e.ftp.StartByte.SetText("");

  e.ftp.Command.SetText("NOOP");
  EXPECT_EQ(e.ftp.DoAction(FTP_ACTION_COMMAND), 0) << e.Error();

  // The server ends the session (not a Logoff: the folder is gone back to).
  const auto dropped = [&] {
    e.ftp.Command.SetText("QUIT");
    EXPECT_EQ(e.ftp.DoAction(FTP_ACTION_COMMAND), 0) << e.Error();
    for (int i = 0; i < 500 && e.ftp.Firewall.IsConnected(); ++i) e.ftp.CWsock::DoEvents(10, e.ftp.Window);
    e.ftp.Command.SetText("NOOP");
  };
  // The folder was removed while the connection was down: the way back fails with the
  // server's reply, and an absolute RemotePath still leads out (it replayed the way first).
  mkdir(this->Remote("doomed").c_str(), 0777);
  ASSERT_EQ(e.ftp.SetRemotePath("doomed"), 0) << e.Error();
  dropped();
  rmdir(this->Remote("doomed").c_str());
  EXPECT_EQ(e.ftp.DoAction(FTP_ACTION_COMMAND), FTP_REPLY_FAILED);
  EXPECT_EQ(e.Error().substr(0, 3), "550");
  EXPECT_EQ(e.ftp.SetTransferMode(tmBinary), 0) << "no folder needed: " << e.Error();
  ASSERT_EQ(e.ftp.SetRemotePath(this->server->home().c_str()), 0) << e.Error();
  EXPECT_EQ(e.ftp.DoAction(FTP_ACTION_COMMAND), 0) << e.Error();
  EXPECT_EQ(std::string(e.ftp.GetRemotePath()), this->server->home());

  // A name with a quote reads cut short at the quote; the way back after a new logon is
  // still the folder itself, not the one named by the cut text.
  for (const char* d : {"q", "q\"d"}) {
    mkdir(this->Remote(d).c_str(), 0777);
    WriteFileBytes(this->Remote(std::string(d) + "/f"), d);
  }
  ASSERT_EQ(e.ftp.SetRemotePath("q\"d"), 0) << e.Error();
  EXPECT_EQ(std::string(e.ftp.GetRemotePath()), this->Home() + "/q");
  dropped();
  e.ftp.SetRemoteFile("f");
  e.ftp.SetLocalFile("");
  e.sink.Clear();
  ASSERT_EQ(e.ftp.DoAction(ftpDownload), 0) << e.Error();
  EXPECT_EQ(e.sink.body, "q\"d");
}

// Uploads, downloads and listings stopped by an interrupt from a handler or by the time-out,
// in both modes: every later command still gets its own reply.
TYPED_TEST(FTPServer, StoppedTransfersLeaveTheControlConnectionInStep) {
  for (bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    Engine e;
    this->Enter(e, passive);
    const std::string data = Pattern(8 * 1024 * 1024, 7);
    WriteFileBytes(this->Remote("stop.bin"), data);
    WriteFileBytes(this->Local("stop.bin"), data);
    // A listing long enough to be still under way when its first line arrives.
    for (int i = 0; i < 3000; ++i) WriteFileBytes(this->Remote("entry" + std::to_string(i)), "e");
    struct Case {
      int action;
      const char* event;  // the first event of this kind stops the action
      bool timeout;
    };
    for (const Case c : {Case{ftpDownload, "Transfer", false}, Case{ftpUpload, "Transfer", false},
                         Case{ftpListDirectoryLong, "Dir ", false}, Case{ftpDownload, "Transfer", true},
                         Case{ftpUpload, "Transfer", true}, Case{ftpListDirectoryLong, "Dir ", true}}) {
      SCOPED_TRACE(std::to_string(c.action) + (c.timeout ? " time-out" : " interrupt"));
      e.ftp.SetLocalFile(c.action == ftpUpload ? this->Local("stop.bin").c_str() : "");
      e.ftp.SetRemoteFile(c.action == ftpUpload ? "up.bin" : c.action == ftpDownload ? "stop.bin" : "");
      bool stopped = false;
      e.sink.then = [&](const std::string& ev) {
        if (stopped || ev.compare(0, std::strlen(c.event), c.event) != 0) return;
        stopped = true;
        if (c.timeout)
          e.ftp.Deadline -= e.ftp.TimeoutMs + 1000;  // the action's time has run out
        else
          e.ftp.DoAction(ftpIdle);
      };
      EXPECT_EQ(e.ftp.DoAction(c.action), CORV_INTERRUPTED) << e.Error();
      EXPECT_TRUE(stopped);
      e.sink.then = nullptr;
      EXPECT_TRUE(e.ftp.Firewall.IsConnected());
      EXPECT_EQ(std::string(e.ftp.GetRemotePath()), this->server->home());
      e.ftp.Command.SetText("NOOP");
      EXPECT_EQ(e.ftp.DoAction(FTP_ACTION_COMMAND), 0) << e.Error();
      EXPECT_EQ(std::string(e.ftp.Reply.Text()).substr(0, 3), "200");
    }
    // A whole transfer on the same connection.
    e.sink.Clear();
    e.ftp.SetLocalFile("");
    e.ftp.SetRemoteFile("stop.bin");
    ASSERT_EQ(e.ftp.DoAction(ftpDownload), 0) << e.Error();
    EXPECT_TRUE(e.sink.body == data);
    EXPECT_EQ(e.ftp.DoAction(ftpLogoff), 0);
  }
}

// Stops at points where the engine once left something behind. Each case runs an action on
// a fresh engine (logged on and in a folder of its own, except for the logon's cases) and at
// the first event that begins with `at` interrupts or aborts it: the handler's call returns at
// once, and a transfer that was cut is no success. Afterwards, on the same engine: one reply
// per command, the folder, and the exact bytes both ways of a file full of line ends (a TYPE
// never sent shows there), with no restart offset left on the server. A LocalFile the server
// never sent to stays as it was.
TYPED_TEST(FTPServer, StopsLeaveNothingBehind) {
  enum How { Interrupt, Abort };
  struct Case {
    int action;
    const char* at;
    How how;
    const char* remote;  // the action's RemoteFile; a REST is sent when `at` is its reply
  };
  const Case cases[] = {
      {ftpDownload, "Trail 1 350", Interrupt, "big.bin"},  // the offset outlived the action
      {ftpUpload, "Trail 1 350", Interrupt, "up.bin"},
      {ftpLogon, "Trail 2 Connected.", Interrupt, ""},  // Connected, but not logged on
      {ftpLogon, "Trail 1 220", Interrupt, ""},
      {ftpLogon, "Trail 0 USER", Interrupt, ""},
      {ftpLogon, "Trail 1 230", Interrupt, ""},  // TYPE I never sent
      {ftpLogon, "Trail 0 TYPE", Interrupt, ""},
      {ftpDownload, "Trail 1 227", Abort, "big.bin"},  // from the trail of a final reply
      {ftpDownload, "Trail 1 350", Abort, "big.bin"},
      {ftpDownload, "Trail 1 226", Abort, "big.bin"},
      {ftpDownload, "Trail 1 550", Abort, "missing.bin"},
      {ftpMakeDirectory, "Trail 1 257", Abort, "made"},
      {ftpDeleteFile, "Trail 1 250", Abort, "gone.bin"},
      {ftpDownload, "Trail 0 RETR", Abort, "big.bin"},  // before the command goes out
      {ftpDownload, "Transfer", Abort, "big.bin"},
      {ftpUpload, "Start", Abort, "up.bin"},
      {ftpUpload, "Transfer", Abort, "up.bin"},
      {ftpUpload, "End", Abort, "up.bin"},
      {FTP_ACTION_COMMAND, "Trail 1 214-", Interrupt, "HELP"},  // inside a reply of many lines
  };
  const std::string big = Pattern(2 * 1024 * 1024, 11);
  std::string lines;
  for (int i = 0; lines.size() < 30000; ++i) lines += std::to_string(i) + (i % 3 ? "\r\n" : "\n");
  mkdir(this->Remote("stops").c_str(), 0777);
  chmod(this->Remote("stops").c_str(), 0777);  // the server's own user writes there
  WriteFileBytes(this->Remote("stops/big.bin"), big);
  WriteFileBytes(this->Remote("stops/lines.txt"), lines);
  WriteFileBytes(this->Local("big.bin"), big);
  WriteFileBytes(this->Local("lines.txt"), lines);
  const std::string folder = this->Home() + "/stops";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.at) + (c.how == Abort ? ", abort" : ", interrupt") + ", action " +
                 std::to_string(c.action));
    WriteFileBytes(this->Remote("stops/gone.bin"), "x");
    WriteFileBytes(this->Local("keep.bin"), "precious");
    Engine e;
    e.ftp.SetTimeout(5);
    if (c.action == ftpLogon) {
      this->Connect(e, true);
    } else {
      this->Enter(e, true);
      ASSERT_EQ(e.ftp.SetRemotePath(folder.c_str()), 0) << e.Error();
    }
    const bool upload = c.action == ftpUpload;
    e.ftp.SetLocalFile(this->Local(upload ? "big.bin" : "keep.bin").c_str());
    e.ftp.SetRemoteFile(c.remote);
    e.ftp.Command.SetText(c.remote);
    e.ftp.StartByte.SetText(std::strstr(c.at, "350") ? "1000" : "");
    bool fired = false;
    int call = -1;
    e.sink.then = [&](const std::string& ev) {
      if (fired || ev.rfind(c.at, 0) != 0) return;
      fired = true;
      call = e.ftp.DoAction(c.how == Abort ? ftpAbort : ftpIdle);
    };
    const int r = e.ftp.DoAction(c.action);
    e.sink.then = nullptr;
    EXPECT_TRUE(fired);
    EXPECT_EQ(call, 0) << "the handler's call returns at once";
    EXPECT_TRUE(r == 0 || r == FTP_REPLY_FAILED || r == CORV_INTERRUPTED) << r << " " << e.Error();
    const bool cut = std::strstr("Transfer Start End Trail 0 RETR", c.at) || std::strstr(c.at, "350");
    EXPECT_TRUE(!cut || r != 0) << "a transfer cut short is no success";
    EXPECT_EQ(e.ftp.CurrentAction, 0);
    if (e.sink.Count("Trail 1 1") == 0) {
      EXPECT_EQ(ReadFileBytes(this->Local("keep.bin")), "precious");
    }

    // Each check goes on to the next case when it fails: every case shows its own faults.
    const auto ok = [&](int result, const char* what) {
      EXPECT_EQ(result, 0) << what << ": " << e.Error();
      return result == 0;
    };
    e.ftp.Command.SetText("NOOP");
    e.sink.Clear();
    if (!ok(e.ftp.DoAction(FTP_ACTION_COMMAND), "NOOP")) continue;
    EXPECT_EQ(std::string(e.ftp.Reply.Text()).substr(0, 3), "200");
    if (e.sink.Count("Trail 2 Connecting") == 0) {
      EXPECT_EQ(e.sink.Only("Trail 1").size(), 1u) << "nothing the stopped action owed is left unread";
    }
    if (c.action == ftpLogon && !ok(e.ftp.SetRemotePath(folder.c_str()), "CWD")) continue;
    EXPECT_EQ(std::string(e.ftp.GetRemotePath()), folder);
    e.ftp.StartByte.SetText("");
    e.ftp.SetLocalFile(this->Local("got.txt").c_str());
    e.ftp.SetRemoteFile("lines.txt");
    if (!ok(e.ftp.DoAction(ftpDownload), "download")) continue;
    EXPECT_TRUE(ReadFileBytes(this->Local("got.txt")) == lines) << ReadFileBytes(this->Local("got.txt")).size();
    e.ftp.SetLocalFile(this->Local("lines.txt").c_str());
    e.ftp.SetRemoteFile("put.txt");
    if (!ok(e.ftp.DoAction(ftpUpload), "upload")) continue;
    EXPECT_TRUE(ReadFileBytes(this->Remote("stops/put.txt")) == lines) << ReadFileBytes(this->Remote("stops/put.txt")).size();
  }
}

TEST(FTPLogon, WrongPasswordAndAutoLogon) {
  peers::Pyftpdlib server;
  Engine e;
  e.ftp.RemotePort = static_cast<WORD>(server.port());
  e.ftp.Passive = 1;
  e.ftp.User.SetText(peers::Pyftpdlib::kUser);
  e.ftp.Password.SetText("wrong");
  e.ftp.SetRemoteFile("x");
  EXPECT_EQ(e.ftp.DoAction(ftpDownload), FTP_REPLY_FAILED);
  EXPECT_EQ(e.Error().substr(0, 3), "530");
  EXPECT_EQ(e.sink.Count("Trail 0 PASS wrong"), 1) << "the password shows in clear";
  EXPECT_EQ(e.sink.Count("Trail 0 PASV"), 0) << "no data command after a failed logon";
  EXPECT_EQ(e.sink.Count("Trail 0 RETR"), 0);

  e.ftp.Password.SetText(peers::Pyftpdlib::kPassword);
  ASSERT_EQ(e.ftp.DoAction(ftpLogon), 0) << "a logon on the open connection: " << e.Error();
  peers::WriteFileBytes(server.root() + "/x", std::string("a\0b", 3));
  e.sink.Clear();
  ASSERT_EQ(e.ftp.DoAction(ftpDownload), 0) << e.Error();
  EXPECT_EQ(e.sink.body, std::string("a\0b", 3));
}

}  // namespace
