#include <string>

#include "corv/core/Alloc.h"
#include "corv/mime/Codec.h"
#include "corv/mime/Stream.h"
#include "platform/win32/file.h"
#include "tests/corv/mime/helpers.h"

using namespace mimetest;

namespace {
// Runs a codec from memory to memory; the input in text mode for quoted-printable.
std::string Encode(int (*codec)(MyStream*, MyStream*, DWORD), std::string in, int* result = nullptr,
                   bool text = false) {
  std::string out(in.size() * 4 + 64, '\0');
  MyStringStream src(in.data(), DWORD(in.size()), nullptr, nullptr, 0);
  MyStringStream dst(out.data(), DWORD(out.size()), nullptr, nullptr, 0);
  src.Open(nullptr, 0, text ? 0 : 1, 0);
  int r = codec(&src, &dst, 0);
  if (result) *result = r;
  out.resize(dst.position);
  return out;
}

std::string B64(const std::string& in) { return Encode(EncodeBase64Stream, in); }
std::string QP(const std::string& in) { return Encode(EncodeQPStream, in, nullptr, true); }

// Longest line of a CR LF text, without its line end.
// coreutils wants the line ends without their CR.
const char kCoreutilsDecode[] = "tr -d '\\r' | base64 -d";

// Compares long byte strings without printing them.
::testing::AssertionResult Same(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  return ::testing::AssertionFailure() << "sizes " << got.size() << " and " << want.size()
                                       << ", first difference at " << i;
}

size_t LongestLine(const std::string& s) {
  size_t best = 0, start = 0;
  for (size_t at; (at = s.find("\r\n", start)) != std::string::npos; start = at + 2)
    best = std::max(best, at - start);
  return best;
}
}  // namespace

TEST(Base64Stream, LinesOf72) {
  EXPECT_EQ(B64(""), "");
  EXPECT_EQ(B64("abc"), "YWJj\r\n");
  std::string l54 = B64(std::string(54, 'x'));
  EXPECT_EQ(l54.size(), 74u);
  EXPECT_EQ(l54.substr(72), "\r\n");
  std::string l55 = B64(std::string(55, 'x'));
  EXPECT_EQ(l55.substr(74), "eA==\r\n");
  EXPECT_EQ(B64("ab"), "YWI=\r\n");
}

TEST(QPStream, Examples) {
  EXPECT_EQ(QP("a=b"), "a=3Db");
  EXPECT_EQ(QP("x \n"), "x=20\r\n");
  EXPECT_EQ(QP("x\t y\n"), "x\t y\r\n");
  EXPECT_EQ(QP(std::string(80, 'a')), std::string(75, 'a') + "=\r\n" + std::string(5, 'a'));
  EXPECT_EQ(QP("\xE9"), "=E9");
  char hex[2];
  MyStringStream h(hex, 2, nullptr, nullptr, 0);
  EXPECT_EQ(WriteQPHex(&h, 0xA7), 0);
  EXPECT_EQ(std::string(hex, 2), "A7");
  EXPECT_EQ(WriteQPHex(&h, 0x01), 9);
  EXPECT_EQ(QP("a\r\nb\r\n"), "a\r\nb\r\n");  // text mode: CR LF arrives as LF
  EXPECT_EQ(QP("\x7f\x01"), "=7F=01");
  // An escape is never split by a soft break: 72 letters then "=" would end at 75.
  EXPECT_EQ(QP(std::string(73, 'a') + "="), std::string(73, 'a') + "=\r\n=3D");
}

TEST(QPStream, EscapedTrailingBlankKeepsTheLineAt76) {
  EXPECT_EQ(QP(std::string(74, 'a') + " \n"), std::string(74, 'a') + "=\r\n=20\r\n");
  std::string text, want;
  for (int k = 60; k <= 80; ++k) {
    for (const char* tail : {" \n", "\t\n"}) {
      text += std::string(k, 'a') + tail;
      want += std::string(k, 'a') + tail[0] + "\r\n";
    }
    // The blank that ends the whole input is escaped too.
    EXPECT_LE(LongestLine(QP(std::string(k, 'a') + " ") + "\r\n"), 76u) << k;
  }
  std::string enc = QP(text);
  EXPECT_LE(LongestLine(enc), 76u);
  EXPECT_EQ(Check("qpdec", enc), want);
}

TEST(QPStream, SoftBreaksKeepLinesAt76) {
  std::string data = RandomBytes(20000, 7);
  std::string enc = Encode(EncodeQPStream, data, nullptr, false);
  EXPECT_LE(LongestLine(enc), 76u);
  EXPECT_LE(enc.size(), QPEncodedBound(data.size()));
}

