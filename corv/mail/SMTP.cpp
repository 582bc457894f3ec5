#include "corv/mail/SMTP.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "corv/core/Firewall.h"
#include "corv/core/LocalFile.h"
#include "corv/core/Winsock.h"
#include "platform/win32/file.h"

namespace {

constexpr const char* kBusyText = "Busy performing current action.";
constexpr const char* kBadLineText = "Line break in a command line refused.";

bool HasLineBreak(const char* text) { return text && std::strpbrk(text, "\r\n") != nullptr; }

// The text after a reply's code and separator.
const char* ReplyRest(const DynStr& reply) { return reply.Length() > 4 ? reply.Text() + 4 : ""; }

// Header lines after a leading CR LF are the whole header block, in place of the standard one.
bool ReplacesHeaderBlock(const DynStr& headers) {
  return headers.Length() > 1 && headers.Text()[0] == '\r' && headers.Text()[1] == '\n';
}

}  // namespace

std::uint32_t PutMailText(char* out, const char* text, std::uint32_t length, char& previous, bool stuff) {
  std::uint32_t n = 0;
  char prev = previous;
  auto put = [&](char c) {
    if (out) out[n] = c;
    ++n;
  };
  for (std::uint32_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (prev == '\r' && c != '\n') put('\n');
    if (c == '\n' && prev != '\r') put('\r');
    // The server takes one dot off only after CR LF: stuffing after a bare line end would
    // reach the recipient doubled.
    if (stuff && c == '.' && (prev == '\n' || prev == '\r')) put('.');
    put(c);
    prev = c;
  }
  previous = prev;
  return n;
}

int SetMailText(DynStr& out, const char* text, std::uint32_t length, bool stuff) {
  if (!text) length = 0;
  char previous = '\n';
  const std::uint64_t room = std::uint64_t{PutMailText(nullptr, text, length, previous, stuff)} + 1;
  if (room > 0xFFFFFFF0u || out.Set(static_cast<std::uint32_t>(room))) return CORV_OUT_OF_MEMORY;
  previous = '\n';
  std::uint32_t n = PutMailText(out.Text(), text, length, previous, stuff);
  if (previous == '\r') out.Text()[n++] = '\n';
  return out.Set(n);
}

int EndHeaderLines(DynStr& headers) {
  // Every line end at the close goes, bare ones too: one left over would become the blank
  // line and end the header block before the lines that follow it.
  std::uint32_t n = headers.Length();
  while (n && (headers.Text()[n - 1] == '\r' || headers.Text()[n - 1] == '\n')) --n;
  if (n < headers.Length() && headers.Set(n)) return CORV_OUT_OF_MEMORY;
  // Line ends alone are no line: ended, they would be the blank line themselves.
  return n ? headers.EnsureTrailingCRLF() : 0;
}

CSMTP::CSMTP() : CurrentAction(0), InData(0), MaxHeaderLength(72), TrailLine{}, Ehlo(-1) {}

CSMTP::~CSMTP() = default;

int CSMTP::Init() {
  if (!CIPPortMsg::Init()) return 0;
  CurrentAction = 0;
  InData = 0;
  MaxHeaderLength = 72;
  if (SetEOL("\r\n", 2)) return 0;
  if (!Fifo.SetEOL("\r\n", 2)) return 0;
  SetRemotePort(25);
  Ehlo = -1;
  return 1;
}

// ---- events ----

int CSMTP::FireConnected(WORD code, const char* text) {
  if (code == 0) return FirePITrail(2, "Connected.");
  char buf[CORV_ERROR_TEXT_SIZE + 32];
  std::snprintf(buf, sizeof buf, "Failed to connect: %s", text ? text : "");
  return FireError(SMTP_CONNECTION_EVENT, buf);
}

int CSMTP::FireDisconnected(WORD code, const char* text) {
  if (code == 0) return FirePITrail(2, "Disconnected.");
  char buf[CORV_ERROR_TEXT_SIZE + 32];
  std::snprintf(buf, sizeof buf, "Disconnected %s", text ? text : "");
  return FireError(SMTP_CONNECTION_EVENT, buf);
}

