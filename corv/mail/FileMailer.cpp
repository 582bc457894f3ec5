#include "corv/mail/FileMailer.h"

#include <cstdio>
#include <cstring>

#include "platform/win32/file.h"

namespace {

constexpr const char* kBusyText = "Busy performing current action.";
constexpr const char* kPreamble = "\r\nThis is a message encoded in MIME format.\r\n\r\n";

struct ExtensionRule {
  const char* extension;
  int encoding;
  const char* contentType;
};
const ExtensionRule kExtensions[] = {
    {"htm", kEncodingQP, "text/plain"},          {"txt", kEncodingQP, "text/plain"},
    {"jpg", kEncodingBase64, "image/jpg"},       {"gif", kEncodingBase64, "image/gif"},
    {"bmp", kEncodingBase64, "image/bmp"},       {"exe", kEncodingBase64, "application/octet-stream"},
};

bool SameNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
    if (!x) return true;
  }
}

}  // namespace

const char* ShortFileName(const char* path) {
  if (!path) return "";
  const char* last = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/') last = p + 1;
  return last;
}

int SetPartFile(CMIME& mime, WORD index, const char* fileName) {
  mime.ClearErrorText();
  CMIMEPart* part = mime.parts.Get(index);
  if (!part) {
    mime.SetFixedErrorText("Invalid PartIdx");
    return FILEMAILER_BAD_PART;
  }
  HANDLE file = CreateFileA(fileName ? fileName : "", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD size = file == INVALID_HANDLE_VALUE ? INVALID_FILE_SIZE : GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    mime.SetFixedErrorText("No file given");
    return FILEMAILER_NO_FILE;
  }
  int r = 0;
  const char* shortName = ShortFileName(fileName);
  if (part->sourceFile.SetText(fileName)) r = CORV_OUT_OF_MEMORY;
  part->size = static_cast<int>(size);
  if (!r && part->encoding == kEncoding7Bit && part->contentType.IsEmpty()) {
    part->encoding = kEncodingBase64;
    const char* type = "application/octet-stream";
    const char* dot = std::strrchr(shortName, '.');
    if (dot) {
      for (const ExtensionRule& rule : kExtensions) {
        if (SameNoCase(dot + 1, rule.extension)) {
          part->encoding = rule.encoding;
          type = rule.contentType;
          break;
        }
      }
    }
    if (part->contentType.SetText(type)) r = CORV_OUT_OF_MEMORY;
  }
  if (!r && (part->name.SetText(shortName) || part->disposition.SetText("attachment") ||
             part->filename.SetText(shortName) || CMIMEPart::BuildHeaders(part, mime.CharsetMode)))
    r = CORV_OUT_OF_MEMORY;
  CloseHandle(file);
  return r ? mime.SetErrorText(r) : 0;
}

CFileMailer::CFileMailer() : Busy(0), InSend(false) {
  Mime.boundaryPrefix = "--boundary";
  // The text is labelled by its part, or goes out plain: never by a header of the engine's.
  CharsetHeader = false;
}

CFileMailer::~CFileMailer() = default;

int CFileMailer::FireError(WORD code, const char* text) {
  if (Sink()) Sink()->Error(code, text ? text : "");
  return 0;
}

int CFileMailer::FireEndTransfer() {
  if (Sink()) Sink()->EndTransfer();
  return 0;
}

// The component's interface has no Expand slot.
int CFileMailer::FireExpand(const char*) { return 0; }

int CFileMailer::FirePITrail(int direction, const char* text) {
  if (Sink()) Sink()->PITrail(static_cast<std::uint16_t>(direction), text ? text : "");
  return 0;
}

int CFileMailer::FireStartTransfer() {
  if (Sink()) Sink()->StartTransfer();
  return 0;
}

int CFileMailer::FireTransfer(std::uint32_t bytes) {
  if (Sink()) Sink()->Transfer(bytes);
  return 0;
}

int CFileMailer::SetUserText(const char* text, std::uint32_t length) {
  if (!text) length = 0;
  if (CharsetMode == 1) {
    DynStrJ converted;
    if (converted.ShiftJISToJIS(text, length) || UserText.Set(converted.Length(), converted.Text()))
      return SetErrorText(CORV_OUT_OF_MEMORY);
    return 0;
  }
  return UserText.Set(length, text) ? SetErrorText(CORV_OUT_OF_MEMORY) : 0;
}

int CFileMailer::DoAction(int action) {
  if (action == kFileMailerIdle) {
    Busy = 0;
    Connect(false);
    return CSMTP::DoAction(kSMTPInterrupt);
  }
  if (action != kFileMailerSend) return 0;
  // An interrupted send still unwinding below a handler keeps its connection and its
  // temporary file: a new one must wait until it has returned.
  if (Busy || InSend) {
    ClearErrorText();
    SetFixedErrorText(kBusyText);
    return SMTP_BUSY;
  }
  return Send();
}

