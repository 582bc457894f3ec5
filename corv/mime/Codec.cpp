#include "corv/mime/Codec.h"

#include <cstring>

namespace {
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kHex[] = "0123456789ABCDEF";
constexpr DWORD kWorkSize = 1024;
constexpr DWORD kBase64Line = 54;

// A write failed: the stream's stored code says why (a file stream answers -1 itself).
int WriteFailure(MyStream* output, int r) { return output->error ? output->error : r; }

// Ends an encoder: the first failure, else the input's, else the output's stored error.
int FinishEncoder(MyStream* input, MyStream* output, int failure) {
  int in = input->TakeError();
  int out = output->TakeError();
  int result = failure ? failure : in ? in : out;
  if (result) input->completed = false;
  return result;
}

// Output of the quoted-printable encoder, handed on in blocks.
class Stage {
 public:
  explicit Stage(MyStream* out) : out_(out) {}
  void Put(char c) {
    buf_[n_++] = c;
    if (n_ >= sizeof buf_ - 8) Flush();
  }
  void Put2(char a, char b) {
    Put(a);
    Put(b);
  }
  void Hex(BYTE b) {
    Put('=');
    Put(kHex[b >> 4]);
    Put(kHex[b & 15]);
  }
  int Flush() {
    if (n_ && failure_ == 0) {
      int r = out_->Write(buf_, n_);
      if (r) failure_ = WriteFailure(out_, r);
    }
    n_ = 0;
    return failure_;
  }

 private:
  MyStream* out_;
  char buf_[512];
  DWORD n_ = 0;
  int failure_ = 0;
};
}  // namespace

int EncodeBase64Stream(MyStream* input, MyStream* output, DWORD split) {
  BYTE* work = static_cast<BYTE*>(CorvMalloc(kWorkSize));
  if (!work) return kStreamNoMemory;
  std::memset(work, 0, kWorkSize);
  input->completed = true;
  const std::int64_t limit = split ? std::int64_t(split) - 76 : 0;
  BYTE* in = work;
  char* line = reinterpret_cast<char*>(work + 128);
  int failure = 0;
  for (;;) {
    DWORD n = input->Read(in, kBase64Line);
    if (n == 0) break;
    char* o = line;
    DWORD i = 0;
    for (; i + 3 <= n; i += 3) {
      unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8) | in[i + 2];
      o[0] = kBase64[v >> 18];
      o[1] = kBase64[(v >> 12) & 63];
      o[2] = kBase64[(v >> 6) & 63];
      o[3] = kBase64[v & 63];
      o += 4;
    }
    if (i < n) {
      unsigned v = unsigned(in[i]) << 16;
      if (i + 1 < n) v |= unsigned(in[i + 1]) << 8;
      o[0] = kBase64[v >> 18];
      o[1] = kBase64[(v >> 12) & 63];
      o[2] = i + 1 < n ? kBase64[(v >> 6) & 63] : '=';
      o[3] = '=';
      o += 4;
    }
    *o++ = '\r';
    *o++ = '\n';
    if (int r = output->Write(line, static_cast<DWORD>(o - line))) {
      failure = WriteFailure(output, r);
      break;
    }
    if (split && std::int64_t(output->position) > limit) {
      if (int r = output->NextPart()) {
        failure = r;
        break;
      }
    }
  }
  CorvFree(work);
  return FinishEncoder(input, output, failure);
}

int WriteQPHex(MyStream* output, BYTE byte) {
  output->PutByte(static_cast<BYTE>(kHex[byte >> 4]));
  return output->PutByte(static_cast<BYTE>(kHex[byte & 15]));
}