int CSMTP::FireError(WORD code, const char* text) {
  if (Sink()) Sink()->Error(code, text ? text : "");
  return 0;
}

int CSMTP::FireEndTransfer() {
  if (Sink()) Sink()->EndTransfer();
  return 0;
}

int CSMTP::FireExpand(const char* text) {
  if (Sink()) Sink()->Expand(text ? text : "");
  return 0;
}

int CSMTP::FirePITrail(int direction, const char* text) {
  if (Sink()) Sink()->PITrail(static_cast<std::uint16_t>(direction), text ? text : "");
  return 0;
}

int CSMTP::FireStartTransfer() {
  if (Sink()) Sink()->StartTransfer();
  return 0;
}

int CSMTP::FireTransfer(std::uint32_t bytes) {
  if (Sink()) Sink()->Transfer(bytes);
  return 0;
}

int CSMTP::OnSendProgress(WORD bytes) { return ReportProgress(bytes); }

int CSMTP::ReportProgress(std::uint32_t bytes) {
  if (bytes == 0 || !InData) return 0;
  return FireTransfer(bytes);
}

// ---- actions ----

int CSMTP::DoAction(int action) {
  ClearErrorText();
  if (CurrentAction != 0 && action != 0) {
    SetFixedErrorText(kBusyText);
    return SMTP_BUSY;
  }
  StartTimeout();
  ActionScope scope(*this);
  if (action > kSMTPCommand || action < 0) {
    CurrentAction = 0;
    return 0;
  }
  int r = 0;
  switch (action) {
    case kSMTPInterrupt:
      CurrentAction = 0;
      Interrupt();
      return 0;
    case kSMTPConnect:
      r = ConnectAction();
      break;
    case kSMTPDisconnect:
      r = DisconnectAction();
      break;
    case kSMTPMail:
    case kSMTPSaml:
    case kSMTPSoml:
    case kSMTPSend: {
      CurrentAction = static_cast<std::uint8_t>(action);
      static const char* const verbs[] = {"MAIL", "", "", "", "SAML", "SOML", "SEND"};
      Message message;
      r = CopyMessage(message);
      if (!r) r = EnsureConnected();
      if (!r) r = SendMessage(verbs[action - kSMTPMail], message);
      break;
    }
    case kSMTPReset:
      Reset();
      break;
    case kSMTPExpand:
      CurrentAction = kSMTPExpand;
      r = EnsureConnected();
      if (!r) r = SendCommand("EXPN", SendTo.Text());
      break;
    case kSMTPVerify:
      CurrentAction = kSMTPVerify;
      r = EnsureConnected();
      if (!r) r = SendCommand("VRFY", SendTo.Text());
      if (!r) r = SendTo.SetText(ReplyRest(Reply)) ? SetErrorText(CORV_OUT_OF_MEMORY) : 0;
      break;
    case kSMTPCommand:
      CurrentAction = kSMTPCommand;
      r = EnsureConnected();
      if (!r) r = SendCommand(Command.Text(), nullptr);
      break;
  }
  CurrentAction = 0;
  return r;
}

int CSMTP::EnsureConnected() {
  if (Firewall.IsConnected()) return 0;
  const std::uint8_t running = CurrentAction;
  int r = ConnectAction();
  CurrentAction = running;
  return r;
}

void CSMTP::Reset() {
  From.Set(0u);
  SendTo.Set(0u);
  Cc.Set(0u);
  BCc.Set(0u);
  ReplyTo.Set(0u);
  Subject.Set(0u);
  Date.Set(0u);
  OtherHeaders.Set(0u);
  MessageText.Set(0u);
  BodyFile.Set(0u);
}

