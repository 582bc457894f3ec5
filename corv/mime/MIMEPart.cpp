#include "corv/mime/MIMEPart.h"

#include "corv/mime/DynStrJ.h"

namespace {
const char* const kEncodingLines[] = {"7bit\r\n",   "quoted-printable\r\n", "base64\r\n",
                                      "8bit\r\n",   "binary\r\n",           "unknown\r\n"};
constexpr int kEncodingNames = 6;

unsigned char Upper(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }
}  // namespace

const char* TransferEncodingLine(int index) {
  if (index < 0 || index >= kEncodingNames) index = kEncodingUnknown;
  return kEncodingLines[index];
}

int EncodingIndex(const char* value) {
  if (!value) value = "";
  std::size_t n = std::strlen(value);
  for (int i = 0; i < kEncodingNames; ++i) {
    const char* name = kEncodingLines[i];
    std::size_t k = 0;
    while (k < n && name[k] != '\r' &&
           Upper(static_cast<unsigned char>(name[k])) == Upper(static_cast<unsigned char>(value[k])))
      ++k;
    if (k == n) return i;
  }
  return kEncodingUnrecognised;
}

int CMIMEPart::BuildHeaders(CMIMEPart* part, int mode) {
  DynStrJ h;
  auto param = [&](const char* pname, const DynStr& v) {
    return h.Append(";") || h.EncodeHeader(pname, v.Text(), v.Length(), mode);
  };
  bool fail = false;
  if (!part->contentType.IsEmpty()) {
    fail = fail || h.Append("Content-Type: ") ||
           h.Append(part->contentType.Text(), part->contentType.Length());
    if (!part->name.IsEmpty()) fail = fail || param("name", part->name);
    if (!part->contentTypeParams.IsEmpty())
      fail = fail || h.Append("; ") ||
             h.Append(part->contentTypeParams.Text(), part->contentTypeParams.Length());
    fail = fail || h.Append("\r\n");
  }
  if (!part->contentId.IsEmpty())
    fail = fail || h.Append("Content-Id: ") ||
           h.Append(part->contentId.Text(), part->contentId.Length()) || h.Append("\r\n");
  if (!part->disposition.IsEmpty()) {
    fail = fail || h.Append("Content-Disposition: ") ||
           h.Append(part->disposition.Text(), part->disposition.Length());
    if (!part->name.IsEmpty()) fail = fail || param("name", part->name);
    if (!part->filename.IsEmpty()) fail = fail || param("filename", part->filename);
    if (!part->dispositionParams.IsEmpty())
      fail = fail || h.Append("; ") ||
             h.Append(part->dispositionParams.Text(), part->dispositionParams.Length());
    fail = fail || h.Append("\r\n");
  }
  fail = fail || h.Append("Content-Transfer-Encoding: ") ||
         h.Append(TransferEncodingLine(part->encoding));
  if (fail || part->headers.Set(h.Length(), h.Text())) return 200;
  return 0;
}
