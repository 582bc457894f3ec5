#include "corv/http/WebForm.h"

#include <cstdio>
#include <cstring>

#include "corv/http/EngineSink.h"

namespace {

constexpr const char* kBusyText = "Busy performing current action.";
constexpr const char* kBadPartText = "Invalid PartIdx";
constexpr const char* kURLEncodedType = "application/x-www-form-urlencoded";
constexpr const char* kMultipartType = "multipart/form-data";
constexpr char kDispositionLine[] = "Content-Disposition: form-data; name=\"";

// Percent-encodes n bytes; a NUL inside is kept as "%00" instead of ending the text.
int AppendEncoded(DynStr& out, const char* data, std::uint32_t n) {
  std::uint32_t i = 0;
  for (;;) {
    const std::uint32_t run = static_cast<std::uint32_t>(std::strlen(data + i));
    const std::uint32_t end = run < n - i ? i + run : n;
    if (end > i) {
      // AppendURLEncoded reads up to the NUL that the list stores after every entry or that
      // ends this run.
      if (out.AppendURLEncoded(data + i) != 0) return CORV_OUT_OF_MEMORY;
    }
    if (end >= n) return 0;
    if (out.Append("%00") != 0) return CORV_OUT_OF_MEMORY;
    i = end + 1;
  }
}

// A name in a quoted header parameter: CR, LF and the double quote would end the parameter or
// the header line, so they are written as %0D, %0A and %22.
int AppendQuotedName(DynStr& out, const char* data, std::uint32_t n) {
  std::uint32_t from = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const char c = data[i];
    const char* esc = c == '\r' ? "%0D" : c == '\n' ? "%0A" : c == '"' ? "%22" : nullptr;
    if (!esc) continue;
    if (out.Append(data + from, i - from) != 0 || out.Append(esc) != 0) return CORV_OUT_OF_MEMORY;
    from = i + 1;
  }
  return out.Append(data + from, n - from) != 0 ? CORV_OUT_OF_MEMORY : 0;
}

// Leaves Busy and InSubmit as they were before the submit, however it ends.
class SubmitScope {
 public:
  SubmitScope(std::uint8_t& busy, bool& inSubmit, std::uint8_t action)
      : m_busy(busy), m_inSubmit(inSubmit) {
    m_busy = action;
    m_inSubmit = true;
  }
  ~SubmitScope() {
    m_busy = 0;
    m_inSubmit = false;
  }
  SubmitScope(const SubmitScope&) = delete;
  SubmitScope& operator=(const SubmitScope&) = delete;

 private:
  std::uint8_t& m_busy;
  bool& m_inSubmit;
};

}  // namespace

CWebForm::CWebForm() : Busy(0), Encoding(kWebFormURLEncoded), InSubmit(false) {}

CWebForm::~CWebForm() = default;

int CWebForm::Init() {
  Busy = 0;
  Encoding = kWebFormURLEncoded;
  if (!Mime.Window && !Mime.Init(true)) return 0;
  if (!CHTTP::Init()) return 0;
  return SetEncoding(kWebFormURLEncoded) == 0 ? 1 : 0;
}

int CWebForm::SetEncoding(int encoding) {
  Encoding = static_cast<std::uint8_t>(encoding);
  switch (Encoding) {
    case kWebFormURLEncoded:
      return ContentType.SetText(kURLEncodedType) != 0 ? SetErrorText(CORV_OUT_OF_MEMORY) : 0;
    case kWebFormMultipart:
      return ContentType.SetText(kMultipartType) != 0 ? SetErrorText(CORV_OUT_OF_MEMORY) : 0;
    case kWebFormQueryString:
      ContentType.Set(0u);
      return 0;
    default:
      return 0;
  }
}

