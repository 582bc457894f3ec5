#include "corv/ftp/FTP.h"

#include <cstdio>
#include <cstring>

#include "platform/win32/file.h"

namespace {

void CopyName(char* field, const char* text) {
  std::size_t n = text ? std::strlen(text) : 0;
  if (n > CFTP::kNameMax) n = CFTP::kNameMax;
  if (n) std::memcpy(field, text, n);
  field[n] = '\0';
}

bool HasLineBreak(const char* text) { return text && std::strpbrk(text, "\r\n") != nullptr; }

const char* NonNull(const char* text) { return text ? text : ""; }

// The longest the control connection is given to come back in step after a failed action.
constexpr DWORD kResyncMs = 10000;

const char kUrgent[4] = {'\xFF', '\xF4', '\xFF', '\xF2'};  // Telnet IP, Telnet DM

}  // namespace

CFTP::CFTP()
    : CurrentAction(0),
      TransferMode(0),
      Passive(0),
      LocalFile{},
      RemotePath{},
      RemoteFile{},
      AltFile{},
      TrailLine{},
      TransferWaiting(false),
      Aborts(0) {
  Data.Owner = this;
}

CFTP::~CFTP() {
  Interrupt();
  Command.Clear();
  Password.Clear();
  User.Clear();
  StartByte.Clear();
}

bool CFTP::Init() {
  if (!CIPPortMsg::Init()) return false;
  Data.EventSink = nullptr;
  Data.Window = Window;
  Data.CloseListener();
  Data.ListenPort = 0;
  Data.Owner = this;
  if (!Data.CAsyncIPPort::Init()) return false;
  Data.Offset = 0;
  Data.Kind = 0;
  if (SetEOL("\r\n", 2) != 0) return false;
  RemotePort = 21;
  CurrentAction = 0;
  TransferMode = 0;
  Passive = 0;
  LocalFile[0] = RemotePath[0] = RemoteFile[0] = AltFile[0] = '\0';
  return true;
}

LRESULT CFTP::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if ((message & 0xFFFF) == WM_CORV_SOCKET) {
    if (Socket != ws::INVALID_SOCKET && static_cast<ws::SOCKET>(wParam) == Socket) {
      const LRESULT result = CAsyncIPPort::HandleMessage(message, wParam, lParam);
      ReportIdleLine();
      return result;
    }
    return Data.HandleMessage(message, wParam, lParam);
  }
  return Window ? DefWindowProcA(Window, message & 0xFFFF, wParam, lParam) : 0;
}

int CFTP::DoEvents(DWORD milliseconds, HWND window) { return CWsock::DoEvents(milliseconds, window); }

// ---- events

int CFTP::FireConnected(WORD code, const char* text) {
  if (code == 0) return FirePITrail(2, "Connected.");
  char buffer[CORV_ERROR_TEXT_SIZE + 32];
  std::snprintf(buffer, sizeof buffer, "Failed to connect: %s", NonNull(text));
  return FireError(FTP_CONNECTION_EVENT, buffer);
}

int CFTP::FireDisconnected(WORD code, const char* text) {
  if (code == 0) return FirePITrail(2, "Disconnected.");
  char buffer[CORV_ERROR_TEXT_SIZE + 32];
  std::snprintf(buffer, sizeof buffer, "Disconnected: %s", NonNull(text));
  return FireError(FTP_CONNECTION_EVENT, buffer);
}

int CFTP::FireError(WORD code, const char* text) {
  if (FTPEvts* sink = Sink()) {
    const char* t = NonNull(text);
    sink->Error(code, t);
  }
  return 0;
}

int CFTP::FireDirList(const char* dirEntry, const char* fileName, bool isDir, std::int32_t fileSize, const char* fileTime) {
  if (FTPEvts* sink = Sink()) {
    const char* e = NonNull(dirEntry);
    const char* n = NonNull(fileName);
    const char* t = NonNull(fileTime);
    int dir = isDir ? 1 : 0;
    sink->DirList(e, n, dir, fileSize, t);
  }
  return 0;
}

