// The FTP client engine: the control connection (commands, replies, logon and the actions)
// and, embedded in it, the data connection that carries files and listings in passive or
// active mode. Every action is one blocking call that pumps the thread's queue until it
// ends. Events go to the FTPEvts sink in EventSink (set it as static_cast<FTPEvts*>(thunk)).
#pragma once
#include <cstdint>

#include "corv/core/IPPortMsg.h"
#include "corv/core/LocalFile.h"
#include "corv/ftp/FTPActions.h"
#include "corv/ftp/FTPEvts.h"

// Result codes of the engine.
inline constexpr int FTP_REPLY_FAILED = 141;     // error reply; the text is the reply line
inline constexpr int FTP_CONNECTION_EVENT = 142; // Error event of the control connection
inline constexpr int FTP_BUSY = 143;
inline constexpr int FTP_LOCAL_FILE = 144;       // upload read or seek failed
inline constexpr int FTP_NO_LOCAL_FILE = 145;
inline constexpr int FTP_NO_REMOTE_FILE = 146;
inline constexpr int FTP_LINE_BREAK = 147;       // a command line would carry a CR or LF
inline constexpr int FTP_FILE_OPEN_FAILED = 4;   // a download's LocalFile cannot be created or opened
inline constexpr int FTP_FILE_WRITE_FAILED = 7;  // a download's LocalFile write failed
inline constexpr int FTP_ACCEPT_FAILED = 311;
inline constexpr int FTP_SELECT_FAILED = 312;

// The engine's own actions, after the component's 0-13 (TcorvFTPActions).
inline constexpr int FTP_ACTION_TYPE_ASCII = 14;
inline constexpr int FTP_ACTION_TYPE_BINARY = 15;
inline constexpr int FTP_ACTION_CHANGE_DIR = 16;
inline constexpr int FTP_ACTION_COMMAND = 17;

// Transfer kinds of the data connection.
enum : std::uint8_t {
  kDataToEvents = 1,  // download raised as Transfer events
  kDataUpload = 2,
  kDataToFile = 3,
  kDataNameList = 4,  // NLST lines
  kDataLongList = 5,  // LIST lines
};

class CFTP;

// A port that can also wait for one incoming connection (active data connections).
class CListeningSocket : public CInternalIPPort {
 public:
  CListeningSocket();
  ~CListeningSocket() override;

  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  // Listens on any local address and the port (0: chosen by the system), with accept
  // reports to the window. 0 or a socket error.
  int Listen(WORD port);
  int CloseListener();
  WORD GetListenPort();
  // A connection waits to be accepted (its report may still be on its way).
  bool ConnectionWaiting();
  // "h1,h2,h3,h4,p1,p2" of the control socket's local address and the listen port; buffer
  // needs 24 bytes.
  int FormatPortArgument(char* buffer, ws::SOCKET control);

  ws::SOCKET ListenSocket;  // INVALID_SOCKET when there is none
  WORD ListenPort;
};

class CDataInterface : public CListeningSocket {
 public:
  // Uploads are read and sent in chunks of this size.
  static constexpr std::uint32_t kChunkSize = 65536;
  static constexpr std::int32_t kSocketBuffer = 65000;

  CDataInterface();
  ~CDataInterface() override;

  int SetMode(std::uint8_t kind);
  int SendFileChunk();
  // Writes what is gathered for the file (without a report) and closes it; an upload's
  // chunk goes with it.
  void CloseLocalFile();
  // Writes what is gathered for the file; a failure closes it and is reported.
  void FlushLocalFile();
  // A stop asked of the engine ends the data connection's read pass too.
  bool StopRequested() const override;
  // Ends the transfer from this side: the socket and the listener close, nothing still
  // received is handed on, and no file is opened for it any more.
  void Stop();
  // The server accepted the transfer command (a reply of class 1 or 2 to it).
  void CommandAccepted();
  // An upload has data to send now: the server took the command and the connection is open.
  bool Pumping() const;

  int FireConnected(WORD code, const char* text) override;
  int OnDataIn(const char* data, WORD length, bool eol) override;
  int FireDisconnected(WORD code, const char* text) override;
  int FireError(WORD code, const char* text) override;