int CFileMailer::BuildMultipart(DynStr& headers, int charsetMode, char* tempName, bool& tempMade) {
  const std::uint32_t n = Attachments.Count();
  int r = Mime.DoAction(kMIMEReset);
  if (r) return r;
  if (Mime.parts.SetCount(static_cast<int>(n + 1))) return SetErrorText(CORV_OUT_OF_MEMORY);
  // The text's line ends go out as CR LF, as in a plain message; the files keep their bytes.
  DynStr lines;
  if (SetMailText(lines, UserText.Text(), UserText.Length(), false)) return SetErrorText(CORV_OUT_OF_MEMORY);
  if ((r = Mime.SetPartData(0, lines.Text(), lines.Length())) != 0) return r;
  CMIMEPart* text = Mime.parts.Get(0);
  if (!text) {
    SetFixedErrorText("Invalid PartIdx");
    return FILEMAILER_BAD_PART;
  }
  const bool japanese = charsetMode == 1;
  text->encoding = japanese ? kEncoding7Bit : kEncodingQP;
  if (CMIMEPart::BuildHeaders(text, Mime.CharsetMode)) return SetErrorText(CORV_OUT_OF_MEMORY);
  if (text->contentType.SetText(japanese ? "text/plain; charset=\"iso-2022-jp\"" : "text/plain") ||
      CMIMEPart::BuildHeaders(text, Mime.CharsetMode))
    return SetErrorText(CORV_OUT_OF_MEMORY);
  for (std::uint32_t i = 0; i < n; ++i)
    if ((r = SetPartFile(Mime, static_cast<WORD>(i + 1), Attachments.Get(i))) != 0) return r;

  char folder[130] = {};
  const DWORD len = GetTempPathA(129, folder);
  if (len == 0 || len > 129 || GetTempFileNameA(folder, "fml", 0, tempName) == 0) {
    SetFixedErrorText("Can't create temp file.");
    return FILEMAILER_TEMP_FILE;
  }
  tempMade = true;
  if (Mime.message.SetText(tempName)) return SetErrorText(CORV_OUT_OF_MEMORY);
  if ((r = Mime.DoAction(kMIMEEncodeFile)) != 0) return r;
  // The caller's last line must end before the MIME lines start a header of their own.
  if (!headers.IsEmpty() && EndHeaderLines(headers)) return SetErrorText(CORV_OUT_OF_MEMORY);
  if (headers.Append(Mime.messageHeaders.Text(), Mime.messageHeaders.Length()))
    return SetErrorText(CORV_OUT_OF_MEMORY);
  if ((r = SetMessageTextAsIs(kPreamble, static_cast<std::uint32_t>(std::strlen(kPreamble)))) != 0) return r;
  return BodyFile.SetText(tempName) ? SetErrorText(CORV_OUT_OF_MEMORY) : 0;
}

int CFileMailer::Send() {
  ActionScope scope(*this);
  ClearErrorText();
  Busy = 1;
  InSend = true;
  // Read once: a handler may set it during the send, for the next one. The text was converted
  // when it was set, so it goes out as it is.
  const int charsetMode = CharsetMode;
  char tempName[MAX_PATH + 1] = {};
  bool tempMade = false;
  int r = 0;
  try {
    DynStr headers;
    if (headers.Set(UserHeaders.Length(), UserHeaders.Text())) r = SetErrorText(CORV_OUT_OF_MEMORY);
    if (!r) {
      if (Attachments.Count() == 0)
        r = SetMessageTextAsIs(UserText.Text(), UserText.Length());
      else
        r = BuildMultipart(headers, charsetMode, tempName, tempMade);
    }
    if (!r && OtherHeaders.Set(headers.Length(), headers.Text())) r = SetErrorText(CORV_OUT_OF_MEMORY);
    if (!r) r = CSMTP::DoAction(kSMTPMail);
    if (!r) r = CSMTP::DoAction(kSMTPDisconnect);
    if (r && !HasErrorText() && Mime.HasErrorText()) {
      std::snprintf(ErrorBuffer, sizeof ErrorBuffer, "%s", Mime.GetErrorText());
      ErrorText = ErrorBuffer;
    }
    // Closed while the send still holds the component: a handler of the close can neither
    // start another send inside it nor leave the connection open by throwing.
    const char* why = ErrorText;
    Connect(false);
    ErrorText = why;
  } catch (...) {
    // A handler's exception: the send is over all the same. No event may run while the
    // exception is on its way out, so the socket closes without one.
    EndSend(tempName, tempMade);
    CurrentAction = 0;
    WaitingForLine = false;
    ProgressRelay = false;
    InterruptRequest = false;
    Interrupted = false;
    CloseSocket();
    throw;
  }
  EndSend(tempName, tempMade);
  return r;
}

void CFileMailer::EndSend(const char* tempName, bool tempMade) {
  if (tempMade) {
    DeleteFileA(tempName);
    BodyFile.Set(0u);
  }
  Busy = 0;
  InSend = false;
}