int CSMTP::ConnectAction() {
  CurrentAction = kSMTPConnect;
  int r;
  if (!Firewall.IsConnected()) {
    FirePITrail(2, "Connecting to mail server.");
    if ((r = ConnectAndWait()) != 0) return r;
    if ((r = SendCommand(nullptr, nullptr)) != 0) return r;
  }
  if (EhloName.IsEmpty()) {
    char name[100] = {};
    if (WinsockProcs.gethostname(name, 99) != 0) name[0] = 0;
    name[99] = 0;
    // Without a host name the greeting still needs an argument.
    if (EhloName.SetText(name[0] ? name : "localhost")) return SetErrorText(CORV_OUT_OF_MEMORY);
  }
  if (Ehlo) {
    Interrupted = false;
    r = SendCommand("EHLO", EhloName.Text());
    // A stopped wait is the caller's wish, not the server's refusal: no second greeting.
    if (r && !(r == CORV_INTERRUPTED && Interrupted)) r = SendCommand("HELO", EhloName.Text());
  } else {
    r = SendCommand("HELO", EhloName.Text());
  }
  if (r) return r;
  return Login();
}

int CSMTP::Login() {
  if (User.IsEmpty() || Password.IsEmpty()) return 0;
  // A handler of any exchange below may set either; the login goes on with the pair it began
  // with, each line sized from what it encodes.
  DynStr user;
  DynStr password;
  if (user.Set(User.Length(), User.Text()) || password.Set(Password.Length(), Password.Text()))
    return SetErrorText(CORV_OUT_OF_MEMORY);
  int r = SendCommand("AUTH LOGIN", nullptr);
  for (const DynStr* text : {&user, &password}) {
    if (r) return r;
    DynStr line;
    if (line.Set((text->Length() + 2) / 3 * 4 + 1)) return SetErrorText(CORV_OUT_OF_MEMORY);
    EncodeBase64(text->Text(), line.Text());
    r = SendCommand(line.Text(), nullptr);
  }
  return r;
}

int CSMTP::DisconnectAction() {
  CurrentAction = kSMTPDisconnect;
  int kept = 0;
  if (Firewall.IsConnected()) {
    int r = SendCommand("QUIT", nullptr);
    if (r == CORV_INTERRUPTED) r = 0;
    if (r) {
      FirePITrail(2, "Forcing disconnection from mail server.");
      kept = r;
    }
    const char* why = ErrorText;
    Connect(false);
    ErrorText = why;
  }
  FlushEvents();
  return kept;
}

// ---- commands ----

int CSMTP::SendCommand(const char* verb, const char* args) {
  ClearErrorText();
  // Handlers run before the line is sent, and may set the field the text lies in.
  DynStr verbCopy;
  DynStr argsCopy;
  if ((verb && verbCopy.SetText(verb)) || (args && argsCopy.SetText(args))) return SetErrorText(CORV_OUT_OF_MEMORY);
  if (verb) verb = verbCopy.Text();
  if (args) args = argsCopy.Text();
  if (verb) {
    if (HasLineBreak(verb) || HasLineBreak(args)) {
      SetFixedErrorText(kBadLineText);
      return SMTP_BAD_LINE;
    }
    std::uint32_t n = static_cast<std::uint32_t>(std::strlen(verb));
    if (n > kTrailMax) n = kTrailMax;
    std::memcpy(TrailLine, verb, n);
    if (n < kTrailMax && args && *args) {
      TrailLine[n++] = ' ';
      const std::uint32_t rest = static_cast<std::uint32_t>(::strnlen(args, kTrailMax - n));
      std::memcpy(TrailLine + n, args, rest);
      n += rest;
    }
    TrailLine[n] = 0;
    FirePITrail(0, TrailLine);
  }
  int r = verb ? SendLineAndWait(verb, args, "\r\n") : WaitForLine();
  for (;;) {
    if (r) return r;
    SetAcceptData(false);
    FirePITrail(1, Reply.Text());
    const char* line = Reply.Text();
    const bool expand = CurrentAction == kSMTPExpand;
    if (Reply.Length() >= 4 && line[3] == '-') {
      if (expand) FireExpand(ReplyRest(Reply));
    } else if (line[0] == '1') {
      // A preliminary reply: the real one follows.
    } else if (line[0] == '2' || line[0] == '3') {
      if (expand) FireExpand(ReplyRest(Reply));
      return 0;
    } else {
      // The whole reply is the error text; the fixed buffer keeps its start if memory fails.
      if (FailedReply.Set(Reply.Length(), line) == 0) {
        ErrorText = FailedReply.Text();
      } else {
        const std::size_t n = std::min<std::size_t>(Reply.Length(), sizeof ErrorBuffer - 1);
        std::memcpy(ErrorBuffer, line, n);
        ErrorBuffer[n] = 0;
        ErrorText = ErrorBuffer;
      }
      return SMTP_REPLY_FAILED;
    }
    r = WaitForLine();
  }
}