  CFTP* Owner;
  std::int32_t Offset;  // transfer position, counted from the start byte
  std::uint8_t Kind;
  CLocalFile LocalFileHandle;
  // The upload's chunk (kChunkSize bytes, taken for each upload): bytes [ChunkSent,
  // ChunkLength) are read from the file and not sent yet.
  char* Chunk;
  std::uint32_t ChunkLength;
  std::uint32_t ChunkSent;
  // The upload's file size, taken when the file is opened.
  DWORD UploadSize;
  // A download's file is created only once the server takes the command or sends data, so
  // a refused download leaves an existing file alone.
  bool OpenPending;
  // Uploads are pumped only after the server took the command: data sent earlier reaches a
  // server that is not reading yet.
  bool Accepted;
  // The first error with LocalFile during this transfer (its code, 0 for none, and text): the
  // download fails with it once the transfer has ended.
  WORD FileError;
  const char* FileErrorText;

 private:
  void LineIn(const char* data, WORD length, bool eol);
  void OpenDownloadFile();
  // Reports an error with LocalFile; the first one is the download's result.
  void LocalFileFailed(WORD code, const char* text);
  DynStr Partial;  // a listing line that came in pieces
};

class CFTP : public CIPPortMsg {
 public:
  static constexpr std::uint32_t kNameMax = 256;

  CFTP();
  ~CFTP() override;

  bool Init();
  int DoAction(int code);
  // One command and its complete reply; a null name only reads a reply (the greeting).
  // transfer: the transfer command of a data connection, whose go-ahead opens the file.
  int SendCommand(const char* name, const char* argument, bool transfer = false);
  const char* GetRemotePath();
  int SetRemotePath(const char* text);
  int SetLocalFile(const char* text);
  int SetRemoteFile(const char* text);
  int SetAltFile(const char* text);
  int SetTransferMode(int mode);
  int OpenDataConnection();
  // A handler's exception left the engine inside an action: ends it with no transfer state
  // left behind. The control connection may owe replies to the broken command, so it goes
  // too and the next action logs on afresh (and goes back to the folder). Sockets close
  // without events: no handler may run while the exception is on its way out.
  void Recover();
  // Raises one DirList event for a listing line (long form: LIST).
  int ParseDirEntry(char* line, std::uint32_t length, bool longForm);

  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  int DoEvents(DWORD milliseconds, HWND window) override;
  int FireConnected(WORD code, const char* text) override;
  int FireDisconnected(WORD code, const char* text) override;
  int FireError(WORD code, const char* text) override;
  int OnReplyWait() override;
  int OnDataIn(const char* data, WORD length, bool eol) override;

  virtual int FireDirList(const char* dirEntry, const char* fileName, bool isDir, std::int32_t fileSize, const char* fileTime);
  virtual int FireEndTransfer();
  virtual int FirePITrail(WORD code, const char* text);
  virtual int FireStartTransfer();
  // text[length] is set to 0 for the call and put back afterwards.
  virtual int FireTransfer(std::int32_t bytes, char* text, WORD length);

  std::uint8_t CurrentAction;  // 0: idle
  std::uint8_t TransferMode;
  std::uint8_t Passive;
  DynStr StartByte;
  CDataInterface Data;
  DynStr User;
  DynStr Password;
  char LocalFile[kNameMax + 1];
  char RemotePath[kNameMax + 1];
  char RemoteFile[kNameMax + 1];
  char AltFile[kNameMax + 1];
  char TrailLine[kNameMax + 1];
  DynStr Command;

  // What the running action uses, copied when it starts: handlers may set the fields while
  // it runs, and the action goes on with the values it began with.
  struct ActionFields {
    char LocalFile[kNameMax + 1];
    char RemoteFile[kNameMax + 1];
    char AltFile[kNameMax + 1];
    char RemotePath[kNameMax + 1];
    DynStr StartByte;
    DynStr User;
    DynStr Password;
    DynStr Command;
    std::uint8_t Passive;
  };
  ActionFields Act{};

