#include "corv/ftp/Corvftp.h"

#include <functional>
#include <memory>
#include <new>

#include "corv/core/Winsock.h"
#include "corv/ftp/FTP.h"
#include "platform/vcl/core/typinfo.h"

// Implements the engine's event interface for one component and embeds its engine.
class FTPCThunk final : public FTPEvts {
 public:
  FTPCThunk() = default;
  ~FTPCThunk() = default;
  FTPCThunk(const FTPCThunk&) = delete;
  FTPCThunk& operator=(const FTPCThunk&) = delete;

  // Each operation does nothing without an owner and returns 0 either way.
  int DirList(const char* const& entry, const char* const& name, const int& isDir, const std::int32_t& size,
              const char* const& time) override {
    if (Owner)
      Owner->FireDirList(const_cast<char*>(entry), const_cast<char*>(name), isDir != 0, size,
                         const_cast<char*>(time));
    return 0;
  }
  int EndTransfer() override {
    if (Owner) Owner->FireEndTransfer();
    return 0;
  }
  int Error(const std::uint16_t& code, const char* const& description) override {
    if (Owner) Owner->FireError(code, const_cast<char*>(description));
    return 0;
  }
  int PITrail(const std::uint16_t& code, const char* const& description) override {
    if (Owner) Owner->FirePITrail(code, const_cast<char*>(description));
    return 0;
  }
  int StartTransfer() override {
    if (Owner) Owner->FireStartTransfer();
    return 0;
  }
  int Transfer(const std::int32_t& bytes, const char* const& text, const std::uint16_t& length) override {
    // The block is the engine's own buffer: handed on without a copy.
    static char empty[1] = {0};
    if (Owner) Owner->FireTransfer(bytes, text ? const_cast<char*>(text) : empty, text ? length : 0);
    return 0;
  }

  TcorvFTP* Owner = nullptr;
  // Engine actions of the component on the stack, and whether the component is gone: a
  // component destroyed inside its own action leaves the thunk to the outermost call.
  int Depth = 0;
  bool Orphaned = false;
  CFTP Engine;
};

namespace {

AnsiString Text(const DynStr& s) { return AnsiString(s.Text()); }

const bool registered = [] {
  CorvftpWinsock();
  vcl::RegisterEnum<TcorvFTPActions>({{"ftpIdle", ftpIdle},
                                      {"ftpAbort", ftpAbort},
                                      {"ftpLogon", ftpLogon},
                                      {"ftpLogoff", ftpLogoff},
                                      {"ftpDownload", ftpDownload},
                                      {"ftpUpload", ftpUpload},
                                      {"ftpDeleteFile", ftpDeleteFile},
                                      {"ftpRenameFile", ftpRenameFile},
                                      {"ftpListDirectory", ftpListDirectory},
                                      {"ftpListDirectoryLong", ftpListDirectoryLong},
                                      {"ftpMakeDirectory", ftpMakeDirectory},
                                      {"ftpRemoveDirectory", ftpRemoveDirectory},
                                      {"ftpAppend", ftpAppend},
                                      {"ftpStoreUnique", ftpStoreUnique}});
  vcl::RegisterEnum<TcorvFTPTransferModes>({{"tmDefault", tmDefault}, {"tmASCII", tmASCII}, {"tmBinary", tmBinary}});
  using F = TcorvFTP;
  const AnsiString none;
  vcl::RegisterClass<F, TcorvComponent>("TcorvFTP")
      .Property("Action", &F::FAction, &F::FSetAction)
      .NotStored()
      .Property("AltFile", &F::FAltFile, &F::FSetAltFile)
      .Default(none)
      .Property("LastReply", &F::FLastReply, &CORVCore::SetDummyAnsiString)
      .NotStored()
      .Property("LocalFile", &F::FLocalFile, &F::FSetLocalFile)
      .Default(none)
      .Property("Passive", &F::FPassive, &F::FSetPassive)
      .Default(false)
      .Property("Password", &F::FPassword, &F::FSetPassword)
      .Default(none)
      .Property("RemoteFile", &F::FRemoteFile, &F::FSetRemoteFile)
      .Default(none)
      .Property("RemoteHost", &F::FRemoteHost, &F::FSetRemoteHost)
      .Default(none)
      .Property("RemotePath", &F::FRemotePath, &F::FSetRemotePath)
      .Default(none)
      .Property("TransferMode", &F::FTransferMode, &F::FSetTransferMode)
      .Default(tmDefault)
      .Property("User", &F::FUser, &F::FSetUser)
      .Default(none)
      .Event("OnDirList", &F::OnDirList)
      .Event("OnEndTransfer", &F::OnEndTransfer)
      .Event("OnError", &F::OnError)
      .Event("OnPITrail", &F::OnPITrail)
      .Event("OnStartTransfer", &F::OnStartTransfer)
      .Event("OnTransfer", &F::OnTransfer);
  return true;
}();

}  // namespace

