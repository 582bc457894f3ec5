#include "corv/ftp/FTP.h"

#include <cstdio>
#include <cstring>

#include "platform/win32/file.h"
#include "platform/win32/misc.h"

namespace {

void CopyName(char* field, const char* text) {
  std::size_t n = text ? std::strlen(text) : 0;
  if (n > CFTP::kNameMax) n = CFTP::kNameMax;
  if (n) std::memcpy(field, text, n);
  field[n] = '\0';
}

bool HasLineBreak(const char* text) { return text && std::strpbrk(text, "\r\n") != nullptr; }

const char* NonNull(const char* text) { return text ? text : ""; }

// The longest a stopped action may take to bring the control connection back in step, of its
// own and whatever the action's time-out; after a time-out shorter, so that the action ends
// soon after its time.
constexpr DWORD kRealignMs = 1500;
constexpr DWORD kRealignAfterTimeoutMs = 900;

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
      TrailLine{} {
  Data.Owner = this;
}

CFTP::~CFTP() {
  Interrupt();
  ReleaseParked();
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
  ForgetFolder();
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

int CFTP::DoEvents(DWORD milliseconds, HWND window) {
  if (!Realigning) return CWsock::DoEvents(milliseconds, window);
  // The recovery's bound is its own, kept apart from Timeout: a handler of its trail may set
  // Timeout (for the next action) or restart the action's time, and the bound still holds.
  DWORD elapsed = GetTickCount() - RealignStart;
  if (elapsed <= RealignBound) {
    const DWORD left = RealignBound - elapsed + 1;
    if (CWsock::DoEvents(milliseconds < left ? milliseconds : left, window) == 0) return 0;
    elapsed = GetTickCount() - RealignStart;
    if (elapsed <= RealignBound) return 1;
  }
  SetFixedErrorText("Timeout.");
  return 0;
}

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
  AbortRequested = false;
  // The last action's deadline has long passed: PWD gets a time-out of its own.
  StartTimeout();
  RemotePath[0] = '\0';
  if (!Firewall.IsConnected()) return RemotePath;
  int r = RestoreFolder();
  if (!r) r = SendCommand("PWD", nullptr);
  r = EndAction(r);
  if (r) return RemotePath;
  char* open = std::strchr(Reply.Text(), '"');
  if (!open || !open[1]) return RemotePath;
  char* close = std::strchr(open + 1, '"');
  // A quote doubled inside the name, or a name past the field's size, leaves RemotePath short
  // of the folder: the way back stays the steps that led here, not the cut text.
  const bool whole = close && close[1] != '"' && static_cast<std::size_t>(close - open - 1) <= kNameMax;
  if (close) *close = '\0';
  // Copied before the reply is cut: cutting may move it out of the block open points into.
  CopyName(RemotePath, open + 1);
  if (close) Reply.Set(static_cast<std::uint32_t>(close - Reply.Text()));
  if (whole) FolderNamed(RemotePath);
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
  // Only stored: the next connection starts in the login folder.
  ForgetFolder();
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

void CFTP::FolderChanged(const char* path) {
  if (path[0] == '/') FolderTrail.Set(0u);
  // Without the memory the way back is unknown: the folder is not gone back to.
  if (FolderTrail.Append(path) != 0 || FolderTrail.Append("\n") != 0) FolderTrail.Set(0u);
}

void CFTP::ForgetFolder() {
  FolderTrail.Set(0u);
  FolderOwed = false;
}

void CFTP::FolderNamed(const char* path) {
  FolderTrail.Set(0u);
  if (!HasLineBreak(path)) FolderChanged(path);
}

int CFTP::RestoreFolder() {
  if (!FolderOwed || !Firewall.IsConnected()) return 0;
  const char* step = FolderTrail.Text();
  while (const char* end = std::strchr(step, '\n')) {
    DynStr path;
    if (path.Set(static_cast<std::uint32_t>(end - step), step) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
    const int r = std::strcmp(path.Text(), "..") == 0 ? SendCommand("CDUP", nullptr) : SendCommand("CWD", path.Text());
    // Until it succeeds every action fails here rather than act in another folder.
    if (r) return r;
    step = end + 1;
  }
  FolderOwed = false;
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

int CFTP::RefuseLineBreak() {
  ClearErrorText();
  SetFixedErrorText("The command line must not hold a CR or LF.");
  return FTP_LINE_BREAK;
}

int CFTP::SendLine(const char* name, const char* argument) {
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
    if (HasLineBreak(name) || HasLineBreak(argument)) return RefuseLineBreak();
    // A stop asked for already, or by a handler of the trail: the command is not sent.
    if (TakeInterruptRequest()) return CORV_INTERRUPTED;
    FirePITrail(0, TrailLine);
    if (TakeInterruptRequest()) return CORV_INTERRUPTED;
  }
  ClearErrorText();
  WaitingForLine = true;
  Reply.Set(0u);
  SetAcceptData(false);
  if (!ReplyOwed) Terminator[0] = '\0';
  ReplyOwed = true;
  OwedTransfer = false;
  if (!name || !*name) return 0;
  DynStr line;
  int r = line.Append(name);
  if (!r && argument && *argument) {
    r = line.Append(" ");
    if (!r) r = line.Append(argument);
  }
  if (!r) r = line.Append("\r\n");
  if (r) {
    ReplyOwed = false;
    return SetErrorText(CORV_OUT_OF_MEMORY);
  }
  r = SendAndWait(line.Text(), static_cast<std::int32_t>(line.Length()), true);
  // Part of the line may be out: the server would read the next one as its tail.
  if (r) CloseControl();
  return r;
}

int CFTP::ReadReply(bool transfer, bool abor) {
  // A reply of many lines that a stop cut goes on where it was: its inner lines, taken for
  // replies of their own, would end the recovery early.
  char* terminator = Terminator;
  for (;;) {
    const int r = WaitForLine();
    if (r) return r;
    SetAcceptData(false);
    FirePITrail(1, Reply.Text());
    const char* line = Reply.Text();
    if (terminator[0]) {
      if (std::strncmp(line, terminator, 3) != 0 || (line[3] != ' ' && line[3] != '\0')) continue;
      terminator[0] = '\0';
    } else if (Reply.Length() >= 4 && line[3] == '-') {
      std::memcpy(terminator, line, 3);
      terminator[3] = ' ';
      continue;
    }
    const char c = line[0];
    if (transfer && (c == '1' || c == '2')) Data.CommandAccepted();
    if (transfer && c == '1') DataOpening = true;
    if (c == '1') continue;
    if (abor && std::strncmp(line, "426", 3) == 0) continue;
    return 0;
  }
}

int CFTP::SendCommand(const char* name, const char* argument, bool transfer) {
  // Handlers run before the line is sent, and may set the field the text lies in.
  DynStr nameCopy;
  DynStr argumentCopy;
  if (name && nameCopy.SetText(name) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
  if (argument && argumentCopy.SetText(argument) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
  if (name) name = nameCopy.Text();
  if (argument) argument = argumentCopy.Text();
  if (name) {
    DrainUnsolicited();
    // The server closed meanwhile (a 421 perhaps): nothing waits for this command.
    if (!Firewall.IsConnected()) return CORV_INTERRUPTED;
  }
  int r = SendLine(name, argument);
  if (!r) {
    OwedTransfer = transfer;
    r = ReadReply(transfer, name && std::strcmp(name, "ABOR") == 0);
  }
  if (r) return r;
  ReplyOwed = OwedTransfer = false;
  const char* line = Reply.Text();
  if (line[0] == '2' || line[0] == '3') return 0;
  // 421: the server is closing the connection. Close it here too, so that Connected reads 0
  // at once and the next action does not talk into a dead connection.
  if (std::strncmp(line, "421", 3) == 0) CloseControl();
  SetReplyError(Reply.Text());
  return FTP_REPLY_FAILED;
}

void CFTP::DrainUnsolicited(bool keepReply) {
  DynStr kept;
  if (keepReply && kept.Set(Reply.Length(), Reply.Text()) != 0) return;
  IdleLine = false;
  for (int i = 0; i < 100 && !ReplyOwed && !ReadPassRunning() && Firewall.IsConnected(); ++i) {
    // Reads what the socket holds now, without waiting: the server may have sent it between
    // two actions that ran back to back, with no message handled between them.
    Reply.Set(0u);
    WaitingForLine = true;
    AcceptData = true;
    DoRead(kReadNotified);
    AcceptData = false;
    const bool line = !WaitingForLine;
    WaitingForLine = false;
    if (!line) break;
    FirePITrail(1, Reply.Text());
    if (std::strncmp(Reply.Text(), "421", 3) == 0) CloseControl();
  }
  if (!keepReply || Reply.Set(kept.Length(), kept.Text()) != 0) Reply.Set(0u);
}

void CFTP::CloseControl() {
  const char* why = ErrorText;
  Connect(false);
  ErrorText = why;
  ForgetServerState();
}

void CFTP::ForgetServerState() {
  ReplyOwed = OwedTransfer = RestPending = RenamePending = false;
  Terminator[0] = '\0';
  TypeInStep = false;
}

// ---- actions

int CFTP::TakeCopies() {
  CopyName(Act.LocalFile, LocalFile);
  CopyName(Act.RemoteFile, RemoteFile);
  CopyName(Act.AltFile, AltFile);
  CopyName(Act.RemotePath, RemotePath);
  Act.Passive = Passive;
  if (Act.StartByte.SetText(StartByte.Text()) != 0 || Act.User.SetText(User.Text()) != 0 ||
      Act.Password.SetText(Password.Text()) != 0 || Act.Command.SetText(Command.Text()) != 0)
    return SetErrorText(CORV_OUT_OF_MEMORY);
  return 0;
}

int CFTP::DoAction(int code) {
  ClearErrorText();
  // Inside a running action an interrupt or abort is a request: the action's wait takes it,
  // and the action's end brings the control connection back in step, outside every handler.
  if (ActionDepth > 0 && (code == ftpIdle || code == ftpAbort)) {
    if (code == ftpAbort) AbortRequested = true;
    Interrupt();
    if (!Recovering) StartTimeout();
    return 0;
  }
  if (Busy()) {
    SetFixedErrorText("Busy performing current action.");
    return FTP_BUSY;
  }
  ActionScope scope(*this);
  Interrupted = false;
  AbortRequested = false;
  StopLine.Set(0u);
  StartTimeout();
  int result = TakeCopies();
  if (code != ftpIdle && Firewall.IsConnected()) {
    // Busy already: a handler of a line read here starts no action.
    CurrentAction = static_cast<std::uint8_t>(code);
    DrainUnsolicited();
  }
  if (!result) result = Perform(code);
  // The action stays busy through its end, so that no handler of the end's events or of the
  // recovery starts one.
  if (code != ftpIdle) CurrentAction = static_cast<std::uint8_t>(code);
  // The caller may look at a downloaded file once the action returns.
  Data.FlushLocalFile();
  result = EndAction(result);
  CurrentAction = 0;
  return result;
}

int CFTP::Perform(int code) {
  const std::uint8_t outer = CurrentAction;
  if (code != ftpIdle) CurrentAction = static_cast<std::uint8_t>(code);
  int result = 0;
  // The logon gives the busy state back to this action when it ends.
  if (!Firewall.IsConnected() && code != ftpIdle && code != ftpLogon && code != ftpLogoff) result = Perform(ftpLogon);
  // An absolute folder does not start from the old one, and a transfer type needs none: a way
  // back that fails (the folder is gone) must not keep the user from either.
  const bool absolute = code == FTP_ACTION_CHANGE_DIR && Act.RemotePath[0] == '/';
  const bool type = code == FTP_ACTION_TYPE_ASCII || code == FTP_ACTION_TYPE_BINARY;
  if (!result && code > ftpLogoff && !absolute && !type) result = RestoreFolder();
  if (!result) result = RunAction(code);
  if (code != ftpIdle) CurrentAction = static_cast<std::uint8_t>(code);
  // The data side of a failed action closes; nothing it still holds is handed on.
  if (result != 0) Data.Stop();
  CurrentAction = outer;
  return result;
}

int CFTP::EndAction(int result) {
  const bool stopped = result == CORV_INTERRUPTED;
  const bool interrupted = Interrupted;
  DynStr why;
  const bool kept = why.SetText(GetErrorText()) == 0;
  // A request made since the stop asks for nothing more; one made during the recovery gives
  // it up.
  InterruptRequest = false;
  if (Firewall.IsConnected()) {
    Recovering = true;
    // A rename waiting for its RNTO is cleared by nothing else.
    if (RenamePending)
      CloseControl();
    else if (ReplyOwed || RestPending)
      Realign(ReplyOwed && OwedTransfer, stopped && !interrupted ? kRealignAfterTimeoutMs : kRealignMs);
    Recovering = false;
  }
  ReplyOwed = OwedTransfer = RestPending = RenamePending = false;
  Interrupted = interrupted;
  if (stopped && AbortRequested) {
    // Aborted: the transfer was cut, whatever the server said of it.
    result = FTP_REPLY_FAILED;
    SetReplyError(StopLine.IsEmpty() ? "Aborted." : StopLine.Text());
  } else if (stopped) {
    SetFixedErrorText(StopText());
  } else if (result != 0) {
    // Without a text of its own the code's text is given for it.
    ClearErrorText();
    if (kept && !why.IsEmpty()) SetReplyError(why.Text());
  } else {
    ClearErrorText();
    AfterAction();
  }
  // Between actions whatever the server sends is read: a 421's close is seen (Connected
  // reads 0), and no line is left over to pass for the next command's reply.
  if (Firewall.IsConnected()) SetAcceptData(true);
  // A request that no wait of the action took ends with it; left set, it would stop the
  // reading between actions.
  InterruptRequest = false;
  AbortRequested = false;
  return result;
}

int CFTP::Realign(bool abor, DWORD boundMs) {
  // The action's own time (passed, perhaps) has no say here.
  DeadlineSet = false;
  RealignStart = GetTickCount();
  RealignBound = boundMs;
  Realigning = true;
  int r = 0;
  if (ReplyOwed) {
    // Before the NOOP's reply come exactly one reply of a plain command; of a transfer and
    // its ABOR anything from none to three (servers differ), and never a 200.
    int owed = abor ? 0 : 1;
    if (abor) {
      // The data side is closed already, so the server sees the transfer end before the ABOR.
      SetOOBInline(1);
      Send(kUrgent, sizeof kUrgent, ws::MSG_OOB, true);
      r = SendLine("ABOR", nullptr);
    }
    if (!r) r = SendLine("NOOP", nullptr);
    while (!r) {
      r = ReadReply(false, false);
      if (r) break;
      const char* line = Reply.Text();
      if (std::strncmp(line, "421", 3) == 0) {
        r = FTP_REPLY_FAILED;
        break;
      }
      if (owed == 0 && (!abor || std::strncmp(line, "200", 3) == 0)) break;
      if (owed > 0) --owed;
      if ((line[0] == '4' || line[0] == '5') && StopLine.IsEmpty()) StopLine.SetText(line);
    }
    if (!r) ReplyOwed = OwedTransfer = false;
  }
  // The offset of a REST whose transfer never ran would apply to the next one.
  if (!r && RestPending) {
    r = SendCommand("REST", "0");
    if (!r) RestPending = false;
  }
  Realigning = false;
  StartTimeout();
  if (r) CloseControl();
  return r;
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

int CFTP::RunAction(int code) {
  switch (code) {
    case ftpIdle:
      Interrupt();
      return 0;
    case ftpAbort:
      // Nothing runs to be stopped: the server is told, and read up to the NOOP's reply.
      ReplyOwed = true;
      OwedTransfer = true;
      return Realign(true, kRealignMs);
    case ftpLogon:
      return Logon();
    case ftpLogoff:
      return Logoff();
    case ftpDownload:
      return Transfer(Act.LocalFile[0] ? kDataToFile : kDataToEvents, "RETR", true);
    case ftpUpload:
    case ftpAppend:
    case ftpStoreUnique: {
      int r = CheckUpload(code);
      if (r) return r;
      return Transfer(kDataUpload, code == ftpUpload ? "STOR" : code == ftpAppend ? "APPE" : "STOU", true);
    }
    case ftpDeleteFile:
      return SendCommand("DELE", Act.RemoteFile);
    case ftpRenameFile: {
      // Checked before RNFR: a server left waiting for its RNTO would take the next command as
      // it, and a rename refused here leaves nothing on the server to close the connection for.
      if (HasLineBreak(Act.RemoteFile) || HasLineBreak(Act.AltFile)) return RefuseLineBreak();
      RenamePending = true;
      int r = SendCommand("RNFR", Act.RemoteFile);
      if (!r) r = SendCommand("RNTO", Act.AltFile);
      // Refused, or answered: nothing waits on the server.
      if (r == 0 || r == FTP_REPLY_FAILED) RenamePending = false;
      return r;
    }
    case ftpListDirectory:
      return Transfer(kDataNameList, "NLST", false);
    case ftpListDirectoryLong:
      return Transfer(kDataLongList, "LIST", false);
    case ftpMakeDirectory:
      return SendCommand("MKD", Act.RemoteFile);
    case ftpRemoveDirectory:
      return SendCommand("RMD", Act.RemoteFile);
    case FTP_ACTION_TYPE_ASCII:
    case FTP_ACTION_TYPE_BINARY:
      return SendType(code == FTP_ACTION_TYPE_ASCII ? tmASCII : tmBinary);
    case FTP_ACTION_CHANGE_DIR: {
      const bool up = std::strcmp(Act.RemotePath, "..") == 0;
      const int r = up ? SendCommand("CDUP", nullptr) : SendCommand("CWD", Act.RemotePath);
      if (!r) FolderChanged(Act.RemotePath);
      if (!r && Act.RemotePath[0] == '/') FolderOwed = false;
      return r;
    }
    case FTP_ACTION_COMMAND:
      return SendCommand(Act.Command.Text(), nullptr);
    default:
      return 0;
  }
}

int CFTP::SendType(int mode) {
  // Until the server confirms it, the type it uses is not known.
  TypeInStep = false;
  const int r = SendCommand("TYPE", mode == tmASCII ? "A" : "I");
  if (r) return r;
  TransferMode = static_cast<std::uint8_t>(mode);
  TypeInStep = true;
  return 0;
}

int CFTP::Logon() {
  int r = 0;
  if (!Firewall.IsConnected()) {
    FirePITrail(2, "Connecting to FTP server.");
    // A new connection starts in the login folder with the server's own transfer type.
    TypeInStep = false;
    FolderOwed = !FolderTrail.IsEmpty();
    SetKeepAlive(true);
    r = ConnectAndWait();
    if (!r) r = SendCommand(nullptr, nullptr);
  }
  if (!r && !Act.User.IsEmpty()) r = SendCommand("USER", Act.User.Text());
  if (!r && !Act.Password.IsEmpty()) r = SendCommand("PASS", Act.Password.Text());
  if (r) {
    // A logon cut short leaves no connection that reads as logged on; one the server refused
    // stays, for a logon with other credentials.
    if (r != FTP_REPLY_FAILED && Firewall.IsConnected()) CloseControl();
    return r;
  }
  CurrentAction = 0;
  if (TransferMode != tmDefault) r = Perform(TransferMode == tmASCII ? FTP_ACTION_TYPE_ASCII : FTP_ACTION_TYPE_BINARY);
  if (!r) r = RestoreFolder();
  return r;
}

int CFTP::Logoff() {
  // A session ended on purpose: the next one starts in the login folder.
  ForgetFolder();
  ReleaseParked();
  if (!Firewall.IsConnected()) return 0;
  int r = SendCommand("QUIT", nullptr);
  if (r == CORV_INTERRUPTED) {
    r = 0;
    ClearErrorText();
  } else if (r) {
    FirePITrail(2, "Forcing disconnection from FTP server.");
  }
  CloseControl();
  return r;
}

int CFTP::CheckUpload(int code) {
  if (code != ftpStoreUnique && !Act.RemoteFile[0]) {
    SetFixedErrorText("Please specify a remote file for upload.");
    return FTP_NO_REMOTE_FILE;
  }
  if (!Act.LocalFile[0]) {
    SetFixedErrorText("Please specify a local file for upload.");
    return FTP_NO_LOCAL_FILE;
  }
  HANDLE h = CreateFileA(Act.LocalFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetFixedErrorText("Can't open LocalFile for reading.");
    return FTP_NO_LOCAL_FILE;
  }
  CloseHandle(h);
  return 0;
}

int CFTP::Transfer(std::uint8_t kind, const char* command, bool restart) {
  int r = 0;
  // A logon cut short before its TYPE: the type goes out now, before any data.
  if (TransferMode != tmDefault && !TypeInStep) r = SendType(TransferMode);
  if (!r) r = Data.SetMode(kind);
  if (!r) r = OpenDataConnection();
  if (!r && restart && !Act.StartByte.IsEmpty()) {
    RestPending = true;
    r = SendCommand("REST", Act.StartByte.Text());
    if (r == FTP_REPLY_FAILED) RestPending = false;
  }
  if (!r) {
    DataOpening = false;
    r = SendCommand(command, Act.RemoteFile, true);
    // The transfer ran: the server has used the offset up.
    if (!r) RestPending = false;
  }
  if (r) return r;
  // The final reply may come before the data connection's reports: once the server said it
  // opens the connection, the transfer ends with that connection's close.
  while (Data.Connected ||
         (DataOpening && (Data.Socket != ws::INVALID_SOCKET || Data.ListenSocket != ws::INVALID_SOCKET))) {
    if (!Data.Connected) {
      // The control connection is read meanwhile: its close is reported only once what came
      // before it was read.
      DrainUnsolicited(true);
      // In active mode a server that went without connecting will never connect now; one that
      // did connect first has its connection waiting. A passive connect ends by itself.
      if (!Firewall.IsConnected() && Data.Socket == ws::INVALID_SOCKET && !Data.ConnectionWaiting())
        return CORV_INTERRUPTED;
    }
    if (!DoEvents(PassMs(), Window)) return CORV_INTERRUPTED;
  }
  FlushEvents();
  // A stop asked for while the last notifications were handled.
  if (Interrupted) return CORV_INTERRUPTED;
  // The server sent it all, but it did not all reach the file.
  if (Data.FileError) {
    SetFixedErrorText(Data.FileErrorText);
    return Data.FileError;
  }
  return 0;
}

int CFTP::OnReplyWait() {
  // Before the go-ahead or the data connection there is nothing to send: their events wake
  // the wait. A stop asked for by a handler sends nothing more.
  if (!Data.Pumping() || InterruptRequest) return 0;
  for (int i = 0; i < 30; ++i) {
    int r = Data.SendFileChunk();
    // A full socket reports room by itself (FD_WRITE).
    if (r == ws::WSAEWOULDBLOCK) return 0;
    if (r) return r;
    if (InterruptRequest) return 0;
  }
  // The socket still takes data: wake the next pass at once instead of letting it sit out
  // its idle wait.
  if (Data.Pumping()) PostMessageA(Window, WM_CORV_SOCKET, static_cast<WPARAM>(Data.Socket), ws::FD_WRITE);
  return 0;
}

void CFTP::Recover() {
  CurrentAction = 0;
  IdleLineReady = false;
  InterruptRequest = false;
  Interrupted = false;
  WaitingForLine = false;
  AbortRequested = false;
  Recovering = Realigning = false;
  // The connection goes, and with it every state the server kept for it.
  ForgetServerState();
  // A pending open would empty LocalFile at the next action's first 1xx or 2xx reply.
  Data.OpenPending = false;
  Data.Accepted = false;
  Data.Kind = 0;
  Data.CloseLocalFile();
  CloseSocket();
  // An active data connection stays open, silent, until the next one is set up: a server that
  // saw it end before the session could give its descriptor to the next logon's connection
  // and then, ending the old session, stop serving that one (pyftpdlib does). A passive one
  // closes at once: the server's passive port may be needed again right away.
  if (Data.Socket != ws::INVALID_SOCKET && !Act.Passive) {
    ReleaseParked();
    WinsockProcs.WSAAsyncSelect(Data.Socket, Window, 0, 0);
    Parked = Data.Socket;
    Data.Socket = ws::INVALID_SOCKET;
  }
  Data.CloseSocket();
  Data.CloseListener();
}

void CFTP::ReleaseParked() {
  if (Parked == ws::INVALID_SOCKET) return;
  WinsockProcs.closesocket(Parked);
  Parked = ws::INVALID_SOCKET;
}

int CFTP::OpenDataConnection() {
  ReleaseParked();
  if (!Act.Passive) {
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
