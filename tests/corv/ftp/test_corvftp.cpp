// The FTP component without a server: initial values, property rules, error translation,
// event copies, Windows Sockets use through the unit's own record, construction failures, and
// reading it from a form description with its handlers bound by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "corv/core/Alloc.h"
#include "corv/core/Winsock.h"
#include "corv/ftp/Corvftp.h"
#include "platform/vcl/core/formreader.h"
#include "tests/corv/component_checks.h"

namespace {

using componenttest::ExpectCorv;

TEST(CorvFTPUnit, InitialValues) {
  TcorvFTP f(nullptr);
  EXPECT_EQ(f.Action(), ftpIdle);
  for (const AnsiString& s : {f.AltFile(), f.LocalFile(), f.RemoteFile(), f.RemoteHost(), f.RemotePath(),
                              f.User(), f.Password(), f.StartByte(), f.LastReply(), f.FirewallHost(),
                              f.FirewallUser(), f.FirewallPassword(), f.FirewallData()})
    EXPECT_EQ(s, "");
  EXPECT_EQ(f.RemotePort(), 21);
  EXPECT_FALSE(f.Passive());
  EXPECT_EQ(f.TransferMode(), tmDefault);
  EXPECT_EQ(f.FirewallType(), fwNone);
  EXPECT_EQ(f.FirewallPort(), 80);
  EXPECT_EQ(f.Timeout(), 0);
  EXPECT_EQ(f.SocketHandle(), -1);
  EXPECT_FALSE(f.Connected());
  EXPECT_TRUE(f.WinsockLoaded());
  EXPECT_NE(f.WinsockStatus(), "Down");

  // The second constructor builds the same component.
  TcorvFTP g(nullptr, true, const_cast<char*>("ignored"));
  EXPECT_EQ(g.RemotePort(), 21);
  EXPECT_EQ(g.FirewallPort(), 80);
  EXPECT_EQ(g.ClassName(), "TcorvFTP");
}

TEST(CorvFTPUnit, FileNamesKeepAtMost256Characters) {
  TcorvFTP f(nullptr);
  const std::string longName(300, 'n');
  const std::string kept(256, 'n');
  using F = TcorvFTP;
  const std::pair<AnsiString (F::*)(), void (F::*)(AnsiString)> names[] = {
      {&F::FAltFile, &F::FSetAltFile}, {&F::FLocalFile, &F::FSetLocalFile}, {&F::FRemoteFile, &F::FSetRemoteFile}};
  for (const auto& [get, set] : names) {
    (f.*set)(AnsiString(longName));
    EXPECT_EQ((f.*get)().str(), kept);
    (f.*set)(AnsiString(kept));
    EXPECT_EQ((f.*get)().str(), kept);
    (f.*set)(AnsiString("a b.txt\0tail", 12));
    EXPECT_EQ((f.*get)(), "a b.txt");
    (f.*set)("");
    EXPECT_EQ((f.*get)(), "");
  }
  // The three fields are separate.
  f.AltFile = "alt";
  f.LocalFile = "local";
  f.RemoteFile = "remote";
  EXPECT_EQ(f.AltFile(), "alt");
  EXPECT_EQ(f.LocalFile(), "local");
  EXPECT_EQ(f.RemoteFile(), "remote");
}

TEST(CorvFTPUnit, CredentialsAndStartByteStayWhole) {
  TcorvFTP f(nullptr);
  const std::string longText(1000, 'p');
  f.User = AnsiString(longText);
  f.Password = AnsiString(longText + "q");
  f.StartByte = "123456789012";
  EXPECT_EQ(f.User().str(), longText);
  EXPECT_EQ(f.Password().str(), longText + "q");
  EXPECT_EQ(f.StartByte(), "123456789012");
  f.User = AnsiString("anonymous\0x", 11);
  EXPECT_EQ(f.User(), "anonymous");
  f.Password = "";
  f.StartByte = "";
  EXPECT_EQ(f.Password(), "");
  EXPECT_EQ(f.StartByte(), "");
}

TEST(CorvFTPUnit, StoredWithoutAConnection) {
  TcorvFTP f(nullptr);
  f.Passive = true;
  EXPECT_TRUE(f.Passive());
  f.Passive = false;
  EXPECT_FALSE(f.Passive());
  // No server to ask: the mode is kept for the next logon.
  f.TransferMode = tmBinary;
  EXPECT_EQ(f.TransferMode(), tmBinary);
  f.TransferMode = tmASCII;
  EXPECT_EQ(f.TransferMode(), tmASCII);
  f.RemotePort = 2121;
  EXPECT_EQ(f.RemotePort(), 2121);
  f.RemoteHost = "127.0.0.1";
  EXPECT_EQ(f.RemoteHost(), "127.0.0.1");
  f.RemoteHost = "localhost";
  EXPECT_EQ(f.RemoteHost(), "127.0.0.1");
  f.RemoteHost = "";
  EXPECT_EQ(f.RemoteHost(), "");
  // The path is only known by asking the server: without a connection it reads empty.
  f.RemotePath = "/pub";
  EXPECT_EQ(f.RemotePath(), "");
  EXPECT_EQ(f.SocketHandle(), -1);
  // Nothing to do while idle and unconnected; neither raises.
  f.Interrupt();
  f.Logoff();
  f.Action = ftpIdle;
  f.Action = ftpLogoff;
  f.DoEvents();
  EXPECT_EQ(f.Action(), ftpIdle);
}

TEST(CorvFTPUnit, CommonPropertyRules) {
  TcorvFTP f(nullptr);
  f.FirewallUser = AnsiString(std::string(300, 'u'));
  EXPECT_EQ(f.FirewallUser().str(), std::string(255, 'u'));
  f.FirewallPassword = AnsiString(std::string(255, 'p'));
  EXPECT_EQ(f.FirewallPassword().str(), std::string(255, 'p'));
  f.FirewallType = fwSOCKS5;
  EXPECT_EQ(f.FirewallPort(), 1080);
  f.FirewallType = fwTunnel;
  EXPECT_EQ(f.FirewallPort(), 80);
  f.FirewallPort = 3128;
  EXPECT_EQ(f.FirewallPort(), 3128);
  f.CharsetMode = 300;
  EXPECT_EQ(f.CharsetMode(), 44);
  f.CharsetMode = 200;
  EXPECT_EQ(f.CharsetMode(), -56);
  f.Timeout = 5;
  EXPECT_EQ(f.Timeout(), 5);
  char data[] = {'a', '\0', 'b', '\0'};
  f.SetFirewallData(data, 4);
  EXPECT_EQ(f.FirewallData().str(), std::string("a\0b\0", 4));
  f.WinsockInfo = "x";
  f.WinsockStatus = "y";
  f.LastReply = "z";
  EXPECT_NE(f.WinsockInfo(), "x");
  EXPECT_NE(f.WinsockStatus(), "y");
  EXPECT_EQ(f.LastReply(), "");
  ExpectCorv([&] { f.FirewallHost = "no-such-host.invalid"; }, 11001, "[11001] Host not found");
  EXPECT_EQ(f.FirewallHost(), "");
}

TEST(CorvFTPUnit, TreatErrTexts) {
  TcorvFTP f(nullptr);
  try {
    f.TreatErr(200);
    ADD_FAILURE();
  } catch (const ECORVCore&) {
    ADD_FAILURE() << "out of memory must not be ECORVCore";
  } catch (const EOutOfMemory& e) {
    EXPECT_EQ(e.Message, "FTP. Out of memory.");
  }
  f.TreatErr(0);
  ExpectCorv([&] { f.TreatErr(10061); }, 10061, "[10061] Connection refused");
  // A text already set is used as it stands.
  ExpectCorv([&] { f.TreatErr(141); }, 141, "[10061] Connection refused");
  // An idle interrupt clears it, so the next code derives its own.
  f.Interrupt();
  ExpectCorv([&] { f.TreatErr(301); }, 301, "Interrupted.");
}

// A descendant sees events through its Fire methods without handlers.
class Observed : public TcorvFTP {
 public:
  using TcorvFTP::TcorvFTP;
  void FirePITrail(int ErrorCode, char* Description) override {
    seen += std::to_string(ErrorCode) + ":" + Description + ";";
    TcorvFTP::FirePITrail(ErrorCode, Description);
  }
  std::string seen;
};

TEST(CorvFTPUnit, EventsGetCopiesAndTheOwnBlock) {
  Observed f(nullptr);
  char status[] = "Connected.";
  f.FirePITrail(2, status);
  f.FireEndTransfer();  // no handler: nothing happens
  f.FireDirList(status, status, true, 1, nullptr);
  EXPECT_EQ(f.seen, "2:Connected.;");

  std::string log;
  f.OnPITrail = [&](TObject* s, int code, AnsiString& d) {
    EXPECT_EQ(s, &f);
    log += std::to_string(code) + d.str() + ";";
    d = "changed";
  };
  f.OnError = [&](TObject*, int code, AnsiString& d) { log += "E" + std::to_string(code) + d.str() + ";"; };
  f.OnStartTransfer = [&](TObject*) { log += "S;"; };
  f.OnEndTransfer = [&](TObject*) { log += "X;"; };
  char* got = nullptr;
  f.OnTransfer = [&](TObject*, long bytes, char* text, unsigned short n) {
    log += "T" + std::to_string(bytes) + ":" + std::to_string(n) + ";";
    got = text;
  };
  std::string dir;
  f.OnDirList = [&](TObject*, AnsiString& entry, AnsiString& name, bool isDir, long size, AnsiString& time) {
    dir = entry.str() + "|" + name.str() + "|" + (isDir ? "d" : "-") + "|" + std::to_string(size) + "|" + time.str();
    name = "changed";
  };
  char line[] = "USER anonymous";
  f.FirePITrail(0, line);
  EXPECT_STREQ(line, "USER anonymous");
  f.FireError(142, nullptr);
  f.FireStartTransfer();
  char block[] = "abcd";
  f.FireTransfer(70000, block, 4);
  f.FireEndTransfer();
  EXPECT_EQ(log, "0USER anonymous;E142;S;T70000:4;X;");
  EXPECT_EQ(got, block);
  char entry[] = "drwxr-xr-x 2 u g 4096 Jan 1 2020 pub", name[] = "pub", time[] = "Jan 1 2020";
  f.FireDirList(entry, name, true, 4096, time);
  EXPECT_EQ(dir, "drwxr-xr-x 2 u g 4096 Jan 1 2020 pub|pub|d|4096|Jan 1 2020");
  EXPECT_STREQ(name, "pub");
}

TEST(CorvFTPUnit, WinsockUse) {
  CWinsock& record = CorvftpWinsock();
  const unsigned before = record.UseCount;
  {
    TComponent owner(nullptr);
    auto* a = new TcorvFTP(&owner);
    new TcorvFTP(&owner);
    EXPECT_GE(record.UseCount, before + 2);
    const unsigned both = record.UseCount;
    a->WinsockLoaded = false;
    EXPECT_FALSE(a->WinsockLoaded());
    EXPECT_EQ(record.UseCount, both - 1);
    a->WinsockLoaded = false;
    EXPECT_EQ(record.UseCount, both - 1);
    a->WinsockLoaded = true;
    EXPECT_TRUE(a->WinsockLoaded());
    EXPECT_EQ(record.UseCount, both);
    EXPECT_FALSE(a->WinsockPath().IsEmpty());
    EXPECT_NE(a->WinsockInfo(), "");
  }
  EXPECT_EQ(record.UseCount, before);
}

TEST(CorvFTPUnit, FailedLoadThroughTheUnitsOwnRecord) {
  CWinsock& record = CorvftpWinsock();
  ASSERT_EQ(record.UseCount, 0u);
  // A record that once started keeps its start-up data, and with it its path.
  const bool neverStarted = record.StartupData.wVersion != CWinsock::kVersion11;
  record.SetPath("/nonexistent/missing-wsock.dll");
  {
    TcorvFTP f(nullptr);
    // No exception: the failure shows only in the Windows Sockets properties.
    EXPECT_FALSE(f.WinsockLoaded());
    EXPECT_EQ(f.WinsockStatus(), "Down");
    EXPECT_EQ(f.WinsockMaxSockets(), 0);
    EXPECT_EQ(f.WinsockMaxDatagramSize(), 0);
    EXPECT_EQ(record.UseCount, 0u);
    if (neverStarted) {
      // Nothing was ever started through the record, so it went back to its start state:
      // the default path again and no failure text.
      EXPECT_EQ(f.WinsockPath(), "WSOCK32.DLL");
      EXPECT_EQ(f.WinsockInfo(), "");
    }
    // An empty path restores the default, and asking again loads from it.
    f.WinsockPath = "";
    EXPECT_EQ(f.WinsockPath(), "WSOCK32.DLL");
    f.WinsockLoaded = true;
    EXPECT_TRUE(f.WinsockLoaded());
    EXPECT_NE(f.WinsockStatus(), "Down");
    EXPECT_NE(f.WinsockInfo(), "");
  }
  EXPECT_EQ(record.UseCount, 0u);
  EXPECT_STREQ(record.Path, "WSOCK32.DLL");
}

// Every engine allocation of a construction failing in turn: a whole component or
// EOutOfMemory with one of the two texts, and every Windows Sockets start given back.
TEST(CorvFTPUnit, ConstructionFailures) {
  std::set<std::string> messages;
  ASSERT_NO_FATAL_FAILURE(componenttest::CollectConstructionFailures<TcorvFTP>(
      CorvftpWinsock(), [](TcorvFTP& f, unsigned skip) { EXPECT_EQ(f.RemotePort(), 21) << skip; }, messages));
  messages.erase("could not initialize FTP (out of memory)");
  messages.erase("FTP. Out of memory.");
  EXPECT_TRUE(messages.empty()) << *messages.begin();
  TcorvFTP f(nullptr);
  // A writer that cannot store raises out of memory, never ECORVCore.
  {
    corv::test::AllocFailureScope fail(0, 1);
    EXPECT_THROW(f.User = AnsiString(std::string(300, 'a')), EOutOfMemory);
  }
  f.User = AnsiString(std::string(300, 'a'));
  EXPECT_EQ(f.User().Length(), 300);
}

// A root like a form: handlers bound by name while its description is read.
class TFTPRoot : public TComponent {
 public:
  explicit TFTPRoot(TComponent* owner) : TComponent(owner) {
    RegisterHandler("corvFTP1PITrail", &TFTPRoot::corvFTP1PITrail);
    RegisterHandler("corvFTP1DirList", &TFTPRoot::corvFTP1DirList);
    RegisterHandler("corvFTP1Transfer", &TFTPRoot::corvFTP1Transfer);
    RegisterHandler("WrongShape", &TFTPRoot::WrongShape);
    RegisterField("corvFTP1", corvFTP1);
  }
  void corvFTP1PITrail(TObject*, int ErrorCode, AnsiString& Description) {
    trail += std::to_string(ErrorCode) + " " + Description.str() + ";";
  }
  void corvFTP1DirList(TObject*, AnsiString&, AnsiString& FileName, bool IsDir, long, AnsiString&) {
    names += FileName.str() + (IsDir ? "/" : "") + ";";
  }
  void corvFTP1Transfer(TObject*, long BytesTransferred, char* Text, unsigned short lenText) {
    received.append(Text, lenText);
    last = BytesTransferred;
  }
  // A transfer handler with a direction, as the HTTP component has it.
  void WrongShape(TObject*, int, long, char*, unsigned short) {}
  TcorvFTP* corvFTP1 = nullptr;
  std::string trail, names, received;
  long last = 0;
};

const bool rootRegistered = [] {
  vcl::RegisterClass<TFTPRoot, TComponent>("TFTPRoot");
  return true;
}();

const char* kDescription =
    "object Root: TFTPRoot\n"
    "  object corvFTP1: TcorvFTP\n"
    "    FirewallPort = 80\n"
    "    LocalFile = '/tmp/quotes.csv'\n"
    "    Passive = True\n"
    "    Password = 'guest'\n"
    "    RemoteFile = 'quotes.csv'\n"
    "    RemoteHost = '127.0.0.1'\n"
    "    TransferMode = tmBinary\n"
    "    User = 'anonymous'\n"
    "    WinsockStatus = 'ignored'\n"
    "    OnDirList = corvFTP1DirList\n"
    "    OnPITrail = corvFTP1PITrail\n"
    "    OnTransfer = corvFTP1Transfer\n"
    "  end\n"
    "end\n";

TEST(CorvFTPStreaming, ReadFromDescription) {
  ASSERT_TRUE(rootRegistered);
  Corvftp::Register();
  const auto page = vcl::ComponentsOnPage("Corvane");
  EXPECT_NE(std::find(page.begin(), page.end(), "TcorvFTP"), page.end());

  TFTPRoot root(nullptr);
  vcl::ReadRootComponent(&root, kDescription);
  ASSERT_NE(root.corvFTP1, nullptr);
  TcorvFTP& f = *root.corvFTP1;
  EXPECT_EQ(f.Owner(), &root);
  EXPECT_EQ(f.ClassName(), "TcorvFTP");
  EXPECT_EQ(f.LocalFile(), "/tmp/quotes.csv");
  EXPECT_TRUE(f.Passive());
  EXPECT_EQ(f.Password(), "guest");
  EXPECT_EQ(f.RemoteFile(), "quotes.csv");
  EXPECT_EQ(f.RemoteHost(), "127.0.0.1");
  EXPECT_EQ(f.TransferMode(), tmBinary);
  EXPECT_EQ(f.User(), "anonymous");
  EXPECT_NE(f.WinsockStatus(), "ignored");

  char sent[] = "USER anonymous", name[] = "pub", block[] = "abc";
  f.FirePITrail(0, sent);
  f.FireDirList(name, name, true, 0, nullptr);
  f.FireTransfer(3, block, 3);
  EXPECT_EQ(root.trail, "0 USER anonymous;");
  EXPECT_EQ(root.names, "pub/;");
  EXPECT_EQ(root.received, "abc");
  EXPECT_EQ(root.last, 3);

  const std::string out = vcl::WriteComponent(&f);
  for (const char* present : {"FirewallPort = 80", "LocalFile = '/tmp/quotes.csv'", "Passive = True",
                              "Password = 'guest'", "RemoteFile = 'quotes.csv'", "RemoteHost = '127.0.0.1'",
                              "TransferMode = tmBinary", "User = 'anonymous'"})
    EXPECT_NE(out.find(present), std::string::npos) << present << "\n" << out;
  for (const char* absent : {"WinsockInfo", "WinsockStatus", "Action", "LastReply", "LocalHost", "Timeout",
                             "WinsockLoaded", "FirewallType", "AltFile", "RemotePath", "StartByte",
                             "RemotePort", "Command"})
    EXPECT_EQ(out.find(absent), std::string::npos) << absent << "\n" << out;

  // Defaults are left out.
  TcorvFTP fresh(nullptr);
  const std::string plain = vcl::WriteComponent(&fresh);
  for (const char* absent : {"Passive", "TransferMode", "User", "LocalFile"})
    EXPECT_EQ(plain.find(absent), std::string::npos) << absent << "\n" << plain;
  EXPECT_NE(plain.find("FirewallPort = 80"), std::string::npos) << plain;
}

TEST(CorvFTPStreaming, BadDescriptions) {
  {
    TFTPRoot root(nullptr);
    std::string text = kDescription;
    text.replace(text.find("= corvFTP1Transfer"), 18, "= WrongShape");
    EXPECT_THROW(vcl::ReadRootComponent(&root, text), EReadError);
  }
  {
    TFTPRoot root(nullptr);
    std::string text = kDescription;
    text.replace(text.find("tmBinary"), 8, "tmEBCDIC");
    EXPECT_THROW(vcl::ReadRootComponent(&root, text), EReadError);
  }
  // Writing the action by name runs it: an idle logoff does nothing.
  TFTPRoot root(nullptr);
  std::string text = kDescription;
  text.replace(text.find("    OnDirList"), 0, "    Action = ftpLogoff\n");
  vcl::ReadRootComponent(&root, text);
  EXPECT_EQ(root.corvFTP1->Action(), ftpIdle);
  EXPECT_EQ(root.trail, "");
}

}  // namespace