CWinsock& CorvftpWinsock() {
  static CWinsock record;
  return record;
}

namespace Corvftp {
void Register() { RegisterComponents<TcorvFTP>("Corvane"); }
}  // namespace Corvftp

// ---- construction ----

TcorvFTP::TcorvFTP(TComponent* Owner) : TcorvComponent(Owner, "FTP") { Construct(); }

TcorvFTP::TcorvFTP(TComponent* Owner, bool, char*) : TcorvComponent(Owner, "FTP") { Construct(); }

void TcorvFTP::Construct() {
  std::unique_ptr<FTPCThunk> thunk(new (std::nothrow) FTPCThunk);
  if (!thunk) throw EOutOfMemory("Error initializing TcorvFTP");
  thunk->Owner = this;
  CFTP& e = thunk->Engine;
  // The engine starts Windows Sockets through this unit's record; its data connection
  // shares the engine's window and start.
  e.WinsockRecord = &CorvftpWinsock();
  if (!e.Init()) throw EOutOfMemory("could not initialize FTP (out of memory)");
  e.EventSink = static_cast<FTPEvts*>(thunk.get());
  AttachEngine(&e);

  // The initial property values, through the writers' engine operations; a failure is
  // reported as the writer would report it.
  TreatErr(e.SetAltFile(""));
  TreatErr(e.Firewall.SetFirewallHost(""));
  TreatErr(e.Firewall.SetFirewallPassword(""));
  e.Firewall.FirewallPort = 0;
  e.Firewall.FirewallType = fwNone;
  e.Firewall.FirewallPort = 80;
  TreatErr(e.Firewall.SetFirewallUser(""));
  TreatErr(e.SetLocalFile(""));
  e.Passive = 0;
  TreatErr(e.Password.SetText(""));
  TreatErr(e.SetRemoteFile(""));
  TreatErr(e.SetRemoteHost(""));
  // No connection exists yet: only stored.
  TreatErr(e.SetRemotePath(""));
  TreatErr(e.SetTimeout(0));
  TreatErr(e.SetTransferMode(tmDefault));
  TreatErr(e.User.SetText(""));

  // A failed load shows only as WinsockLoaded false.
  e.UseWinsock(true);
  FThunk = thunk.release();
  InitWinsockRecord(CorvftpWinsock());
}

TcorvFTP::~TcorvFTP() {
  AttachEngine(nullptr);
  FTPCThunk* t = FThunk;
  FThunk = nullptr;
  ReleaseThunk(t, ftpIdle);
}

// ---- events ----

void TcorvFTP::FireDirList(char* DirEntry, char* FileName, bool IsDir, long FileSize, char* FileTime) {
  if (!OnDirList) return;
  AnsiString entry = EventText(DirEntry);
  AnsiString name = EventText(FileName);
  AnsiString time = EventText(FileTime);
  OnDirList(this, entry, name, IsDir, FileSize, time);
}

void TcorvFTP::FireEndTransfer() {
  if (OnEndTransfer) OnEndTransfer(this);
}

void TcorvFTP::FireError(int ErrorCode, char* Description) {
  FireCodeText(OnError, ErrorCode, Description);
}

void TcorvFTP::FirePITrail(int ErrorCode, char* Description) {
  FireCodeText(OnPITrail, ErrorCode, Description);
}

void TcorvFTP::FireStartTransfer() {
  if (OnStartTransfer) OnStartTransfer(this);
}

void TcorvFTP::FireTransfer(long BytesTransferred, char* Text, unsigned short lenText) {
  if (OnTransfer) OnTransfer(this, BytesTransferred, Text, lenText);
}

// ---- methods ----

void TcorvFTP::Run(const std::function<int(CFTP&)>& op) {
  RunOnThunk(FThunk, op, "FTP. Out of memory.", [](CFTP& e) { e.Recover(); });
}

void TcorvFTP::RunAction(int action) {
  Run([action](CFTP& e) { return e.DoAction(action); });
}