int CFTP::FireEndTransfer() {
  if (FTPEvts* sink = Sink()) sink->EndTransfer();
  return 0;
}

int CFTP::FirePITrail(WORD code, const char* text) {
  if (FTPEvts* sink = Sink()) {
    const char* t = NonNull(text);
    sink->PITrail(code, t);
  }
  return 0;
}

int CFTP::FireStartTransfer() {
  if (FTPEvts* sink = Sink()) sink->StartTransfer();
  return 0;
}

int CFTP::FireTransfer(std::int32_t bytes, char* text, WORD length) {
  FTPEvts* sink = Sink();
  if (!sink) return 0;
  if (!text || length == 0) {
    const char* empty = "";
    WORD zero = 0;
    sink->Transfer(bytes, empty, zero);
    return 0;
  }
  // The byte after the block may be the first of the next one: it comes back even when the
  // handler throws.
  char kept = text[length];
  text[length] = '\0';
  const char* t = text;
  try {
    sink->Transfer(bytes, t, length);
  } catch (...) {
    text[length] = kept;
    throw;
  }
  text[length] = kept;
  return 0;
}

// ---- fields

int CFTP::SetLocalFile(const char* text) {
  CopyName(LocalFile, text);
  return 0;
}
int CFTP::SetRemoteFile(const char* text) {
  CopyName(RemoteFile, text);
  return 0;
}
int CFTP::SetAltFile(const char* text) {
  CopyName(AltFile, text);
  return 0;
}

const char* CFTP::GetRemotePath() {
  // A PWD now would take the running action's reply: the path last set or read stands.
  if (Busy()) return RemotePath;
  ActionScope scope(*this);
  Interrupted = false;
  // The last action's deadline has long passed: PWD gets a time-out of its own.
  StartTimeout();
  RemotePath[0] = '\0';
  if (!Firewall.IsConnected()) return RemotePath;
  ReadingPath = true;
  const int r = EndAction(SendCommand("PWD", nullptr));
  ReadingPath = false;
  if (r) return RemotePath;
  char* open = std::strchr(Reply.Text(), '"');
  if (!open || !open[1]) return RemotePath;
  char* close = std::strchr(open + 1, '"');
  if (close) *close = '\0';
  // Copied before the reply is cut: cutting may move it out of the block open points into.
  CopyName(RemotePath, open + 1);
  if (close) Reply.Set(static_cast<std::uint32_t>(close - Reply.Text()));
  return RemotePath;
}

int CFTP::SetRemotePath(const char* text) {
  ClearErrorText();
  if (Busy()) {
    SetFixedErrorText("Busy performing current action.");
    return FTP_BUSY;
  }
  CopyName(RemotePath, text);
  if (Firewall.IsConnected()) return DoAction(FTP_ACTION_CHANGE_DIR);
  return 0;
}

int CFTP::SetTransferMode(int mode) {
  ClearErrorText();
  if (Busy()) {
    SetFixedErrorText("Busy performing current action.");
    return FTP_BUSY;
  }
  if (Firewall.IsConnected() && mode == tmASCII) return DoAction(FTP_ACTION_TYPE_ASCII);
  if (Firewall.IsConnected() && mode == tmBinary) return DoAction(FTP_ACTION_TYPE_BINARY);
  TransferMode = static_cast<std::uint8_t>(mode);
  return 0;
}

// ---- commands and replies

void CFTP::SetReplyError(const char* text) {
  ClearErrorText();
  if (ErrorLine.SetText(text) != 0) {
    SetErrorText(CORV_OUT_OF_MEMORY);
    return;
  }
  ErrorText = ErrorLine.Text();
}

int CFTP::Overtaken() {
  // An abort read the replies that belonged to this command: the transfer did not end as it
  // should have.
  if (Reply.SetText(AbortReply.Text()) != 0) Reply.Set(0u);
  SetReplyError(AbortReply.IsEmpty() ? "Transfer aborted." : Reply.Text());
  return FTP_REPLY_FAILED;
}

