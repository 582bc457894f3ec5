// Japanese text both ways: Shift-JIS to ISO-2022-JP and back, encoded words written and read,
// header parameters, folded headers and address lists, on hostile bytes.
// Flags: bits 0-2 pick the entry the input goes to first (all run every time).
#include <string>

#include "corv/mime/DynStrJ.h"
#include "fuzz/harness/touch.h"

namespace {

using fuzzpeer::Touch;

void Done(const DynStr& s) { Touch(s.Text(), s.Length() + 1); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const char* t = text.c_str();  // the entries that take zero-terminated texts stop at a NUL
  const auto n = static_cast<std::uint32_t>(text.size());

  DynStrJ jis, sjis, word, decoded, header;
  jis.ShiftJISToJIS(text.data(), n);
  Done(jis);
  sjis.JISToShiftJIS(jis.Text(), jis.Length());
  Done(sjis);
  DynStrJ back;
  back.JISToShiftJIS(t);
  Done(back);

  // A word this side wrote reads back as the same conversion.
  word.EncodeWordB(t);
  Done(word);
  decoded.SetDecoded(word.Text());
  Done(decoded);
  if (text.size() <= 40) {
    DynStrJ plain, expect;
    plain.ShiftJISToJIS(t);
    expect.JISToShiftJIS(plain.Text(), plain.Length());
    if (std::string(decoded.Text(), decoded.Length()) != std::string(expect.Text(), expect.Length())) __builtin_trap();
  }

  DynStrJ any;
  any.AppendDecoded(text.data(), n);
  Done(any);
  any.DecodeWordB(text.data(), n);
  any.DecodeWordQ(text.data(), n);
  Done(any);
  header.EncodeHeader("filename", text.data(), n, 1);
  header.EncodeHeader("name", text.data(), n, data[0] & 1);
  Done(header);
  (void)DynStrJ::Has8Bit(text.data(), n);

  DynStrRFC822 folded;
  folded.SetFolded(text.data(), n, 72);
  Done(folded);
  DynStrJRFC822 addresses, plainText;
  addresses.SetAddressList(t, 72, data[0] & 1);
  Done(addresses);
  plainText.SetText(t, 72, data[0] & 1);
  Done(plainText);
  return 0;
}