void TcorvFTP::Interrupt() { RunAction(ftpIdle); }
void TcorvFTP::Abort() { RunAction(ftpAbort); }
void TcorvFTP::Logon() { RunAction(ftpLogon); }
void TcorvFTP::Logoff() { RunAction(ftpLogoff); }
void TcorvFTP::Download() { RunAction(ftpDownload); }
void TcorvFTP::Upload() { RunAction(ftpUpload); }
void TcorvFTP::DeleteFileA() { RunAction(ftpDeleteFile); }
void TcorvFTP::RenameFile() { RunAction(ftpRenameFile); }
void TcorvFTP::ListDirectory() { RunAction(ftpListDirectory); }
void TcorvFTP::ListDirectoryLong() { RunAction(ftpListDirectoryLong); }
void TcorvFTP::MakeDirectory() { RunAction(ftpMakeDirectory); }
void TcorvFTP::RemoveDirectoryA() { RunAction(ftpRemoveDirectory); }
void TcorvFTP::Append() { RunAction(ftpAppend); }
void TcorvFTP::StoreUnique() { RunAction(ftpStoreUnique); }

// ---- properties ----

TcorvFTPActions TcorvFTP::FAction() { return static_cast<TcorvFTPActions>(FThunk->Engine.CurrentAction); }

void TcorvFTP::FSetAction(TcorvFTPActions value) { RunAction(value); }

AnsiString TcorvFTP::FAltFile() { return AnsiString(FThunk->Engine.AltFile); }

void TcorvFTP::FSetAltFile(AnsiString value) { TreatErr(FThunk->Engine.SetAltFile(value.c_str())); }

void TcorvFTP::FSetCommand(AnsiString value) {
  Run([&value](CFTP& e) {
    e.ClearErrorText();
    const int r = e.Command.SetText(value.c_str());
    return r ? r : e.DoAction(FTP_ACTION_COMMAND);
  });
}

AnsiString TcorvFTP::FLastReply() { return Text(FThunk->Engine.Reply); }

AnsiString TcorvFTP::FLocalFile() { return AnsiString(FThunk->Engine.LocalFile); }

void TcorvFTP::FSetLocalFile(AnsiString value) { TreatErr(FThunk->Engine.SetLocalFile(value.c_str())); }

bool TcorvFTP::FPassive() { return FThunk->Engine.Passive != 0; }

void TcorvFTP::FSetPassive(bool value) {
  FThunk->Engine.Passive = value ? 1 : 0;
  TreatErr(0);
}

AnsiString TcorvFTP::FPassword() { return Text(FThunk->Engine.Password); }

void TcorvFTP::FSetPassword(AnsiString value) { TreatErr(FThunk->Engine.Password.SetText(value.c_str())); }

AnsiString TcorvFTP::FRemoteFile() { return AnsiString(FThunk->Engine.RemoteFile); }

void TcorvFTP::FSetRemoteFile(AnsiString value) { TreatErr(FThunk->Engine.SetRemoteFile(value.c_str())); }

AnsiString TcorvFTP::FRemoteHost() { return AnsiString(FThunk->Engine.GetRemoteHost()); }

void TcorvFTP::FSetRemoteHost(AnsiString value) { TreatErr(FThunk->Engine.SetRemoteHost(value.c_str())); }

AnsiString TcorvFTP::FRemotePath() {
  CFTP& e = FThunk->Engine;
  // Inside a running operation (a handler reads it) a PWD would take the running command's
  // reply and leave every later command one reply behind: the path last set or read is
  // given instead.
  if (FThunk->Depth > 0 || e.CurrentAction != 0) return AnsiString(e.RemotePath);
  // Otherwise the server is asked when connected, which pumps messages like an action.
  AnsiString path;
  Run([&path](CFTP& e) {
    path = AnsiString(e.GetRemotePath());
    return 0;
  });
  return path;
}

void TcorvFTP::FSetRemotePath(AnsiString value) {
  Run([&value](CFTP& e) { return e.SetRemotePath(value.c_str()); });
}

unsigned short TcorvFTP::FRemotePort() { return FThunk->Engine.RemotePort; }

void TcorvFTP::FSetRemotePort(unsigned short value) { TreatErr(FThunk->Engine.SetRemotePort(value)); }

AnsiString TcorvFTP::FStartByte() { return Text(FThunk->Engine.StartByte); }

void TcorvFTP::FSetStartByte(AnsiString value) { TreatErr(FThunk->Engine.StartByte.SetText(value.c_str())); }

TcorvFTPTransferModes TcorvFTP::FTransferMode() {
  return static_cast<TcorvFTPTransferModes>(FThunk->Engine.TransferMode);
}

void TcorvFTP::FSetTransferMode(TcorvFTPTransferModes value) {
  Run([value](CFTP& e) { return e.SetTransferMode(static_cast<int>(value)); });
}

AnsiString TcorvFTP::FUser() { return Text(FThunk->Engine.User); }

void TcorvFTP::FSetUser(AnsiString value) { TreatErr(FThunk->Engine.User.SetText(value.c_str())); }