int EncodeQPStream(MyStream* input, MyStream* output, DWORD split) {
  char* work = static_cast<char*>(CorvMalloc(kWorkSize));
  if (!work) return kStreamNoMemory;
  std::memset(work, 0, kWorkSize);
  input->completed = true;
  const std::int64_t limit = split ? std::int64_t(split) - 76 : 0;
  Stage out(output);
  int failure = 0;
  unsigned col = 0;
  for (;;) {
    DWORD len = input->ReadLine(work, kWorkSize - 1);
    if (len == 0) break;
    if (output->error) {
      failure = output->error;
      break;
    }
    if (split && std::int64_t(output->position) > limit) {
      if (int r = output->NextPart()) {
        failure = r;
        break;
      }
    }
    const BYTE* p = reinterpret_cast<const BYTE*>(work);
    // An escape takes three columns: break the line first when they would pass 75.
    auto escape = [&](BYTE c) {
      if (col > 72) {
        out.Put('=');
        out.Put2('\r', '\n');
        col = 0;
      }
      out.Hex(c);
      col += 3;
    };
    for (DWORD i = 0; i < len; ++i) {
      BYTE c = p[i];
      if (col >= 75) {
        out.Put('=');
        out.Put2('\r', '\n');
        col = 0;
      }
      if (c == '\n') {
        out.Put2('\r', '\n');
        col = 0;
      } else if (c == ' ' || c == '\t') {
        BYTE next = i + 1 < len ? p[i + 1] : 0;
        if (next != 0 && next != '\n') {
          out.Put(static_cast<char>(c));
          col += 1;
        } else {
          // Escaped like any other byte, so the line stays within 76 characters.
          escape(c);
        }
      } else if (c < '!' || c == 127 || c == '=' || c >= 128) {
        escape(c);
      } else {
        out.Put(static_cast<char>(c));
        col += 1;
      }
    }
    if (int r = out.Flush()) {
      failure = r;
      break;
    }
  }
  CorvFree(work);
  return FinishEncoder(input, output, failure);
}

int CopyStream(MyStream* input, MyStream* output) {
  char buf[2048];
  for (;;) {
    DWORD n = input->Read(buf, sizeof buf);
    if (n == 0) break;
    if (int r = output->Write(buf, n)) {
      int e = output->TakeError();
      return e ? e : r;
    }
  }
  // A read that failed is no end of the input.
  return input->TakeError();
}

DWORD Base64EncodedSize(DWORD n) { return (((n + 4) * 4 / 3 + 1) * 56) / 54 + 2; }

DWORD Base64DecodedSize(DWORD n) { return ((n * 71 / 72) * 3) / 4 + 1; }

DWORD QPEncodedSize(DWORD n) {
  DWORD t = 3 * n + 3;
  if (t == 0) return 3;
  if (t <= 65534) return t;
  if (n <= 65534) return 65534;
  return 3 * n / 2;
}

DWORD QPDecodedSize(DWORD n) {
  DWORD t = 16 * n / 15;
  if (t <= 65534) return t < 1023 ? 1023 : t;
  if (n <= 65534) return 65534;
  return 3 * n / 2;
}

std::uint64_t Base64EncodedBound(std::uint64_t n) { return (n + kBase64Line - 1) / kBase64Line * 74; }

// Every byte may take three characters; each soft break ("=" CR LF) follows at least 73.
std::uint64_t QPEncodedBound(std::uint64_t n) { return 3 * n + n / 8 + 8; }

const char* StreamErrorText(int code) {
  static const char* const kTexts[] = {
      "",
      "Short uuencoded file",
      "The closing `end' was not found",
      "Can't create the file for write (illegal name ?)",
      "Can't open the file for read (doesn't exist?)",
      "Can't read from file",
      "Can't write to file (disk full?)",
      "Please supply a filename for uuencoded data",
      "File exists and `Overwrite' was set to `False'",
      "There's not enough space in output string",
      "",
      "Please supply a filename for the encoded data",
      "",
      "",
      "",
      "",
      "The given filename doesn't exist",
      "There are no more files where to read from or write to",
      "The starting `begin' was not found. Is this uuencoded data?",
  };
  if (code < 0 || code >= int(sizeof kTexts / sizeof kTexts[0])) return "";
  return kTexts[code];
}
