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
  // The pieces are gathered first and copied once into a block sized for them all, so a
  // failure leaves the old block as it was. Only the parameters need text of their own.
  DynStrJ nameParam, fileParam;
  auto param = [&](DynStrJ& out, const char* pname, const DynStr& v) {
    return out.Append(";") || out.EncodeHeader(pname, v.Text(), v.Length(), mode);
  };
  if ((!part->name.IsEmpty() && param(nameParam, "name", part->name)) ||
      (!part->filename.IsEmpty() && param(fileParam, "filename", part->filename)))
    return 200;

  struct Piece {
    const char* text;
    std::uint32_t length;
  };
  Piece pieces[20];
  int count = 0;
  auto add = [&](const char* text, std::size_t length) {
    pieces[count++] = {text, static_cast<std::uint32_t>(length)};
  };
  auto addText = [&](const char* text) { add(text, std::strlen(text)); };
  auto addString = [&](const DynStr& s) {
    if (!s.IsEmpty()) add(s.Text(), s.Length());
  };
  auto addParams = [&](const DynStr& params) {
    if (params.IsEmpty()) return;
    addText("; ");
    add(params.Text(), params.Length());
  };
  if (!part->contentType.IsEmpty()) {
    addText("Content-Type: ");
    addString(part->contentType);
    addString(nameParam);
    addParams(part->contentTypeParams);
    addText("\r\n");
  }
  if (!part->contentId.IsEmpty()) {
    addText("Content-Id: ");
    addString(part->contentId);
    addText("\r\n");
  }
  if (!part->disposition.IsEmpty()) {
    addText("Content-Disposition: ");
    addString(part->disposition);
    addString(nameParam);
    addString(fileParam);
    addParams(part->dispositionParams);
    addText("\r\n");
  }
  addText("Content-Transfer-Encoding: ");
  addText(TransferEncodingLine(part->encoding));

  std::uint64_t total = 0;
  for (int i = 0; i < count; ++i) total += pieces[i].length;
  if (total > 0xFFFFFFF0u || part->headers.Set(static_cast<std::uint32_t>(total))) return 200;
  char* at = part->headers.Text();
  for (int i = 0; i < count; ++i) {
    std::memcpy(at, pieces[i].text, pieces[i].length);
    at += pieces[i].length;
  }
  return 0;
}