 private:
  FTPEvts* Sink() const { return static_cast<FTPEvts*>(EventSink); }
  int TakeCopies();
  // Runs one action inside the outermost one (the automatic logon, the logon's TYPE).
  int Perform(int code);
  int RunAction(int code);
  // An action runs, or the path is being read: a second one would take its replies.
  bool Busy() const { return ActionDepth > 0 || CurrentAction != 0; }
  // The text of an action that a wait ended: a stop asked for stays "Interrupted"; otherwise
  // the time-out while the connection stands, or the lost connection.
  const char* StopText() const;
  // Reports a line that came between actions, once the read that brought it is done.
  void ReportIdleLine();
  // Reads and reports the lines the server sent since the last reply, before a command goes
  // out: none of them is the command's reply. With keepReply the last reply stays as it was.
  void DrainUnsolicited(bool keepReply = false);
  int Logon();
  int Logoff();
  // The end of the outermost action: the control connection back in step (or closed), no
  // server state of the action left behind, the result and text of the action.
  int EndAction(int result);
  // Brings the control connection back in step after a stop: ABOR for a stopped transfer,
  // then NOOP, whose own reply ends everything the stopped command owed; then the restart
  // offset cleared. Within boundMs; past it, or on any failure, the connection is closed.
  int Realign(bool abor, DWORD boundMs);
  // Closes the control connection; the server state that went with it goes too.
  void CloseControl();
  // The control connection is gone: what the server kept for it (a reply owed, an offset, a
  // rename's first half, the transfer type, a reply of many lines under way) is gone too.
  void ForgetServerState();
  // Closes the data socket a handler's exception left open.
  void ReleaseParked();
  int Transfer(std::uint8_t kind, const char* command, bool restart);
  int CheckUpload(int code);
  int SendType(int mode);
  // A name or argument that holds a CR or LF: nothing is sent.
  int RefuseLineBreak();
  // Announces a command (trail 0) and sends its line; a null name sends nothing.
  int SendLine(const char* name, const char* argument);
  // Reads to the end of the next final reply: preliminary (1xx) replies, the lines of a
  // multi-line reply and, for ABOR, a 426 are read past; each line goes to the trail.
  // transfer: the transfer command's own reply.
  int ReadReply(bool transfer, bool abor);
  // Goes back to the folder the component was in, on a new connection.
  int RestoreFolder();
  // A CWD or CDUP succeeded; a PWD named the folder.
  void FolderChanged(const char* path);
  void FolderNamed(const char* path);
  // The next connection stays in the login folder.
  void ForgetFolder();

  // The error text is a copy: the reply line changes with the next command.
  void SetReplyError(const char* text);

  bool ReplyOwed = false;     // a command went out and its final reply has not been read
  bool OwedTransfer = false;  // ... and it is a transfer command
  bool RestPending = false;   // a restart offset may be set on the server
  bool RenamePending = false; // a rename may wait for its RNTO on the server
  bool AbortRequested = false;  // a handler asked for an abort of the running action
  bool Recovering = false;
  bool Realigning = false;    // Realign runs: its waits end at its own bound
  DWORD RealignStart = 0;
  DWORD RealignBound = 0;
  bool TypeInStep = false;    // the server's transfer type is TransferMode
  bool FolderOwed = false;    // a new connection is not yet in the component's folder
  bool DataOpening = false;   // the transfer command got a preliminary reply
  bool IdleLine = false;      // a line that came between actions is partly in the reply
  bool IdleLineReady = false; // a line that came between actions waits for its trail
  char Terminator[5] = {};    // the end line of a reply of many lines being read ("214 ")
  DynStr StopLine;            // the first error reply a stopped command got
  ws::SOCKET Parked = ws::INVALID_SOCKET;  // see Recover
  // The way to the component's folder from the login folder: CWD arguments, each ended by
  // LF (".." for CDUP); an absolute one starts it afresh.
  DynStr FolderTrail;
  DynStr ErrorLine;
};

// Listing and number helpers.
// Skips blanks and tabs, appends the next field to out; returns the delimiter's position.
const char* NextToken(const char* position, DynStr& out);
bool IsNumeric(const char* text);
// Decimal with an optional "-", accumulated in 32 bits.
std::int64_t StrToInt64(const char* text);
// The digits at *cursor as a 16-bit number; the cursor then steps over one character
// (never over the end of the text).
WORD ReadNumber(const char** cursor);
