#include "corv/mime/MIME.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "corv/mime/Codec.h"
#include "corv/mime/DynStrJ.h"
#include "corv/mime/Stream.h"
#include "platform/win32/file.h"
#include "platform/win32/misc.h"

namespace {
constexpr int kNoMemory = 200;
const char kBanner[] = "MIME-Version: 1.0 (produced by the Corvane MIME Component)\r\n";
constexpr DWORD kTopPiece = 255;   // top-level header lines: pieces of up to 254 bytes
constexpr DWORD kLinePiece = 256;  // delimiters, part headers, body lines: up to 255

unsigned char Upper(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }
bool IsLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool SameNoCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (Upper(static_cast<unsigned char>(*a)) != Upper(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

bool StartsNoCase(const char* text, const char* key) {
  for (; *key; ++text, ++key)
    if (!*text || Upper(static_cast<unsigned char>(*text)) != Upper(static_cast<unsigned char>(*key)))
      return false;
  return true;
}

struct Header {
  char* name;
  char* value;
  char* params;
};

// Splits the header at p of a writable, zero-terminated header text in place. Returns where
// the next header begins, or null when no header is left. Never passes the text's end.
char* SplitHeader(char* p, Header* h) {
  while (*p == '\r' || *p == '\n') ++p;
  if (!*p) return nullptr;
  h->name = p;
  char* q = p;
  while (*q && *q != ':' && *q != '\n') ++q;
  if (*q != ':') {  // a line without a colon: a name without a value
    char* end = q;
    if (*q == '\n') {
      *q = 0;
      ++q;
    }
    while (end > p && end[-1] == '\r') *--end = 0;
    h->value = h->params = end;
    return q;
  }
  *q = 0;
  char* v = q + 1;
  if (*v == ' ') ++v;
  while (*v == ' ' || *v == '\t') ++v;
  h->value = v;
  char* e = v;
  while (*e && static_cast<unsigned char>(*e) >= '!' && *e != ';') ++e;
  char prev = *e;
  h->params = e;
  if (!prev) return e;
  *e = 0;
  char* s = e + 1;
  for (;;) {
    if (!*s) {
      h->params = s;
      return s;
    }
    if (prev == '\n' && static_cast<unsigned char>(*s) > 13 && *s != ' ') {
      h->params = s - 1;  // the cut byte or the LF: an empty text once cut
      s[-1] = 0;
      return s;
    }
    if (static_cast<unsigned char>(*s) < '!' || *s == ';') {
      prev = *s++;
      continue;
    }
    break;
  }
  h->params = s;
  char* t = s;
  while (*t && !(*t == '\n' && static_cast<unsigned char>(t[1]) > 13 && t[1] != ' ')) ++t;
  char* next = t;
  if (*t) {
    *t = 0;
    next = t + 1;
  }
  while (t > s && (t[-1] == '\r' || t[-1] == '\n' || t[-1] == ' ' || t[-1] == '\t')) *--t = 0;
  return next;
}

// Finds key (no case) in text; with letterCheck only where no ASCII letter stands before it;
// the first or the last such place. Returns the text after the key, or null.
const char* FindParam(const char* text, const char* key, bool letterCheck, bool last) {
  const char* found = nullptr;
  for (const char* p = text; *p; ++p) {
    if (!StartsNoCase(p, key)) continue;
    if (letterCheck && p > text && IsLetter(static_cast<unsigned char>(p[-1]))) continue;
    found = p + std::strlen(key);
    if (!last) break;
  }
  return found;
}

// A parameter's value: unfolded, then the quoted text or the token.
int ParamValue(const char* at, DynStr& out) {
  DynStr tmp;
  if (tmp.SetText(at)) return kNoMemory;
  char* s = tmp.Text();
  std::uint32_t n = 0;
  for (std::uint32_t i = 0; s[i];) {
    if (s[i] == '\r' && s[i + 1] == '\n') {
      std::uint32_t k = i + 2;
      while (s[k] == ' ' || s[k] == '\t') ++k;
      i = k;
      continue;
    }
    s[n++] = s[i++];
  }
  s[n] = 0;
  const char* b = s;
  const char* e;
  if (*b == '"') {
    ++b;
    e = b;
    while (*e && *e != '"') ++e;
  } else {
    e = b;
    while (*e && static_cast<unsigned char>(*e) >= '!' && *e != ';') ++e;
  }
  return out.Set(static_cast<std::uint32_t>(e - b), b);
}

// A parameter value with its encoded words decoded.
int DecodedParamValue(const char* at, DynStr& out) {
  DynStr raw;
  DynStrJ dec;
  if (ParamValue(at, raw) || dec.SetDecoded(raw.Text())) return kNoMemory;
  return out.Set(dec.Length(), dec.Text());
}

int Copy(DynStr& to, const DynStr& from) { return to.Set(from.Length(), from.Text()); }

DWORD Estimate(int encoding, DWORD length) {
  switch (encoding) {
    case kEncoding7Bit:
    case kEncoding8Bit:
    case kEncodingBinary:
      return length;
    case kEncodingQP:
      return QPDecodedSize(length);
    case kEncodingBase64:
      return Base64DecodedSize(length);
    default:
      return 0;
  }
}

// Appends a header line piece, a line ending in LF alone getting its CR.
int AppendHeaderPiece(DynStr& to, const char* line, DWORD n) {
  // A CR LF split between two pieces: the CR is already there.
  const bool hasCR = n >= 2 ? line[n - 2] == '\r' : !to.IsEmpty() && to.Text()[to.Length() - 1] == '\r';
  if (n && line[n - 1] == '\n' && !hasCR)
    return to.Append(line, n - 1) || to.Append("\r\n", 2) ? kNoMemory : 0;
  return to.Append(line, n);
}

bool IsEmptyLine(const char* line, DWORD n) {
  return (n == 1 && line[0] == '\n') || (n == 2 && line[0] == '\r' && line[1] == '\n');
}
}  // namespace

int CMIME::FireProgress(WORD percent) {
  if (EventSink) static_cast<MIMEEvts*>(EventSink)->Progress(percent);
  return 0;
}

void CMIME::ProgressRelay(void* engine, WORD percent) {
  CMIME* m = static_cast<CMIME*>(engine);
  if ((m->action == kMIMEEncodeFile || m->action == kMIMEEncodeString) && m->parts.Count() > 0) {
    WORD count = static_cast<WORD>(m->parts.Count());
    percent = static_cast<WORD>(percent / count + static_cast<WORD>(m->currentPart * 100) / count);
  }
  m->FireProgress(percent);
}

int CMIME::DoAction(int act) {
  // A nested action (from a progress handler) would pull the parts away from the running one.
  if (action) return kMIMEBusy;
  if (act < kMIMEDecodeFile || act > kMIMEReset) return 0;
  ClearErrorText();
  action = static_cast<std::uint8_t>(act);
  int r;
  switch (act) {
    case kMIMEDecodeFile:
    case kMIMEDecodeString:
      r = Decode(act);
      break;
    case kMIMEEncodeFile:
    case kMIMEEncodeString:
      r = Encode(act);
      break;
    default:
      r = Reset();
      break;
  }
  action = 0;
  return r;
}

int CMIME::Reset() {
  boundary.Clear();
  contentType.Clear();
  contentTypeParams.Clear();
  message.Clear();
  messageHeaders.Clear();
  return parts.SetCount(0);
}

int CMIME::SetPartData(WORD index, const char* data, std::uint32_t length, bool buildHeaders) {
  ClearErrorText();
  if (index >= parts.Count()) {
    SetFixedErrorText("Invalid PartIdx");
    return 0;
  }
  CMIMEPart* part = parts[index];
  if (part->body.Set(length, data)) return kNoMemory;
  part->size = static_cast<int>(length);
  if (part->encoding != 0 || !part->contentType.IsEmpty()) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
  bool text = true, del = false;
  for (std::uint32_t i = 0; i < length; ++i) {
    const unsigned char c = p[i];
    if (c >= 32 && c < 127) continue;
    if (c == 127) {
      del = true;
    } else if (c != 9 && c != 10 && c != 13) {
      text = false;
      break;
    }
  }
  static constexpr char kText[] = "text/plain";
  static constexpr char kBinary[] = "application/octet-stream";
  if (text) {
    part->encoding = del ? kEncodingQP : kEncoding7Bit;
    if (part->contentType.Set(sizeof kText - 1, kText)) return kNoMemory;
  } else {
    part->encoding = kEncodingBase64;
    if (part->contentType.Set(sizeof kBinary - 1, kBinary)) return kNoMemory;
  }
  return buildHeaders ? CMIMEPart::BuildHeaders(part, CharsetMode) : 0;
}

int CMIME::GenerateBoundary() {
  SYSTEMTIME t;
  GetSystemTime(&t);
  DWORD mix = GetTickCount() * static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(this));
  char buf[64];
  std::snprintf(buf, sizeof buf, ".corv.%04d%02d%d%d%d%d%d.%u", t.wYear, t.wMonth, t.wDayOfWeek,
                t.wDay, t.wHour, t.wMinute, t.wSecond, static_cast<unsigned>(mix));
  if (boundary.SetText(boundaryPrefix ? boundaryPrefix : "") || boundary.Append(buf)) return kNoMemory;
  return 0;
}

// Room for the largest body the encoder can write into `message`.
std::uint64_t CMIME::StringRoom() {
  const int count = parts.Count();
  const bool delim = count > 1 || alwaysMultipart;
  const std::uint64_t b = boundary.Length();
  std::uint64_t total = delim ? b + 8 : 0;
  for (int j = 0; j < count; ++j) {
    CMIMEPart* part = parts[j];
    std::uint64_t in = part->body.Length();
    if (!part->sourceFile.IsEmpty()) {
      CFileStream f(CreateFileA(part->sourceFile.Text(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      in = 0;
      if (f.handle != INVALID_HANDLE_VALUE) {
        DWORD high = 0;
        DWORD low = GetFileSize(f.handle, &high);
        if (low != INVALID_FILE_SIZE) in = (std::uint64_t(high) << 32) | low;
      }
    }
    if (delim) total += b + 8 + part->headers.Length();
    switch (part->encoding) {
      case kEncoding7Bit:
      case kEncoding8Bit:
      case kEncodingBinary:
        total += in;
        break;
      case kEncodingQP:
        total += QPEncodedBound(in);
        break;
      case kEncodingBase64:
        total += Base64EncodedBound(in);
        break;
      default:
        break;
    }
  }
  return total;
}

int CMIME::Encode(int act) {
  const int count = parts.Count();
  if (count == 0) return 0;
  if (boundary.IsEmpty() && GenerateBoundary()) return kNoMemory;
  if (messageHeaders.SetText(kBanner)) return kNoMemory;
  const bool delim = count > 1 || alwaysMultipart;
  if (delim) {
    if (contentType.IsEmpty() && contentType.SetText("multipart/mixed")) return kNoMemory;
    if (contentTypeParams.SetText("boundary=\"") ||
        contentTypeParams.Append(boundary.Text(), boundary.Length()) ||
        contentTypeParams.Append("\"") || messageHeaders.Append("Content-Type: ") ||
        messageHeaders.Append(contentType.Text(), contentType.Length()) ||
        messageHeaders.Append("; ") ||
        messageHeaders.Append(contentTypeParams.Text(), contentTypeParams.Length()))
      return kNoMemory;
  } else {
    CMIMEPart* p0 = parts[0];
    if (Copy(contentType, p0->contentType) || Copy(contentTypeParams, p0->contentTypeParams) ||
        messageHeaders.Append(p0->headers.Text(), p0->headers.Length()))
      return kNoMemory;
  }
  // CR LF, then the delimiter line: the first part's goes without the CR LF in front.
  DynStr delimiter;
  if (delim && (delimiter.Set(4, "\r\n--") || delimiter.Append(boundary.Text(), boundary.Length()) ||
                delimiter.Append("\r\n", 2)))
    return kNoMemory;

  MyStream* out;
  int r;
  if (act == kMIMEEncodeFile) {
    MyFileStream* f = CorvNew<MyFileStream>(nullptr, true, 0, nullptr, nullptr, short(0));
    if (!f) return kNoMemory;
    out = f;
    r = f->Open(message.Text(), GENERIC_WRITE, 1, MyFileStream::kMaxBuffer);
  } else {
    std::uint64_t room = StringRoom();
    if (room > 0xFFFFFFF0u || message.Set(static_cast<std::uint32_t>(room))) return kNoMemory;
    out = CorvNew<MyStringStream>(message.Text(), static_cast<DWORD>(room), nullptr, nullptr,
                                  short(0));
    if (!out) return kNoMemory;
    r = out->Open(nullptr, 0, 1, 0);
  }
  if (r) {
    if (r != kNoMemory) SetFixedErrorText(StreamErrorText(r));
    CorvDelete(out);
    if (act == kMIMEEncodeString) message.Set(0u);
    return r;
  }

  const short step = static_cast<short>(100 / count);
  MyStream* in = nullptr;
  std::optional<MyStringStream> bodyIn;  // a body in memory is read without a heap object
  auto dropInput = [&] {
    if (bodyIn)
      bodyIn.reset();
    else
      CorvDelete(in);
    in = nullptr;
  };
  for (int j = 0; j < count && r == 0; ++j) {
    currentPart = static_cast<WORD>(j);
    CMIMEPart* part = parts[j];
    if (delim) {
      const DWORD skip = j > 0 ? 0 : 2;
      out->Write(delimiter.Text() + skip, delimiter.Length() - skip);
    }
    if (!part->sourceFile.IsEmpty()) {
      MyFileStream* f = CorvNew<MyFileStream>(nullptr, false, 0, &CMIME::ProgressRelay, this, step);
      if (f) {
        in = f;
        r = f->Open(part->sourceFile.Text(), GENERIC_READ, 1, 0);
      }
    } else {
      in = &bodyIn.emplace(part->body.Text(), part->body.Length(), &CMIME::ProgressRelay, this, step);
    }
    if (!in) r = kNoMemory;
    if (r) {
      if (r != kNoMemory) SetFixedErrorText(StreamErrorText(r));
      break;
    }
    if (delim) {
      if (part->headers.Length()) out->Write(part->headers.Text(), part->headers.Length());
      out->Write("\r\n", 2);
    }
    switch (part->encoding) {
      case kEncoding7Bit:
      case kEncoding8Bit:
      case kEncodingBinary:
        r = CopyStream(in, out);
        break;
      case kEncodingQP:
        in->rawMode = false;
        r = EncodeQPStream(in, out, 0);
        in->rawMode = true;
        break;
      case kEncodingBase64:
        r = EncodeBase64Stream(in, out, 0);
        break;
      default:
        break;
    }
    // A delimiter or header write that failed is no success either.
    if (r == 0) r = out->TakeError();
    // Gone before the next part starts, so its last progress marks count for this part.
    dropInput();
  }
  if (delim) {
    out->Write(delimiter.Text(), delimiter.Length() - 2);
    out->Write("--\r\n", 4);
  }
  dropInput();
  int flushed = out->Flush();
  if (r == 0) r = flushed;
  if (act == kMIMEEncodeString) message.Set(out->position);
  CorvDelete(out);
  return r;
}

int CMIME::ParseTopHeaders() {
  DynStr work;
  if (Copy(work, messageHeaders)) return kNoMemory;
  Header h;
  char* p = work.Text();
  while ((p = SplitHeader(p, &h)) != nullptr) {
    if (SameNoCase(h.name, "MIME-Version")) {
      if (std::strcmp(h.value, "1.0") != 0) {
        SetFixedErrorText("Unknown MIME type");
        return kMIMEBadVersion;
      }
    } else if (SameNoCase(h.name, "Content-Type")) {
      if (parts.Count() == 1 &&
          (parts[0]->contentType.SetText(h.value) || parts[0]->contentTypeParams.SetText(h.params)))
        return kNoMemory;
      if (contentType.SetText(h.value) || contentTypeParams.SetText(h.params)) return kNoMemory;
      if (const char* b = FindParam(h.params, "boundary=", false, false))
        if (ParamValue(b, boundary)) return kNoMemory;
    } else if (SameNoCase(h.name, "Content-Transfer-Encoding") ||
               SameNoCase(h.name, "Content-Disposition")) {
      if (parts.Count() == 0 && parts.SetCount(1)) return kNoMemory;
      CMIMEPart* p0 = parts[0];
      if (Copy(p0->contentType, contentType) || Copy(p0->contentTypeParams, contentTypeParams))
        return kNoMemory;
      if (SameNoCase(h.name, "Content-Transfer-Encoding")) {
        if (const char* n = FindParam(contentTypeParams.Text(), "name=", true, false))
          if (DecodedParamValue(n, p0->name)) return kNoMemory;
        p0->encoding = EncodingIndex(h.value);
      } else {
        if (p0->disposition.SetText(h.value) || p0->dispositionParams.SetText(h.params)) return kNoMemory;
        if (const char* f = FindParam(h.params, "filename=", false, false))
          if (DecodedParamValue(f, p0->filename)) return kNoMemory;
        if (const char* n = FindParam(h.params, "name=", true, true))
          if (DecodedParamValue(n, p0->name)) return kNoMemory;
      }
    }
  }
  return 0;
}

int CMIME::ParsePartHeaders(CMIMEPart* part) {
  DynStr work;
  if (Copy(work, part->headers)) return kNoMemory;
  Header h;
  char* p = work.Text();
  while ((p = SplitHeader(p, &h)) != nullptr) {
    if (SameNoCase(h.name, "Content-Type")) {
      if (part->contentType.SetText(h.value) || part->contentTypeParams.SetText(h.params)) return kNoMemory;
      if (const char* n = FindParam(h.params, "name=", false, false))
        if (DecodedParamValue(n, part->name)) return kNoMemory;
    } else if (SameNoCase(h.name, "Content-Transfer-Encoding")) {
      part->encoding = EncodingIndex(h.value);
    } else if (SameNoCase(h.name, "Content-Id")) {
      if (part->contentId.SetText(h.value)) return kNoMemory;
    } else if (SameNoCase(h.name, "Content-Disposition")) {
      if (part->disposition.SetText(h.value) || part->dispositionParams.SetText(h.params)) return kNoMemory;
      if (const char* f = FindParam(h.params, "filename=", false, false))
        if (DecodedParamValue(f, part->filename)) return kNoMemory;
      if (const char* n = FindParam(h.params, "name=", true, true))
        if (DecodedParamValue(n, part->name)) return kNoMemory;
    }
  }
  return 0;
}

int CMIME::Decode(int act) {
  MyStream* in;
  int r;
  if (act == kMIMEDecodeFile) {
    MyFileStream* f = CorvNew<MyFileStream>(nullptr, false, 0, nullptr, nullptr, short(0));
    if (!f) return kNoMemory;
    in = f;
    r = f->Open(message.Text(), GENERIC_READ, 1, 0);
  } else {
    in = CorvNew<MyStringStream>(message.Text(), message.Length(), nullptr, nullptr, short(0));
    if (!in) return kNoMemory;
    r = in->Open(nullptr, 0, 1, 0);
  }
  if (r) {
    if (r != kNoMemory) SetFixedErrorText(StreamErrorText(r));
    CorvDelete(in);
    return r;
  }
  struct Closer {
    MyStream* s;
    ~Closer() { CorvDelete(s); }
  } closer{in};

  if (parts.SetCount(0)) return kNoMemory;
  boundary.Set(0u);

  char line[kLinePiece];
  if (messageHeaders.IsEmpty()) {
    bool lineStart = true;
    for (;;) {
      DWORD n = in->ReadLine(line, kTopPiece);
      if (n == 0) break;
      if (lineStart && IsEmptyLine(line, n)) break;
      if (AppendHeaderPiece(messageHeaders, line, n)) return kNoMemory;
      lineStart = line[n - 1] == '\n';
    }
    if (int e = in->TakeError()) return e;
    // A last line cut by the end of the source still ends in CR LF.
    if (!messageHeaders.IsEmpty() &&
        messageHeaders.Text()[messageHeaders.Length() - 1] != '\n' && messageHeaders.Append("\r\n"))
      return kNoMemory;
  }
  const DWORD afterHeaders = in->position;
  if ((r = ParseTopHeaders()) != 0) return r;

  if (!boundary.IsEmpty()) {
    if (parts.Count() == 0 && parts.SetCount(1)) return kNoMemory;
    enum { kPreamble, kPartHeaders, kBody } state = kPreamble;
    int index = -1;
    DWORD bodyStart = 0, bodyLength = 0, trailing = 0;
    const DWORD b = boundary.Length();
    // Room for a whole delimiter line however long the boundary is.
    DynStr big;
    char* buf = line;
    DWORD room = kLinePiece;
    if (b + 8 > room) {
      if (big.Set(b + 8)) return kNoMemory;
      buf = big.Text();
      room = b + 8;
    }
    bool lineStart = true;
    char lastByte = 0;
    for (;;) {
      DWORD n = in->ReadLine(buf, room);
      if (n == 0) break;
      const bool wasLineStart = lineStart;
      lineStart = buf[n - 1] == '\n';
      if (wasLineStart && n >= b + 2 && buf[0] == '-' && buf[1] == '-' &&
          std::memcmp(buf + 2, boundary.Text(), b) == 0) {
        if (state != kPreamble && index >= 0) {
          CMIMEPart* part = parts[index];
          part->offset = static_cast<int>(bodyStart);
          part->rawLength = static_cast<int>(bodyLength - trailing);
          part->size = static_cast<int>(Estimate(part->encoding, bodyLength));
        }
        if (n >= b + 4 && buf[b + 2] == '-' && buf[b + 3] == '-') break;
        ++index;
        if (parts.SetCount(index + 1)) return kNoMemory;
        bodyStart = bodyLength = trailing = 0;
        state = kPartHeaders;
        continue;
      }
      if (state == kPartHeaders) {
        CMIMEPart* part = parts[index];
        if (wasLineStart && IsEmptyLine(buf, n)) {
          bodyStart = in->position;
          state = kBody;
          if ((r = ParsePartHeaders(part)) != 0) return r;
        } else if (AppendHeaderPiece(part->headers, buf, n)) {
          return kNoMemory;
        }
      } else if (state == kBody) {
        bodyLength += n;
        // Line-break bytes among the last two bytes of the line, across pieces.
        char last2[2] = {n >= 2 ? buf[n - 2] : (wasLineStart ? char(0) : lastByte), buf[n - 1]};
        trailing = 0;
        for (char c : last2)
          if (c == '\r' || c == '\n') ++trailing;
      }
      lastByte = buf[n - 1];
    }
    return in->TakeError();
  }
  if (parts.Count() == 1) {
    CMIMEPart* p0 = parts[0];
    p0->offset = static_cast<int>(afterHeaders);
    DWORD rest = in->size - afterHeaders;
    p0->rawLength = static_cast<int>(rest);
    p0->size = static_cast<int>(Estimate(p0->encoding, rest));
    return 0;
  }
  SetFixedErrorText("No MIME-boundary found");
  return kMIMENoBoundary;
}