int CSMTP::SetMessageText(const char* text) {
  return SetMessageText(text, text ? static_cast<std::uint32_t>(std::strlen(text)) : 0);
}

int CSMTP::SetMessageText(const char* text, std::uint32_t length) {
  if (!text) length = 0;
  if (CharsetMode == 1) {
    DynStrJ converted;
    if (converted.ShiftJISToJIS(text, length)) return SetErrorText(CORV_OUT_OF_MEMORY);
    return SetMessageTextAsIs(converted.Text(), converted.Length());
  }
  return SetMessageTextAsIs(text, length);
}

int CSMTP::SetMessageTextAsIs(const char* text, std::uint32_t length) {
  return SetMailText(MessageText, text, length, true) ? SetErrorText(CORV_OUT_OF_MEMORY) : 0;
}

// ---- the mail transaction ----

namespace {

// Leaves the in-DATA flag clear however the transaction ends.
class DataScope {
 public:
  explicit DataScope(std::uint8_t& flag) : flag_(flag) { flag_ = 0; }
  ~DataScope() { flag_ = 0; }
  DataScope(const DataScope&) = delete;
  DataScope& operator=(const DataScope&) = delete;

 private:
  std::uint8_t& flag_;
};

}  // namespace

int CSMTP::CopyMessage(Message& message) {
  // The caller's lines keep the line end they are sent with.
  if (!ReplacesHeaderBlock(OtherHeaders) && !OtherHeaders.IsEmpty() && EndHeaderLines(OtherHeaders)) return SetErrorText(CORV_OUT_OF_MEMORY);
  const std::pair<DynStr*, const DynStr*> fields[] = {
      {&message.from, &From},       {&message.sendTo, &SendTo},   {&message.cc, &Cc},
      {&message.bcc, &BCc},         {&message.replyTo, &ReplyTo}, {&message.subject, &Subject},
      {&message.date, &Date},       {&message.otherHeaders, &OtherHeaders}};
  for (const auto& [to, from] : fields)
    if (to->Set(from->Length(), from->Text())) return SetErrorText(CORV_OUT_OF_MEMORY);
  message.charsetMode = CharsetMode;
  return 0;
}

int CSMTP::SendMessage(const char* verb) {
  Message message;
  const int r = CopyMessage(message);
  return r ? r : SendMessage(verb, message);
}

