// The FTP client component: one FTP engine behind published properties, one method per
// action and the events of the protocol trail, listings and transfers. Every method and
// writer ends in TreatErr: ECORVCore with the engine's code and text, or
// EOutOfMemory("FTP. Out of memory."). Failures that the engine reports only as events
// (OnError) do not raise.
#pragma once
#include <cstdint>
#include <functional>

#include "corv/core/Component.h"
#include "corv/ftp/FTPActions.h"

class CFTP;
class FTPCThunk;
class CWinsock;

// TcorvFTPActions (ftpIdle ... ftpStoreUnique) and TcorvFTPTransferModes (tmDefault,
// tmASCII, tmBinary) are the engine's own values.

using TcorvFTPDirListEvent = Closure<void(TObject* Sender, AnsiString& DirEntry, AnsiString& FileName,
                                          bool IsDir, long FileSize, AnsiString& FileTime)>;
// Text is the received block of a download without LocalFile, followed by a NUL during the
// call and valid only during it; otherwise "" with lenText 0.
using TcorvFTPTransferEvent =
    Closure<void(TObject* Sender, long BytesTransferred, char* Text, unsigned short lenText)>;

class TcorvFTP : public TcorvComponent {
 public:
  explicit TcorvFTP(TComponent* Owner);
  // The two further arguments have no effect.
  TcorvFTP(TComponent* Owner, bool, char*);
  // May run inside one of this component's own handlers: the running action is then stopped
  // and the engine freed once the action's call has unwound.
  ~TcorvFTP() override;

  // Methods; each runs its action and ends in TreatErr. They return when the action ends.
  void Interrupt() override;
  void Abort();
  void Logon();
  void Logoff();
  void Download();
  void Upload();
  void DeleteFileA();
  void RenameFile();
  void ListDirectory();
  void ListDirectoryLong();
  void MakeDirectory();
  void RemoveDirectoryA();
  void Append();
  void StoreUnique();

  // Called by the thunk for each engine event; each calls its handler, when one is assigned,
  // with copies of the texts.
  virtual void FireDirList(char* DirEntry, char* FileName, bool IsDir, long FileSize, char* FileTime);
  virtual void FireEndTransfer();
  virtual void FireError(int ErrorCode, char* Description);
  virtual void FirePITrail(int ErrorCode, char* Description);
  virtual void FireStartTransfer();
  virtual void FireTransfer(long BytesTransferred, char* Text, unsigned short lenText);

  TcorvFTPDirListEvent OnDirList;
  TNotifyEvent OnEndTransfer;
  TcorvErrorEvent OnError;
  // ErrorCode 0: a command line sent; 1: a reply line received; 2: a status text.
  TcorvErrorEvent OnPITrail;
  TNotifyEvent OnStartTransfer;
  TcorvFTPTransferEvent OnTransfer;

  // Readers and writers.
  TcorvFTPActions FAction();
  void FSetAction(TcorvFTPActions value);
  AnsiString FAltFile();
  void FSetAltFile(AnsiString value);
  void FSetCommand(AnsiString value);
  AnsiString FLastReply();
  AnsiString FLocalFile();
  void FSetLocalFile(AnsiString value);
  bool FPassive();
  void FSetPassive(bool value);
  AnsiString FPassword();
  void FSetPassword(AnsiString value);
  AnsiString FRemoteFile();
  void FSetRemoteFile(AnsiString value);
  AnsiString FRemoteHost();
  void FSetRemoteHost(AnsiString value);
  AnsiString FRemotePath();
  void FSetRemotePath(AnsiString value);
  unsigned short FRemotePort();
  void FSetRemotePort(unsigned short value);
  AnsiString FStartByte();
  void FSetStartByte(AnsiString value);
  TcorvFTPTransferModes FTransferMode();
  void FSetTransferMode(TcorvFTPTransferModes value);
  AnsiString FUser();
  void FSetUser(AnsiString value);

  using F = TcorvFTP;
  Property<F, TcorvFTPActions, &F::FAction, &F::FSetAction> Action{this};
  Property<F, AnsiString, &F::FAltFile, &F::FSetAltFile> AltFile{this};
  // Write-only: the text is sent as one command line, logging on first when not connected.
  Property<F, AnsiString, nullptr, &F::FSetCommand> Command{this};
  Property<TcorvComponent, bool, &TcorvComponent::FConnected> Connected{this};
  Property<F, AnsiString, &F::FLastReply, &CORVCore::SetDummyAnsiString> LastReply{this};
  Property<F, AnsiString, &F::FLocalFile, &F::FSetLocalFile> LocalFile{this};
  Property<F, bool, &F::FPassive, &F::FSetPassive> Passive{this};
  Property<F, AnsiString, &F::FPassword, &F::FSetPassword> Password{this};
  Property<F, AnsiString, &F::FRemoteFile, &F::FSetRemoteFile> RemoteFile{this};
  Property<F, AnsiString, &F::FRemoteHost, &F::FSetRemoteHost> RemoteHost{this};
  Property<F, AnsiString, &F::FRemotePath, &F::FSetRemotePath> RemotePath{this};
  Property<F, unsigned short, &F::FRemotePort, &F::FSetRemotePort> RemotePort{this};
  Property<F, AnsiString, &F::FStartByte, &F::FSetStartByte> StartByte{this};
  Property<F, TcorvFTPTransferModes, &F::FTransferMode, &F::FSetTransferMode> TransferMode{this};
  Property<F, AnsiString, &F::FUser, &F::FSetUser> User{this};

 private:
  void Construct();
  // Runs an engine operation and hands its result to TreatErr. The operation may pump
  // messages: a component destroyed by a handler meanwhile is not touched again.
  void Run(const std::function<int(CFTP&)>& op);
  void RunAction(int action);
  FTPCThunk* FThunk = nullptr;
};

// The unit's Windows Sockets record: every FTP component's engine starts Windows Sockets
// through it.
CWinsock& CorvftpWinsock();

namespace Corvftp {
// Puts TcorvFTP on the component palette page "Corvane".
void Register();
}  // namespace Corvftp