int CFTP::SendCommand(const char* name, const char* argument) {
  // Handlers run before the line is sent, and may set the field the text lies in.
  DynStr nameCopy;
  DynStr argumentCopy;
  if (name && nameCopy.SetText(name) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
  if (argument && argumentCopy.SetText(argument) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
  if (name) name = nameCopy.Text();
  if (argument) argument = argumentCopy.Text();
  const bool abor = name && std::strcmp(name, "ABOR") == 0;
  const std::uint32_t aborts = Aborts;
  if (name) {
    std::size_t n = std::strlen(name);
    if (n > kNameMax) n = kNameMax;
    std::memcpy(TrailLine, name, n);
    if (n < kNameMax && argument && *argument) {
      TrailLine[n++] = ' ';
      std::size_t a = std::strlen(argument);
      if (a > kNameMax - n) a = kNameMax - n;
      std::memcpy(TrailLine + n, argument, a);
      n += a;
    }
    TrailLine[n] = '\0';
    // A line break inside a name or argument would end the command early and send the
    // rest as a command of its own.
    if (HasLineBreak(name) || HasLineBreak(argument)) {
      ClearErrorText();
      SetFixedErrorText("The command line must not hold a CR or LF.");
      return FTP_LINE_BREAK;
    }
    FirePITrail(0, TrailLine);
    // Stopped by a handler of the trail: the command is not sent.
    if (TakeInterruptRequest()) return CORV_INTERRUPTED;
  }
  ReplyOwed = true;
  int r = SendLineAndWait(name, argument, "\r\n");
  char terminator[5] = {};
  for (;;) {
    if (r) return r;
    if (!abor && Aborts != aborts) return Overtaken();
    SetAcceptData(false);
    FirePITrail(1, Reply.Text());
    // A handler's abort has read the replies, the reply line included.
    if (!abor && Aborts != aborts) return Overtaken();
    const char* line = Reply.Text();
    bool skip = false;
    if (terminator[0]) {
      if (std::strncmp(line, terminator, 3) != 0 || (line[3] != ' ' && line[3] != '\0'))
        skip = true;
      else
        terminator[0] = '\0';
    } else if (Reply.Length() >= 4 && line[3] == '-') {
      std::memcpy(terminator, line, 3);
      terminator[3] = ' ';
      skip = true;
    }
    if (!skip) {
      char c = line[0];
      if (TransferWaiting && !abor && (c == '1' || c == '2')) Data.CommandAccepted();
      if (c == '2' || c == '3') {
        ReplyOwed = false;
        return 0;
      }
      if (c != '1') {
        if (!(c == '4' && abor && std::strncmp(line, "426", 3) == 0)) {
          ReplyOwed = false;
          // 421: the server is closing the connection. Close it here too, so that Connected
          // reads 0 at once and the next action does not talk into a dead connection.
          if (std::strncmp(line, "421", 3) == 0) Connect(false);
          SetReplyError(Reply.Text());
          return FTP_REPLY_FAILED;
        }
        AbortReply.SetText(line);
      }
    }
    r = WaitForLine();
  }
}

// ---- actions

int CFTP::DoAction(int code) {
  ClearErrorText();
  if (Busy() && code != ftpIdle && code != ftpAbort) {
    SetFixedErrorText("Busy performing current action.");
    return FTP_BUSY;
  }
  ActionScope scope(*this);
  const bool outermost = ActionDepth == 1;
  if (outermost) Interrupted = false;
  // An interrupt or abort run inside another action gives the busy state back to it.
  const std::uint8_t outer = CurrentAction;
  StartTimeout();
  int result = 0;
  bool logonStopped = false;
  if (!Firewall.IsConnected() && code != ftpIdle && code != ftpLogon && code != ftpLogoff) {
    result = DoAction(ftpLogon);
    logonStopped = result == CORV_INTERRUPTED;
  }
  if (code != ftpIdle) CurrentAction = static_cast<std::uint8_t>(code);
  if (result == 0) result = RunAction(code);
  // The logon gives up the busy state for its TYPE: it holds again until the end, so that
  // no handler of the end's events or of the recovery starts an action.
  if (code != ftpIdle) CurrentAction = static_cast<std::uint8_t>(code);
  if (!logonStopped) {
    const char* why = ErrorText;
    // The caller may look at a downloaded file once the action returns; a nested action
    // leaves the transfer it runs in alone.
    if (outermost) Data.FlushLocalFile();
    if (result == CORV_INTERRUPTED) {
      // Stopped: what the data connection still holds is not handed on.
      Data.SetAcceptData(false);
    }
    if (result != 0) {
      if (Passive)
        Data.Connect(false);
      else
        Data.CloseListener();
    }
    ErrorText = why;
    if (result == CORV_INTERRUPTED)
      SetFixedErrorText(StopText());
    else
      AfterAction();
  }
  if (outermost) result = EndAction(result);
  CurrentAction = outer;
  return result;
}

int CFTP::EndAction(int result) {
  result = Resync(result);
  // Between actions whatever the server sends is read: a 421's close is seen (Connected
  // reads 0), and no line is left over to pass for the next command's reply.
  if (Firewall.IsConnected()) SetAcceptData(true);
  // A request that no wait of the action took ends with it; left set, it would stop the
  // reading between actions.
  InterruptRequest = false;
  return result;
}

const char* CFTP::StopText() const { return Interrupted || Firewall.IsConnected() ? "Interrupted" : "Timeout"; }

int CFTP::OnDataIn(const char* data, WORD length, bool eol) {
  if (ActionDepth > 0) return CIPPortMsg::OnDataIn(data, length, eol);
  if (!IdleLine) Reply.Set(0u);
  IdleLine = !eol;
  CIPPortMsg::OnDataIn(data, length, eol);
  if (eol) {
    IdleLineReady = true;
    // The server is closing: closed here first, so that the line's handlers see it closed.
    if (std::strncmp(Reply.Text(), "421", 3) == 0) Connect(false);
  }
  return 0;
}

void CFTP::ReportIdleLine() {
  if (!IdleLineReady) return;
  IdleLineReady = false;
  FirePITrail(1, Reply.Text());
  // The read stopped at the line: left stopped, a further line would wait in the buffer and
  // be taken as the next command's reply.
  if (ActionDepth == 0 && Firewall.IsConnected()) SetAcceptData(true);
}

int CFTP::Resync(int result) {
  if (result == 0 || !ReplyOwed) return result;
  if (!Firewall.IsConnected()) {
    ReplyOwed = false;
    return result;
  }
  DynStr why;
  const bool kept = why.SetText(GetErrorText()) == 0;
  // A deadline of its own, the action's time-out at most.
  const DWORD timeout = TimeoutMs;
  if (TimeoutMs == 0 || TimeoutMs > kResyncMs) TimeoutMs = kResyncMs;
  StartTimeout();
  const int r = Abort();
  TimeoutMs = timeout;
  StartTimeout();
  if (r != 0 && r != FTP_REPLY_FAILED) {
    ReplyOwed = false;
    Connect(false);
  }
  if (result == CORV_INTERRUPTED)
    SetFixedErrorText(StopText());
  else if (kept)
    SetReplyError(why.Text());
  return result;
}

int CFTP::RunAction(int code) {
  switch (code) {
    case ftpIdle:
      Interrupt();
      return 0;
    case ftpAbort:
      return Abort();
    case ftpLogon:
      return Logon();
    case ftpLogoff:
      return Logoff();
    case ftpDownload:
      return Transfer(LocalFile[0] ? kDataToFile : kDataToEvents, "RETR", true);
    case ftpUpload:
    case ftpAppend:
    case ftpStoreUnique: {
      int r = CheckUpload(code);
      if (r) return r;
      return Transfer(kDataUpload, code == ftpUpload ? "STOR" : code == ftpAppend ? "APPE" : "STOU", true);
    }
    case ftpDeleteFile:
      return SendCommand("DELE", RemoteFile);
    case ftpRenameFile: {
      int r = SendCommand("RNFR", RemoteFile);
      return r ? r : SendCommand("RNTO", AltFile);
    }
    case ftpListDirectory:
      return Transfer(kDataNameList, "NLST", false);
    case ftpListDirectoryLong:
      return Transfer(kDataLongList, "LIST", false);
    case ftpMakeDirectory:
      return SendCommand("MKD", RemoteFile);
    case ftpRemoveDirectory:
      return SendCommand("RMD", RemoteFile);
    case FTP_ACTION_TYPE_ASCII:
    case FTP_ACTION_TYPE_BINARY: {
      int r = SendCommand("TYPE", code == FTP_ACTION_TYPE_ASCII ? "A" : "I");
      if (!r) TransferMode = code == FTP_ACTION_TYPE_ASCII ? tmASCII : tmBinary;
      return r;
    }
    case FTP_ACTION_CHANGE_DIR:
      if (std::strcmp(RemotePath, "..") == 0) return SendCommand("CDUP", nullptr);
      return SendCommand("CWD", RemotePath);
    case FTP_ACTION_COMMAND:
      return SendCommand(Command.Text(), nullptr);
    default:
      return 0;
  }
}

int CFTP::Logon() {
  int r = 0;
  if (!Firewall.IsConnected()) {
    FirePITrail(2, "Connecting to FTP server.");
    SetKeepAlive(true);
    r = ConnectAndWait();
    if (!r) r = SendCommand(nullptr, nullptr);
    if (r) return r;
  }
  if (!User.IsEmpty()) r = SendCommand("USER", User.Text());
  if (!r && !Password.IsEmpty()) r = SendCommand("PASS", Password.Text());
  if (r) return r;
  CurrentAction = 0;
  if (TransferMode != tmDefault) r = SetTransferMode(TransferMode);
  return r;
}

int CFTP::Logoff() {
  if (!Firewall.IsConnected()) return 0;
  int r = SendCommand("QUIT", nullptr);
  if (r == CORV_INTERRUPTED) {
    r = 0;
    ClearErrorText();
  } else if (r) {
    FirePITrail(2, "Forcing disconnection from FTP server.");
  }
  const char* why = ErrorText;
  Connect(false);
  ErrorText = why;
  return r;
}

int CFTP::Abort() {
  // A command still waiting for its reply: the server answers it (often with 426) before the
  // ABOR, and both replies are read here.
  const bool owed = ReplyOwed;
  ++Aborts;
  AbortReply.Set(0u);
  // The data socket goes first, so the server sees the transfer end before the ABOR.
  Data.Connect(false);
  SetOOBInline(1);
  Send(kUrgent, sizeof kUrgent, ws::MSG_OOB, true);
  ClearErrorText();
  int r = SendCommand("ABOR", nullptr);
  // Without a 426 the reply just read was the stopped command's own: the ABOR's follows.
  if (owed && AbortReply.IsEmpty() && (r == 0 || r == FTP_REPLY_FAILED)) r = SendCommand(nullptr, nullptr);
  return r;
}

int CFTP::CheckUpload(int code) {
  if (code != ftpStoreUnique && !RemoteFile[0]) {
    SetFixedErrorText("Please specify a remote file for upload.");
    return FTP_NO_REMOTE_FILE;
  }
  if (!LocalFile[0]) {
    SetFixedErrorText("Please specify a local file for upload.");
    return FTP_NO_LOCAL_FILE;
  }
  HANDLE h = CreateFileA(LocalFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetFixedErrorText("Can't open LocalFile for reading.");
    return FTP_NO_LOCAL_FILE;
  }
  CloseHandle(h);
  return 0;
}

int CFTP::Transfer(std::uint8_t kind, const char* command, bool restart) {
  int r = Data.SetMode(kind);
  if (!r) r = OpenDataConnection();
  if (!r && restart && !StartByte.IsEmpty()) r = SendCommand("REST", StartByte.Text());
  if (!r) {
    TransferWaiting = true;
    r = SendCommand(command, RemoteFile);
    TransferWaiting = false;
  }
  if (r) return r;
  while (Data.Connected) {
    if (!DoEvents(PassMs(), Window)) return CORV_INTERRUPTED;
  }
  FlushEvents();
  // The server sent it all, but it did not all reach the file.
  if (Data.FileError) {
    SetFixedErrorText(Data.FileErrorText);
    return Data.FileError;
  }
  return 0;
}

int CFTP::OnReplyWait() {
  // Before the go-ahead or the data connection there is nothing to send: their events wake
  // the wait.
  if (!Data.Pumping()) return 0;
  for (int i = 0; i < 30; ++i) {
    int r = Data.SendFileChunk();
    // A full socket reports room by itself (FD_WRITE).
    if (r == ws::WSAEWOULDBLOCK) return 0;
    if (r) return r;
  }
  // The socket still takes data: wake the next pass at once instead of letting it sit out
  // its idle wait.
  if (Data.Pumping()) PostMessageA(Window, WM_CORV_SOCKET, static_cast<WPARAM>(Data.Socket), ws::FD_WRITE);
  return 0;
}

void CFTP::Recover() {
  CurrentAction = 0;
  ReadingPath = false;
  IdleLineReady = false;
  InterruptRequest = false;
  Interrupted = false;
  WaitingForLine = false;
  TransferWaiting = false;
  ReplyOwed = false;
  // A pending open would empty LocalFile at the next action's first 1xx or 2xx reply.
  Data.OpenPending = false;
  Data.Accepted = false;
  Data.Kind = 0;
  Data.CloseLocalFile();
  Data.CloseSocket();
  Data.CloseListener();
  CloseSocket();
}

int CFTP::OpenDataConnection() {
  if (!Passive) {
    int r = Data.Listen(0);
    if (r) return r;
    char argument[32];
    r = Data.FormatPortArgument(argument, Socket);
    if (r) return r;
    return SendCommand("PORT", argument);
  }
  Data.Connect(false);
  int r = SendCommand("PASV", nullptr);
  if (r) return r;
  const char* open = std::strchr(Reply.Text(), '(');
  if (std::strncmp(Reply.Text(), "227", 3) != 0 || !open) {
    FireError(FTP_REPLY_FAILED, "Unexpected server reply.");
    SetFixedErrorText("Unexpected server reply.");
    return FTP_REPLY_FAILED;
  }
  const char* cursor = open + 1;
  WORD n[6];
  for (WORD& v : n) v = ReadNumber(&cursor);
  // The data connection goes to the control connection's peer: followed as given, the reply
  // could aim the client at any host and port of its network. Through a proxy that peer is
  // the proxy, so there the reply's address stands.
  if (Firewall.FirewallType == fwNone) {
    ws::sockaddr_in peer{};
    int size = sizeof peer;
    if (WinsockProcs.getpeername(Socket, reinterpret_cast<ws::sockaddr*>(&peer), &size) != 0) {
      const int code = WinsockProcs.WSAGetLastError();
      SetFixedErrorText("The server's address is unknown: no data connection is made.");
      return code ? code : ws::WSAENOTCONN;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(&peer.sin_addr.s_addr);
    for (int i = 0; i < 4; ++i) n[i] = b[i];
  }
  char host[32];
  std::snprintf(host, sizeof host, "%d.%d.%d.%d", n[0], n[1], n[2], n[3]);
  Data.SetRemotePort(static_cast<WORD>((n[4] << 8) + n[5]));
  Data.SetRemoteHost(host);
  Data.Connect(true);
  ClearErrorText();
  return 0;
}