int CSMTP::SendMessage(const char* verb, const Message& message) {
  DataScope data(InData);
  ClearErrorText();
  if (message.from.IsEmpty()) {
    SetFixedErrorText("Please specify a sender (From).");
    return SMTP_NO_SENDER;
  }
  if (message.sendTo.IsEmpty()) {
    SetFixedErrorText("Please specify a recipient (To).");
    return SMTP_NO_RECIPIENT;
  }
  int r = SendCommand("RSET", nullptr);
  if (r) return r;

  // The sender command: the bare address in angle brackets, or a raw argument after 0x07.
  DynStr line;
  const char* f = message.from.Text();
  std::uint32_t n = message.from.Length();
  if (n && f[0] == '<') {
    ++f;
    --n;
  }
  if (line.Append(verb) || line.Append(" FROM:")) return SetErrorText(CORV_OUT_OF_MEMORY);
  if (n && f[0] == '\x07') {
    std::uint32_t raw = static_cast<std::uint32_t>(strnlen(f + 1, n - 1));
    if (raw > kAddressMax) raw = kAddressMax;
    if (line.Append(f + 1, raw)) return SetErrorText(CORV_OUT_OF_MEMORY);
  } else {
    if (n && f[n - 1] == '>') --n;
    const char* open = static_cast<const char*>(std::memchr(f, '<', n));
    if (open) {
      const char* end = f + n;
      f = open + 1;
      const char* close = static_cast<const char*>(std::memchr(f, '>', static_cast<std::size_t>(end - f)));
      n = static_cast<std::uint32_t>((close ? close : end) - f);
    }
    if (n > kAddressMax) n = kAddressMax;
    if (line.Append("<") || line.Append(f, n) || line.Append(">")) return SetErrorText(CORV_OUT_OF_MEMORY);
  }
  if ((r = SendCommand(line.Text(), nullptr)) != 0) return r;

  if ((r = SendRecipients(message.sendTo.Text(), message.sendTo.Length(), true)) != 0) return r;
  if ((r = SendRecipients(message.cc.Text(), message.cc.Length(), true)) != 0) return r;
  if ((r = SendRecipients(message.bcc.Text(), message.bcc.Length(), false)) != 0) return r;
  if ((r = SendCommand("DATA", nullptr)) != 0) return r;
  if ((r = SendHeaderBlock(message)) != 0) return r;

  InData = 1;
  if ((r = SendBody()) != 0) return r;
  InData = 0;
  if ((r = SendAndWait("\r\n", 2, false)) != 0) return r;
  return SendCommand(".", nullptr);
}

int CSMTP::SendHeaderBlock(const Message& message) {
  const DynStr& other = message.otherHeaders;
  DynStr block;
  bool ok = true;
  if (ReplacesHeaderBlock(other)) {
    ok = !block.Append(other.Text() + 2, other.Length() - 2) && !block.Append("\r\n");
  } else {
    auto field = [&](const char* name, const DynStr& value) {
      if (ok && !value.IsEmpty()) ok = !block.Append(name) && !block.Append(value.Text(), value.Length());
    };
    ok = !block.Append("To: ") && !block.Append(message.sendTo.Text(), message.sendTo.Length());
    if (ok) ok = !block.Append("\r\nFrom: ") && !block.Append(message.from.Text(), message.from.Length());
    field("\r\nSubject: ", message.subject);
    field("\r\nReply-To: ", message.replyTo);
    field("\r\nDate: ", message.date);
    field("\r\nCc: ", message.cc);
    if (ok) ok = !block.Append("\r\n");
    if (ok) ok = !block.Append(other.Text(), other.Length());  // ended by CopyMessage
    if (ok && CharsetHeader && message.charsetMode == 1 && !std::strstr(other.Text(), "Content-Type:"))
      ok = !block.Append("Content-Type: text/plain; charset=iso-2022-jp\r\n");
    if (ok) ok = !block.Append("\r\n");
  }
  if (!ok) return SetErrorText(CORV_OUT_OF_MEMORY);
  // A header line of the caller's that begins with "." would otherwise read as the end of
  // the message, or lose its dot; a bare line end of the caller's would reach the server as
  // no line end at all.
  DynStr stuffed;
  if (SetMailText(stuffed, block.Text(), block.Length(), true)) return SetErrorText(CORV_OUT_OF_MEMORY);
  return SendAndWait(stuffed.Text(), static_cast<std::int32_t>(stuffed.Length()), true);
}

int CSMTP::SendBody() {
  int r;
  if (!MessageText.IsEmpty()) {
    FireStartTransfer();
    const std::uint32_t total = MessageText.Length();
    for (std::uint32_t done = 0; done < total;) {
      const std::uint32_t piece = total - done < kTextPiece ? total - done : kTextPiece;
      if ((r = SendAndWait(MessageText.Text() + done, static_cast<std::int32_t>(piece), false)) != 0) return r;
      done += piece;
      FireTransfer(done);
    }
    FireEndTransfer();
  }
  if (!BodyFile.IsEmpty()) {
    FireStartTransfer();
    if ((r = SendFile(BodyFile.Text())) != 0) return r;
    FireEndTransfer();
  }
  return 0;
}

