// The MIME reader on a hostile message (headers, boundaries, part headers, encoded words in
// names), then the writer and its codecs on the same bytes as bodies, read back again.
// Flags: bit 0 reads from a file instead of a string; bit 1 gives the top-level headers
// separately, so the whole input is the body; bit 2 makes the second body quoted-printable
// instead of base64.
#include <cstdio>
#include <cstring>
#include <string>

#include "corv/mime/MIME.h"
#include "fuzz/harness/temp.h"
#include "fuzz/harness/touch.h"

namespace {

using fuzzpeer::Touch;

void Check(const CMIME& mime, std::uint32_t sourceLength) {
  for (int i = 0; i < mime.parts.Count(); ++i) {
    const CMIMEPart* p = mime.parts[i];
    for (const DynStr* s : {&p->contentType, &p->contentId, &p->contentTypeParams, &p->disposition,
                            &p->dispositionParams, &p->filename, &p->name, &p->headers})
      Touch(s->Text(), s->Length() + 1);
    // A body is a slice of the source.
    if (p->offset < 0 || p->rawLength < 0 || static_cast<std::uint32_t>(p->offset) > sourceLength ||
        static_cast<std::uint32_t>(p->rawLength) > sourceLength - p->offset)
      __builtin_trap();
  }
}

std::string Slice(const CMIME& mime, const std::string& source, int i) {
  const CMIMEPart* p = mime.parts[i];
  return source.substr(p->offset, p->rawLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CMIME* mime = [] {
    auto* m = new CMIME;
    m->Init(true);
    return m;
  }();
  if (size == 0) return 0;
  const std::uint8_t f = data[0];
  const char* text = reinterpret_cast<const char*>(data + 1);
  const auto n = static_cast<std::uint32_t>(size - 1);

  // Reading.
  mime->DoAction(5);
  if (f & 2) mime->messageHeaders.SetText("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n");
  if (f & 1) {
    const std::string path = fuzzpeer::TempPath("mime");
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
      std::fwrite(text, 1, n, out);
      std::fclose(out);
    }
    mime->message.SetText(path.c_str());
    mime->DoAction(1);
    std::remove(path.c_str());
  } else {
    mime->message.Set(n, text);
    mime->DoAction(2);
  }
  Touch(mime->GetErrorText());
  Check(*mime, n);

  // Writing: the input as a text body and as a base64 or quoted-printable body.
  mime->DoAction(5);
  mime->parts.SetCount(2);
  mime->SetPartData(0, text, n);
  CMIMEPart* second = mime->parts[1];
  second->encoding = (f & 4) ? kEncodingQP : kEncodingBase64;
  second->contentType.SetText("application/octet-stream");
  second->name.SetText("quotes.csv");
  CMIMEPart::BuildHeaders(second, 0);
  mime->SetPartData(1, text, n);
  const int first = mime->parts[0]->encoding;
  // A boundary the bodies do not hold (a generated one depends on the clock, and the fuzzer
  // learns it from the reader's comparisons within the same millisecond).
  std::string boundary = "=_quotes_0";
  const std::string original(text, n);
  for (int i = 1; original.find(boundary) != std::string::npos; ++i) boundary = "=_quotes_" + std::to_string(i);
  mime->boundary.SetText(boundary.c_str());
  if (mime->DoAction(4) != 0) __builtin_trap();
  const std::string written(mime->message.Text(), mime->message.Length());
  std::string headers(mime->messageHeaders.Text(), mime->messageHeaders.Length());
  headers += "\r\n";

  // Reading back what was written.
  mime->DoAction(5);
  mime->messageHeaders.SetText(headers.c_str());
  mime->message.Set(static_cast<std::uint32_t>(written.size()), written.data());
  if (mime->DoAction(2) != 0 || mime->parts.Count() != 2) __builtin_trap();
  Check(*mime, static_cast<std::uint32_t>(written.size()));
  if ((first == kEncoding7Bit || first == kEncoding8Bit) && Slice(*mime, written, 0) != original) __builtin_trap();
  if (!(f & 4)) {
    DynStr decoded;
    const std::string b64 = Slice(*mime, written, 1);
    decoded.Set(static_cast<std::uint32_t>(b64.size()), b64.data());
    decoded.DecodeBase64();
    if (std::string(decoded.Text(), decoded.Length()) != original) __builtin_trap();
  }
  mime->DoAction(5);
  return 0;
}
