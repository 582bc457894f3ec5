#include "corv/http/HTTP.h"

#include <cstdio>
#include <cstring>

#include "corv/http/EngineSink.h"
#include "platform/win32/file.h"

namespace {

constexpr const char* kBusyText = "Busy performing current action.";
constexpr const char* kNoServerText = "No server specified in URL";
constexpr const char* kBadSchemeText = "Specified URLScheme is invalid.";
constexpr const char* kAttachedOpenText = "Can't open attached file for reading.";
constexpr const char* kFileOpenText = "Can't open file for reading.";
constexpr const char* kFileShortText = "The attached file ended before its announced length.";
constexpr const char* kLocalCreateText = "Can't open local file for writing.";
constexpr const char* kLocalWriteText = "Error writing to LocalFile.";
constexpr const char* kKeepText = "Error appending to TransferredData.";
constexpr const char* kNoResponseText = "The server closed the connection without a response.";
constexpr const char* kLongLineText = "A response header line is longer than 64 KiB.";

}  // namespace

CHTTP::CHTTP()
    : Action(0),
      ParseState(0),
      BodyBytes(0),
      MaxTransferredData(4096),
      FollowRedirects(frNever),
      InAction(false),
      RedirectDepth(0),
      ResponseError(0),
      ResponseErrorText(nullptr),
      LocalFileFailed(false) {}

CHTTP::~CHTTP() = default;

int CHTTP::Init() {
  Action = 0;
  InitRequest();
  ParseState = 0;
  BodyBytes = 0;
  FollowRedirects = frNever;
  MaxTransferredData = 4096;
  if (!CIPPortMsg::Init()) return 0;
  // Body blocks reach the events at the receive buffer's size; the port receives ahead of
  // it in bulk.
  return Fifo.SetSize(kReceiveBuffer) ? 1 : 0;
}

int CHTTP::SetProxyUser(const char* text) {
  if (CHTTPRequest::SetProxyUser(text) != 0) return 200;
  return Firewall.SetFirewallUser(ProxyUser.Text());
}

int CHTTP::SetProxyPassword(const char* text) {
  if (CHTTPRequest::SetProxyPassword(text) != 0) return 200;
  return Firewall.SetFirewallPassword(ProxyPassword.Text());
}

int CHTTP::Reset() {
  ResetRequest();
  StatusLine.Clear();
  LocalFile.Clear();
  return 0;
}

int CHTTP::DoAction(int action) {
  if (action != 0 && (Action != 0 || InAction)) {
    // A handler of a running action may not start another one, not even after Interrupt:
    // the outer call still owns the connection and the parser.
    SetFixedErrorText(kBusyText);
    return HTTP_BUSY;
  }
  // A request made while the action runs, between two of its waits or two redirect hops,
  // lives until one of its waits takes it.
  ActionScope scope(*this);
  if (action == 0) {
    ResetResponseState();
    if (Action != 0 || InAction) Interrupt();
    Action = 0;
    Connect(false);
    return 0;
  }
  InAction = true;
  RedirectDepth = 0;
  int result;
  try {
    result = RunAction(action);
  } catch (...) {
    Recover();
    throw;
  }
  InAction = false;
  return result;
}

void CHTTP::Recover() {
  Action = 0;
  InAction = false;
  RedirectDepth = 0;
  InterruptRequest = false;
  Interrupted = false;
  ProgressRelay = false;
  CloseSocket();
  LocalFileHandle.Close();
  Lines.Reset();
}

void CHTTP::ResetResponseState() {
  StartTimeout();
  ClearErrorText();
  StatusLine.Set(0u);
  Location.Set(0u);
  ContentLength = 0;
}