int CSMTP::SendFile(const char* fileName) {
  CLocalFile file;  // closed also when a handler throws
  if (!file.Open(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)) {
    SetFixedErrorText("Can't open file for reading.");
    return SMTP_FILE_OPEN;
  }
  ProgressRelay = true;
  const DWORD size = GetFileSize(file.Handle(), nullptr);
  int r = 0;
  if (size == INVALID_FILE_SIZE) r = SMTP_FILE_READ;
  DynStr block;
  DynStr out;
  if (!r && (block.Set(kFileBlock) || out.Set(2 * kFileBlock + 1))) r = SetErrorText(CORV_OUT_OF_MEMORY);
  char previous = '\n';
  for (DWORD done = 0; !r && done < size;) {
    const DWORD want = size - done < kFileBlock ? size - done : kFileBlock;
    DWORD got = 0;
    // A file that shrinks while it is sent must not end the message as if it were whole.
    if (!ReadFile(file.Handle(), block.Text(), want, &got, nullptr) || got == 0) {
      r = SMTP_FILE_READ;
      break;
    }
    const std::uint32_t n = PutMailText(out.Text(), block.Text(), got, previous, true);
    if ((r = SendAndWait(out.Text(), static_cast<std::int32_t>(n), false)) != 0) break;
    done += got;
    r = ReportProgress(done);
  }
  // A CR that ended the file still lacks its LF.
  if (!r && previous == '\r') r = SendAndWait("\n", 1, false);
  if (r != CORV_INTERRUPTED) ProgressRelay = false;
  return r;
}

int CSMTP::SendRecipients(const char* list, std::uint32_t length, bool fatal) {
  // A handler of one RCPT exchange may set the list the addresses are read from.
  DynStr copy;
  if (copy.Set(list ? length : 0, list)) return SetErrorText(CORV_OUT_OF_MEMORY);
  list = copy.Text();
  int result = 0;
  std::uint32_t start = 0, end = 0;
  bool have = false, inQuotes = false, ignoring = false;
  int depth = 0;
  auto flush = [&]() -> int {
    const bool send = have && end > start;
    have = inQuotes = ignoring = false;
    depth = 0;
    if (!send) return 0;
    std::uint32_t n = end - start;
    if (n > kAddressMax) n = kAddressMax;
    DynStr line;
    if (line.Append("RCPT TO:<") || line.Append(list + start, n) || line.Append(">"))
      return SetErrorText(CORV_OUT_OF_MEMORY);
    int r = SendCommand(line.Text(), nullptr);
    if (r == SMTP_REPLY_FAILED && !fatal) {
      FireError(SMTP_REPLY_FAILED, Reply.Text());
      r = 0;
    }
    result = r;
    return r;
  };
  auto extend = [&](std::uint32_t i) {
    if (!have) {
      have = true;
      start = i;
    }
    end = i + 1;
  };
  for (std::uint32_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(list[i]);
    if (c == ',' && !inQuotes && depth == 0) {
      // A refused address on a fatal list ends it; so does a lost or stopped exchange,
      // which would leave the remaining addresses unsent behind a success.
      if (flush()) return result;
      continue;
    }
    if (ignoring) continue;
    if (depth > 0) {
      if (c == '(') {
        ++depth;
      } else if (c == ')' && --depth == 0 && have) {
        ignoring = true;
      }
      continue;
    }
    if (inQuotes) {
      if (c == '"') inQuotes = false;
      if (c > 0x20 && c < 0x80) extend(i);
      continue;
    }
    if (c == '"') {
      inQuotes = true;
      extend(i);
    } else if (c == '(') {
      depth = 1;
    } else if (c == '<') {
      have = false;
    } else if (c == '>') {
      ignoring = true;
    } else if (c > 0x20 && c < 0x80) {
      extend(i);
    }
  }
  flush();
  return result;
}