TEST(Estimators, Values) {
  EXPECT_EQ(QPEncodedSize(100), 303u);
  EXPECT_EQ(QPEncodedSize(30000), 65534u);
  EXPECT_EQ(QPEncodedSize(100000), 150000u);
  EXPECT_EQ(Base64DecodedSize(72), 54u);
  EXPECT_EQ(Base64EncodedSize(54), 82u);
  EXPECT_EQ(QPDecodedSize(15), 1023u);
  EXPECT_EQ(QPDecodedSize(15000), 16000u);
  EXPECT_EQ(QPDecodedSize(65000), 65534u);
}

TEST(Codecs, ErrorsAreReported) {
  EXPECT_STREQ(StreamErrorText(4), "Can't open the file for read (doesn't exist?)");
  EXPECT_STREQ(StreamErrorText(17), "There are no more files where to read from or write to");
  EXPECT_STREQ(StreamErrorText(19), "");
  EXPECT_STREQ(StreamErrorText(-1), "");

  int r = -1;
  std::string in(100, 'x');
  char small[10];
  MyStringStream src(in.data(), 100, nullptr, nullptr, 0);
  MyStringStream dst(small, sizeof small, nullptr, nullptr, 0);
  EXPECT_EQ(EncodeBase64Stream(&src, &dst, 0), 9);
  EXPECT_FALSE(src.completed);
  EXPECT_EQ(dst.error, 0);  // taken by the codec
  MyStringStream src2(in.data(), 100, nullptr, nullptr, 0);
  MyStringStream dst2(small, sizeof small, nullptr, nullptr, 0);
  EXPECT_EQ(CopyStream(&src2, &dst2), 9);
  {
    corv::test::AllocFailureScope fail(0, 1);
    Encode(EncodeQPStream, "abc", &r, true);
  }
  EXPECT_EQ(r, 200);
}

// Every encoder output decodes with tools nobody here wrote, memory to memory and file to
// file alike.
TEST(CodecsInterop, PythonAndCoreutilsDecodeTheOutput) {
  for (size_t n : {0u, 1u, 2u, 3u, 53u, 54u, 55u, 1000u, 70001u}) {
    std::string data = RandomBytes(n, unsigned(n));
    std::string b64 = B64(data);
    EXPECT_TRUE(Same(Check("b64dec", b64), data)) << n;
    EXPECT_TRUE(Same(Filter(kCoreutilsDecode, b64), data)) << n;
    // Quoted-printable carries text: every line break comes out as CR LF.
    for (auto& c : data)
      if (c == '\n') c = 'n';
    std::string qp = Encode(EncodeQPStream, data);
    EXPECT_TRUE(Same(Check("qpdec", qp), data)) << n;
  }
  std::string text = "Gr\xFC\xDF" "e = greetings \t\nline two \n\n" + std::string(200, 'w') + "\n";
  std::string qp = QP(text);
  std::string expect;
  for (char c : text) expect += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(Check("qpdec", qp), expect);
}

TEST(CodecsInterop, FileToFile) {
  TempDir dir;
  std::string data = RandomBytes(300000, 3);
  for (auto& c : data)
    if (c == '\n') c = 'n';
  WriteFile(dir / "in", data);
  for (int kind : {0, 1}) {
    std::string out = dir / ("out" + std::to_string(kind));
    {
      MyFileStream src(nullptr, false, 0, nullptr, nullptr, 0);
      MyFileStream dst(nullptr, false, 0, nullptr, nullptr, 0);
      ASSERT_EQ(src.Open((dir / "in").c_str(), GENERIC_READ, 1, 0), 0);
      ASSERT_EQ(dst.Open(out.c_str(), GENERIC_WRITE, 1, 4096), 0);
      EXPECT_EQ(kind ? EncodeQPStream(&src, &dst, 0) : EncodeBase64Stream(&src, &dst, 0), 0);
    }
    std::string enc = ReadFile(out);
    EXPECT_TRUE(Same(Check(kind ? "qpdec" : "b64dec", enc), data));
    if (!kind) {
      EXPECT_TRUE(Same(Filter(kCoreutilsDecode, enc), data));
    }
  }
}

TEST(Base64Stream, SplitsIntoNumberedFiles) {
  TempDir dir;
  std::string data = RandomBytes(54 * 10, 9);
  WORD counter = 0;
  {
    MyStringStream src(data.data(), DWORD(data.size()), nullptr, nullptr, 0);
    MyFileStream dst(&counter, true, 1, nullptr, nullptr, 0);
    ASSERT_EQ(dst.Open((dir / "part??").c_str(), GENERIC_WRITE, 1, 1024), 0);
    EXPECT_EQ(EncodeBase64Stream(&src, &dst, 76 + 74 * 3), 0);
  }
  std::string all;
  for (int i = 0; i <= counter; ++i) {
    std::string piece = ReadFile(dir / ("part0" + std::to_string(i) + ".B64"));
    EXPECT_LE(piece.size(), 74u * 4) << i;
    all += piece;
  }
  EXPECT_EQ(counter, 2);
  EXPECT_TRUE(Same(Filter(kCoreutilsDecode, all), data));
}