int CHTTP::RunAction(int action) {
  ResetResponseState();
  // Handlers run while the request is made, and may set the method the verb lies in.
  DynStr method;
  if (method.Set(HTTPMethod.Length(), HTTPMethod.Text()) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
  Action = static_cast<std::uint8_t>(action);
  int result = 0;
  auto verb = [&method](const char* standard) { return method.IsEmpty() ? standard : method.Text(); };
  switch (action) {
    case 1:
      result = RequestNoBody(verb("GET"));
      break;
    case 2:
      result = RequestWithBody(verb("POST"));
      break;
    case 3:
      result = RequestNoBody(verb("HEAD"));
      break;
    case 4:
      TransferredData.Set(0u);
      result = Reset();
      break;
    case 5:
      result = RequestWithBody(verb("PUT"));
      break;
    default:
      break;
  }
  // The caller may look at the file once the action returns.
  if (!FlushLocalFile() && result == 0) {
    SetFixedErrorText(kLocalWriteText);
    result = HTTP_FILE_WRITE_FAILED;
  }
  FlushEvents();
  if (Interrupted) {
    Interrupted = false;
    result = CORV_INTERRUPTED;
  }
  Action = 0;
  return result;
}

bool CHTTP::FlushLocalFile() {
  if (LocalFileHandle.Flush()) return true;
  LocalFileWriteFailed();
  return false;
}

void CHTTP::LocalFileWriteFailed() {
  LocalFileFailed = true;
  SetResponseError(HTTP_FILE_WRITE_FAILED, kLocalWriteText);
  FireError(HTTP_FILE_WRITE_FAILED, kLocalWriteText);
}

void CHTTP::SetResponseError(int code, const char* text) {
  if (ResponseError == 0) {
    ResponseError = code;
    ResponseErrorText = text;
  }
}

int CHTTP::SendRequestHeaders(const char* verb) {
  ParseState = 0;
  TransferredHeaders.Set(0u);
  TransferredData.Set(0u);
  BodyBytes = 0;
  ResponseError = 0;
  ResponseErrorText = nullptr;
  LocalFileFailed = false;
  Lines.Reset();
  // A connection left open by an interrupted or timed-out action must not carry this request.
  CloseSocket();
  LocalFileHandle.Close();

  int r = SetEOL("\n", 1);
  if (r != 0) return r;
  if (URLServer.IsEmpty()) {
    SetFixedErrorText(kNoServerText);
    return HTTP_NO_SERVER;
  }
  if (FindLineBreak(verb) != nullptr) {
    SetFixedErrorText(kHTTPLineBreakText);
    return HTTP_LINE_BREAK_IN_FIELD;
  }
  if (UsesProxy()) {
    if ((r = SetRemoteHost(ProxyServer.Text())) != 0) return r;
    if ((r = SetRemotePort(ProxyPort)) != 0) return r;
  } else {
    if (!HTTPSameText(URLScheme.Text(), DefaultScheme) && !HTTPSameText(URLScheme.Text(), "http")) {
      SetFixedErrorText(kBadSchemeText);
      return HTTP_BAD_SCHEME;
    }
    if ((r = SetRemoteHost(URLServer.Text())) != 0) return r;
    if ((r = SetRemotePort(URLPort)) != 0) return r;
  }
  if ((r = ConnectAndWait()) != 0) return r;
  DynStr head;
  if (BuildRequestHead(verb, head) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
  return SendAndWait(head.Text(), static_cast<std::int32_t>(head.Length()), true);
}

int CHTTP::RequestNoBody(const char* verb) {
  int r = SendRequestHeaders(verb);
  if (r == 0) r = SendAndWait("\r\n", 2, true);
  if (r != 0) return r;
  SetAcceptData(true);
  return FinishResponse(WaitForDisconnect());
}

int CHTTP::SendHeaderLine(const char* name, const char* value) {
  DynStr line;
  if (line.SetText(name) != 0 || line.Append(value) != 0 || line.Append("\r\n") != 0) {
    return SetErrorText(CORV_OUT_OF_MEMORY);
  }
  return SendAndWait(line.Text(), static_cast<std::int32_t>(line.Length()), true);
}

int CHTTP::RequestWithBody(const char* verb) {
  // Sent from a copy: a handler may set PostData while the body is on its way.
  DynStr body;
  if (body.Set(PostData.Length(), PostData.Text()) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
  ContentLength = body.Length();
  int r = SendRequestHeaders(verb);
  if (r != 0) return r;
  if (!ContentType.IsEmpty() && (r = SendHeaderLine("Content-Type: ", ContentType.Text())) != 0) {
    return r;
  }
  std::uint32_t fileSize = 0;
  if (!AttachedFile.IsEmpty()) {
    HANDLE h = CreateFileA(AttachedFile.Text(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      SetFixedErrorText(kAttachedOpenText);
      return HTTP_FILE_FAILED;
    }
    fileSize = GetFileSize(h, nullptr);
    CloseHandle(h);
    ContentLength += fileSize;
  }
  SetAcceptData(true);
  char length[48];
  std::snprintf(length, sizeof length, "Content-Length: %lu\r\n\r\n",
                static_cast<unsigned long>(ContentLength));
  if ((r = SendAndWait(length, static_cast<std::int32_t>(std::strlen(length)), true)) != 0) return r;
  if (!body.IsEmpty() || !AttachedFile.IsEmpty()) {
    FireStartTransfer(0);
    if (!body.IsEmpty() && (r = SendAndWait(body.Text(), static_cast<std::int32_t>(body.Length()), true)) != 0) {
      return r;
    }
    if (!AttachedFile.IsEmpty() && (r = SendFile(AttachedFile.Text(), fileSize)) != 0) return r;
    FireEndTransfer(0);
  }
  return FinishResponse(WaitForDisconnect());
}

int CHTTP::SendFile(const char* path, std::uint32_t size) {
  CLocalFile file;  // closed also when a handler throws
  if (!file.Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)) {
    SetFixedErrorText(kFileOpenText);
    return HTTP_FILE_FAILED;
  }
  DynStr chunk;
  if (chunk.Set(kFileChunk) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
  ProgressRelay = true;
  std::uint32_t sent = 0;
  int r = 0;
  do {
    const std::uint32_t want = size - sent < kFileChunk ? size - sent : kFileChunk;
    DWORD got = 0;
    if (want > 0) {
      const BOOL ok = ReadFile(file.Handle(), chunk.Text(), want, &got, nullptr);
      if (!ok || got != want) {
        // The announced Content-Length holds the size taken before sending: a file that
        // has shrunk since must not be padded with stale buffer bytes.
        if (ok) SetFixedErrorText(kFileShortText);
        r = HTTP_FILE_READ_FAILED;
        break;
      }
    }
    r = SendAndWait(chunk.Text(), static_cast<std::int32_t>(want), false);
    if (r != 0) break;
    sent += want;
    r = OnSendProgress(static_cast<WORD>(sent));
  } while (r == 0 && sent < size);
  ProgressRelay = false;
  return r;
}

int CHTTP::OnSendProgress(WORD bytes) {
  FireTransfer(0, bytes, nullptr, 0);
  return CheckStatus(0);
}

int CHTTP::FinishResponse(int code) {
  if (code == 0) {
    if (ParseState == 0 && !Lines.Pending()) {
      // Nothing at all came back: that is no answer, not an empty success.
      SetFixedErrorText(kNoResponseText);
      return HTTP_STATUS_FAILED;
    }
    // A failed status keeps its own result and text; otherwise a response that could not
    // be stored or parsed whole is no success, and is not followed either.
    const char* status = nullptr;
    if (ResponseError != 0 &&
        (StatusLine.IsEmpty() || HTTPJudgeStatus(StatusLine.Text(), FollowRedirects, Action, Location,
                                                 URLScheme, &status) != HTTPVerdict::kFail)) {
      SetFixedErrorText(ResponseErrorText);
      return ResponseError;
    }
  }
  return CheckStatus(code);
}

int CHTTP::CheckStatus(int code) {
  if (code == CORV_INTERRUPTED) return code;
  if (StatusLine.IsEmpty()) return code;
  const char* status = nullptr;
  HTTPVerdict v = HTTPJudgeStatus(StatusLine.Text(), FollowRedirects, Action, Location, URLScheme, &status);
  if (v == HTTPVerdict::kSuccess) return code;
  if (StatusText.SetText(status) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
  SetFixedErrorText(StatusText.Text());
  if (v == HTTPVerdict::kFail || RedirectDepth >= kMaxRedirects) return HTTP_STATUS_FAILED;

  DynStr target;
  if (target.Set(Location.Length(), Location.Text()) != 0 || SetURL(target.Text(), true) != 0) {
    return SetErrorText(CORV_OUT_OF_MEMORY);
  }
  const int again = Action;
  Action = 0;
  Connect(false);
  // Interrupted meanwhile (action 0 from a handler, also from the close's own events, or a
  // request a handler's own pass of the queue already took): no new connection.
  if (WaitForDisconnect() == CORV_INTERRUPTED || TakeInterruptRequest() || Interrupted) return CORV_INTERRUPTED;
  ++RedirectDepth;
  return RunAction(again);
}

// ---- receiving ----

void CHTTP::SwitchToBlocks() { SetEOL(nullptr, 0); }

int CHTTP::OnDataIn(const char* data, WORD length, bool eol) {
  switch (ParseState) {
    case 0:
      return StatusLineIn(data, length, eol);
    case 1:
      return HeaderLineIn(data, length, eol);
    case 2:
      return BodyBlock(data, length);
    default:
      return 0;
  }
}

// Joins the pieces of a status or header line. False while the line is incomplete, and when it
// cannot be had (too long, no memory): whatever follows can then no longer be told apart from
// headers or body, so the rest of the response is ignored. A line's CR is dropped.
bool CHTTP::WholeLine(const char* data, WORD length, bool eol, char** line, std::uint32_t* n) {
  switch (Lines.Feed(const_cast<char*>(data), length, eol, line, n)) {
    case HTTPLineAssembler::kMore:
      return false;
    case HTTPLineAssembler::kTooLong:
      SetResponseError(HTTP_STATUS_FAILED, kLongLineText);
      ParseState = 3;
      return false;
    case HTTPLineAssembler::kNoMemory:
      SetResponseError(CORV_OUT_OF_MEMORY, "Out of memory.");
      ParseState = 3;
      return false;
    case HTTPLineAssembler::kLine:
      break;
  }
  if (*n > 0 && (*line)[*n - 1] == '\r') --*n;
  return true;
}

int CHTTP::StatusLineIn(const char* data, WORD length, bool eol) {
  if (!Lines.Pending()) {
    BodyBytes = 0;
    StatusLine.Set(0u);
    TransferredHeaders.Set(0u);
    TransferredData.Set(0u);
    StopAtLine = false;
    if (length == 0 || data[0] != 'H') {
      // No status line: everything, this line's end included, is body.
      Reply.Set(0u);
      ParseState = 2;
      int r = BodyBlock(data, static_cast<std::uint32_t>(length) + (eol ? 1u : 0u));
      SwitchToBlocks();
      return r;
    }
  }
  char* line = nullptr;
  std::uint32_t n = 0;
  if (!WholeLine(data, length, eol, &line, &n)) return 0;
  ParseState = 1;
  if (StatusLine.Set(n, line) != 0) SetResponseError(CORV_OUT_OF_MEMORY, "Out of memory.");
  return CIPPortMsg::OnDataIn(line, static_cast<WORD>(n > 0xFFFF ? 0xFFFF : n), eol);
}

int CHTTP::HeaderLineIn(const char* data, WORD length, bool eol) {
  char* line = nullptr;
  std::uint32_t n = 0;
  if (!WholeLine(data, length, eol, &line, &n)) return 0;
  if (n == 0) {
    ParseState = 2;
    FireStartTransfer(1);
    SwitchToBlocks();
    return 0;
  }
  if (TransferredHeaders.Append(line, n) != 0 || TransferredHeaders.Append("\r\n") != 0 ||
      HeaderLine.Set(n, line) != 0) {
    SetResponseError(CORV_OUT_OF_MEMORY, "Out of memory.");
    return 0;
  }
  char* value = HeaderLine.SplitHeaderLine();
  if (!value) value = HeaderLine.Text();
  const char* field = HeaderLine.Text();
  if (FollowRedirects != frNever && HTTPSameText(field, "Location")) {
    if (Location.SetText(value) != 0) SetResponseError(CORV_OUT_OF_MEMORY, "Out of memory.");
    ParseState = 3;
    TransferredHeaders.Set(0u);
    return 0;
  }
  FireHeader(field, value);
  if (HTTPSameText(field, "Set-Cookie")) {
    HTTPCookie c;
    HTTPParseSetCookie(value, c);
    FireSetCookie(c.name, c.value, c.expires, c.domain, c.path, c.secure);
  }
  return 0;
}

int CHTTP::BodyBlock(const char* data, std::uint32_t n) {
  BodyBytes += n;
  if (!LocalFile.IsEmpty() && !LocalFileHandle.IsOpen() && !LocalFileFailed) {
    if (!LocalFileHandle.Open(LocalFile.Text(), GENERIC_WRITE, 0, CREATE_ALWAYS)) {
      // Creating it again for a later block would lose this one silently: give up on the
      // file for this response and fail the action when it ends.
      LocalFileFailed = true;
      SetResponseError(HTTP_FILE_FAILED, kLocalCreateText);
      FireError(0, kLocalCreateText);
    }
  }
  if (LocalFileHandle.IsOpen() && !LocalFileHandle.Write(data, n)) LocalFileWriteFailed();
  if (HTTPKeepCapped(TransferredData, data, n, MaxTransferredData) != 0) {
    FireError(CORV_OUT_OF_MEMORY, kKeepText);
  }
  return FireTransfer(1, BodyBytes, data, static_cast<std::uint16_t>(n));
}

int CHTTP::OnDisconnected(WORD code) {
  if (ParseState <= 1 && Lines.Pending()) {
    // The server closed inside a status or header line: what came of it is the last line.
    char none = 0;
    OnDataIn(&none, 0, true);
  }
  FlushLocalFile();
  FireEndTransfer(1);
  LocalFileHandle.Close();
  return CIPPortMsg::OnDisconnected(code);
}

// ---- events ----

int CHTTP::FireConnected(WORD code, const char* text) {
  engine_sink::Connected(Sink(), code, text);
  return 0;
}

int CHTTP::FireDisconnected(WORD code, const char* text) {
  engine_sink::Disconnected(Sink(), code, text);
  return 0;
}

int CHTTP::FireError(WORD code, const char* text) {
  engine_sink::Error(Sink(), code, text);
  return 0;
}

int CHTTP::FireEndTransfer(std::uint16_t direction) {
  if (Sink()) Sink()->EndTransfer(direction);
  return 0;
}

int CHTTP::FireHeader(const char* field, const char* value) {
  engine_sink::Header(Sink(), field, value);
  return 0;
}

int CHTTP::FireSetCookie(const char* name, const char* value, const char* expires,
                         const char* domain, const char* path, int secure) {
  engine_sink::SetCookie(Sink(), name, value, expires, domain, path, secure);
  return 0;
}

int CHTTP::FireStartTransfer(std::uint16_t direction) {
  if (Sink()) Sink()->StartTransfer(direction);
  return 0;
}

int CHTTP::FireTransfer(std::uint16_t direction, std::uint32_t bytes, const char* text,
                        std::uint16_t length) {
  if (HTTPEvts* sink = Sink()) {
    engine_sink::Block(text, length, [&](const char* block, std::uint16_t n) {
      sink->Transfer(direction, bytes, block, n);
    });
  }
  return 0;
}