int CWebForm::AddFormVar(const char* name, const char* value) {
  const std::uint32_t count = FormVarNames.Count();
  // A values list cut short by the count writer must not pair this value with an older name.
  if (FormVarValues.Count() < count && FormVarValues.SetCount(count) != 0) {
    return SetErrorText(CORV_OUT_OF_MEMORY);
  }
  if (FormVarNames.Append(name) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
  if (FormVarValues.Count() > count) {
    // A values list longer than the names: the value takes the slot of the new name.
    if (FormVarValues.Set(count, value) == 0) return 0;
  } else if (FormVarValues.Append(value) == 0) {
    return 0;
  }
  FormVarNames.SetCount(count);
  return SetErrorText(CORV_OUT_OF_MEMORY);
}

int CWebForm::Reset() { return DoAction(kWebFormReset); }

int CWebForm::DoAction(int action) {
  if (action != kWebFormIdle && (Busy != 0 || InSubmit)) {
    // Also after an interrupt: the outer submit is still sending from PostData.
    SetFixedErrorText(kBusyText);
    return WEBFORM_BUSY;
  }
  if (action == kWebFormIdle) {
    Busy = 0;
    return CHTTP::DoAction(0);
  }
  if (action == kWebFormReset) {
    ClearErrorText();
    FormVarNames.Clear();
    FormVarValues.Clear();
    return CHTTP::DoAction(4);
  }
  return Submit(action);
}

int CWebForm::Submit(int action) {
  ClearErrorText();
  PostData.Set(0u);
  SubmitScope scope(Busy, InSubmit, static_cast<std::uint8_t>(action));
  switch (Encoding) {
    case kWebFormURLEncoded:
      return SubmitURLEncoded();
    case kWebFormMultipart:
      return SubmitMultipart();
    case kWebFormQueryString:
      return SubmitQueryString();
    default:
      return 0;
  }
}

int CWebForm::AppendPairs(DynStr& out) const {
  const std::uint32_t count = FormVarNames.Count();
  for (std::uint32_t i = 0; i < count; ++i) {
    if (AppendEncoded(out, FormVarNames.Get(i), FormVarNames.GetLength(i)) != 0 ||
        out.Append("=") != 0 ||
        AppendEncoded(out, FormVarValues.Get(i), FormVarValues.GetLength(i)) != 0 ||
        (i + 1 < count && out.Append("&") != 0)) {
      return CORV_OUT_OF_MEMORY;
    }
  }
  return 0;
}

int CWebForm::SubmitURLEncoded() {
  if (AppendPairs(PostData) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
  return CHTTP::DoAction(2);
}

int CWebForm::SubmitQueryString() {
  DynStr target;
  if (target.Set(URL.Length(), URL.Text()) != 0 || target.Append("?") != 0 ||
      AppendPairs(target) != 0 || SetURL(target.Text(), false) != 0) {
    return SetErrorText(CORV_OUT_OF_MEMORY);
  }
  return CHTTP::DoAction(1);
}

int CWebForm::MimeFailed(int code) {
  if (code == CORV_OUT_OF_MEMORY) return SetErrorText(code);
  std::snprintf(ErrorBuffer, sizeof ErrorBuffer, "%s", Mime.GetErrorText());
  ErrorText = ErrorBuffer;
  return code;
}

int CWebForm::SubmitMultipart() {
  const std::uint32_t count = FormVarNames.Count();
  int r = Mime.DoAction(kMIMEReset);
  if (r != 0) return MimeFailed(r);
  if (count > 0xFFFF) {
    // The MIME engine numbers its parts in 16 bits: a later variable would overwrite an
    // earlier part.
    SetFixedErrorText(kBadPartText);
    return WEBFORM_BAD_PART;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    // Each part is made just before it is filled, while its memory is still in the cache.
    if (Mime.parts.SetCount(static_cast<int>(i + 1)) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
    CMIMEPart* part = Mime.parts.Get(static_cast<int>(i));
    if (!part) {
      SetFixedErrorText(kBadPartText);
      return WEBFORM_BAD_PART;
    }
    // The header block is replaced whole right below, so it is not built here first.
    r = Mime.SetPartData(static_cast<WORD>(i), FormVarValues.Get(i), FormVarValues.GetLength(i),
                         false);
    if (r != 0) return MimeFailed(r);
    part->encoding = kEncoding7Bit;  // the value goes out unchanged
    if (part->headers.Set(sizeof kDispositionLine - 1, kDispositionLine) != 0 ||
        AppendQuotedName(part->headers, FormVarNames.Get(i), FormVarNames.GetLength(i)) != 0 ||
        part->headers.Append("\"\r\n", 3) != 0) {
      return SetErrorText(CORV_OUT_OF_MEMORY);
    }
  }
  if (Mime.parts.Count() < 2 && Mime.parts.SetCount(2) != 0) return SetErrorText(CORV_OUT_OF_MEMORY);
  if ((r = Mime.DoAction(kMIMEEncodeString)) != 0) return MimeFailed(r);
  if (PostData.Set(Mime.message.Length(), Mime.message.Text()) != 0) {
    Mime.message.Clear();
    return SetErrorText(CORV_OUT_OF_MEMORY);
  }
  Mime.message.Clear();
  if (ContentType.SetText("multipart/form-data; boundary=\"") != 0 ||
      ContentType.Append(Mime.boundary.Text(), Mime.boundary.Length()) != 0 ||
      ContentType.Append("\"") != 0) {
    return SetErrorText(CORV_OUT_OF_MEMORY);
  }
  return CHTTP::DoAction(2);
}

// ---- events ----

int CWebForm::FireConnected(WORD code, const char* text) {
  engine_sink::Connected(Sink(), code, text);
  return 0;
}

int CWebForm::FireDisconnected(WORD code, const char* text) {
  engine_sink::Disconnected(Sink(), code, text);
  return 0;
}

int CWebForm::FireError(WORD code, const char* text) {
  engine_sink::Error(Sink(), code, text);
  return 0;
}

int CWebForm::FireHeader(const char* field, const char* value) {
  engine_sink::Header(Sink(), field, value);
  return 0;
}

int CWebForm::FireSetCookie(const char* name, const char* value, const char* expires,
                            const char* domain, const char* path, int secure) {
  engine_sink::SetCookie(Sink(), name, value, expires, domain, path, secure);
  return 0;
}

int CWebForm::OnHTTPEndTransfer(std::uint16_t direction) {
  return direction == 1 ? FireEndTransfer() : 0;
}

int CWebForm::OnHTTPStartTransfer(std::uint16_t direction) {
  return direction == 1 ? FireStartTransfer() : 0;
}

int CWebForm::OnHTTPTransfer(std::uint16_t direction, std::uint32_t bytes, const char* text,
                             std::uint16_t length) {
  return direction == 1 ? FireTransfer(bytes, text, length) : 0;
}

int CWebForm::FireEndTransfer() {
  if (Sink()) Sink()->EndTransfer();
  return 0;
}

int CWebForm::FireStartTransfer() {
  if (Sink()) Sink()->StartTransfer();
  return 0;
}

int CWebForm::FireTransfer(std::uint32_t bytes, const char* text, std::uint16_t length) {
  if (WebFormEvts* sink = Sink()) {
    engine_sink::Block(text, length,
                       [&](const char* block, std::uint16_t n) { sink->Transfer(bytes, block, n); });
  }
  return 0;
}
