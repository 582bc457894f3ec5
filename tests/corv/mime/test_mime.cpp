#include <regex>
#include <string>
#include <vector>

#include "corv/core/Alloc.h"
#include "corv/mime/Codec.h"
#include "corv/mime/MIME.h"
#include "platform/win32/misc.h"
#include "tests/corv/mime/helpers.h"

using namespace mimetest;

namespace {
class Engine : public CMIME {
 public:
  Engine() { EXPECT_EQ(Init(false), 1); }
};

std::string Str(const DynStr& s) { return std::string(s.Text(), s.Length()); }

void SetText(DynStr& s, const std::string& v) { ASSERT_EQ(s.Set(uint32_t(v.size()), v.data()), 0); }

// The whole message: top-level headers, the empty line, the body.
std::string Message(const CMIME& m) {
  std::string h = Str(m.messageHeaders);
  if (h.size() < 2 || h.compare(h.size() - 2, 2, "\r\n") != 0) h += "\r\n";
  return h + "\r\n" + Str(m.message);
}

struct Parsed {
  std::string type, filename, name, body;
};

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// Python's reading of a message: one entry per part.
std::vector<Parsed> PythonParts(const std::string& message) {
  std::string text = Check("parse", message);
  std::vector<Parsed> parts;
  for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
    std::string line = text.substr(at, nl - at);
    std::vector<std::string> f;
    for (size_t a = 0, t;; a = t + 1) {
      t = line.find('\t', a);
      f.push_back(line.substr(a, t == std::string::npos ? t : t - a));
      if (t == std::string::npos) break;
    }
    EXPECT_NE(f[0], "defects") << line;
    if (f.size() == 4) parts.push_back({f[0], Unhex(f[1]), Unhex(f[2]), Unhex(f[3])});
  }
  return parts;
}

struct ProgressSink : MIMEEvts {
  std::vector<int> seen;
  CMIME* nested = nullptr;
  int nestedResult = -1;
  void Progress(WORD p) override {
    seen.push_back(p);
    if (nested) nestedResult = nested->DoAction(kMIMEReset);
  }
};

const char kBanner[] = "MIME-Version: 1.0 (produced by the Corvane MIME Component)\r\n";
}  // namespace

TEST(MIMEParts, SetPartDataChoosesTypeAndEncoding) {
  Engine m;
  ASSERT_EQ(m.parts.SetCount(5), 0);
  EXPECT_EQ(m.SetPartData(0, "abc", 3), 0);
  EXPECT_EQ(m.parts[0]->encoding, 0);
  EXPECT_EQ(Str(m.parts[0]->headers), "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n");
  EXPECT_EQ(m.SetPartData(1, "a\x7f\tb\r\n", 6), 0);
  EXPECT_EQ(m.parts[1]->encoding, 1);
  EXPECT_EQ(m.SetPartData(2, "a\0b", 3), 0);
  EXPECT_EQ(m.parts[2]->encoding, 2);
  EXPECT_EQ(Str(m.parts[2]->contentType), "application/octet-stream");
  EXPECT_EQ(m.SetPartData(3, "\xE9", 1), 0);
  EXPECT_EQ(m.parts[3]->encoding, 2);
  EXPECT_EQ(m.parts[3]->size, 1);

  m.parts[4]->contentType.SetText("text/html");
  EXPECT_EQ(m.SetPartData(4, "\x01\x02", 2), 0);
  EXPECT_EQ(m.parts[4]->encoding, 0);
  EXPECT_EQ(m.parts[4]->headers.Length(), 0u);
  EXPECT_EQ(Str(m.parts[4]->body), "\x01\x02");

  EXPECT_EQ(m.SetPartData(5, "x", 1), 0);
  EXPECT_STREQ(m.GetErrorText(), "Invalid PartIdx");
}

TEST(MIMEParts, HeaderBlocks) {
  CMIMEPart p;
  p.contentType.SetText("application/octet-stream");
  p.disposition.SetText("attachment");
  p.filename.SetText("a.txt");
  p.encoding = 2;
  ASSERT_EQ(CMIMEPart::BuildHeaders(&p, 0), 0);
  EXPECT_EQ(Str(p.headers),
            "Content-Type: application/octet-stream\r\n"
            "Content-Disposition: attachment; filename=\"a.txt\"\r\n"
            "Content-Transfer-Encoding: base64\r\n");

  p.name.SetText("n");
  p.contentId.SetText("<id@x>");
  p.contentTypeParams.SetText("charset=x");
  p.dispositionParams.SetText("size=3");
  p.encoding = 6;  // only the reader sets it; no name in the table
  ASSERT_EQ(CMIMEPart::BuildHeaders(&p, 1), 0);
  EXPECT_EQ(Str(p.headers),
            "Content-Type: application/octet-stream; name=\"n\"; charset=x\r\n"
            "Content-Id: <id@x>\r\n"
            "Content-Disposition: attachment; name=\"n\"; filename=\"a.txt\"; size=3\r\n"
            "Content-Transfer-Encoding: unknown\r\n");
  EXPECT_STREQ(TransferEncodingLine(-3), "unknown\r\n");
  EXPECT_EQ(EncodingIndex("Base64"), 2);
  EXPECT_EQ(EncodingIndex("quoted"), 1);
  EXPECT_EQ(EncodingIndex(""), 0);
  EXPECT_EQ(EncodingIndex("x-uuencode"), 6);
}

TEST(MIMEParts, ContainerGrowsKeepsAndFrees) {
  Container<CMIMEPart> c;
  ASSERT_EQ(c.SetCount(3), 0);
  c[1]->body.SetText("kept");
  ASSERT_EQ(c.SetCount(40), 0);  // the pointers move to the heap
  EXPECT_EQ(Str(c[1]->body), "kept");
  c[39]->name.SetText("last");
  ASSERT_EQ(c.SetCount(2), 0);
  EXPECT_EQ(c.Count(), 2);
  EXPECT_EQ(c[2], nullptr);
  EXPECT_EQ(Str(c[1]->body), "kept");
  {
    corv::test::AllocFailureScope fail(3, 1);  // the fourth new part fails
    EXPECT_EQ(c.SetCount(10), 200);
  }
  EXPECT_EQ(c.Count(), 5);
  ASSERT_EQ(c.SetCount(0), 0);
}

TEST(MIMEEncode, OnePartHasNoDelimiters) {
  Engine m;
  m.parts.SetCount(1);
  m.SetPartData(0, "hello", 5);
  ASSERT_EQ(m.DoAction(kMIMEEncodeString), 0);
  EXPECT_EQ(Str(m.message), "hello");
  EXPECT_EQ(Str(m.messageHeaders),
            std::string(kBanner) + "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n");
  EXPECT_EQ(Str(m.contentType), "text/plain");
}

TEST(MIMEEncode, TwoEmptyPartsByteForByte) {
  Engine m;
  m.boundary.SetText("B");
  m.parts.SetCount(2);
  m.SetPartData(0, "", 0);
  m.SetPartData(1, "", 0);
  ASSERT_EQ(m.DoAction(kMIMEEncodeString), 0);
  const std::string h = "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n";
  EXPECT_EQ(Str(m.message), "--B\r\n" + h + "\r\n\r\n--B\r\n" + h + "\r\n\r\n--B--\r\n");
  EXPECT_EQ(Str(m.messageHeaders),
            std::string(kBanner) + "Content-Type: multipart/mixed; boundary=\"B\"");
  EXPECT_EQ(Str(m.contentTypeParams), "boundary=\"B\"");
}

TEST(MIMEEncode, GeneratedBoundary) {
  Engine m;
  m.alwaysMultipart = 1;
  m.parts.SetCount(1);
  m.SetPartData(0, "x", 1);
  ASSERT_EQ(m.DoAction(kMIMEEncodeString), 0);
  std::string b = Str(m.boundary);
  EXPECT_EQ(b.rfind("--boundary.corv.", 0), 0u) << b;
  // Year (4 digits), month (2), then day of week, day, hour, minute and second unpadded.
  std::smatch f;
  ASSERT_TRUE(std::regex_match(b, f, std::regex(R"(--boundary\.corv\.(\d{4})(\d{2})\d{5,9}\.\d+)"))) << b;
  SYSTEMTIME now;
  GetSystemTime(&now);
  EXPECT_EQ(std::stoi(f[1]), now.wYear);
  EXPECT_EQ(std::stoi(f[2]), now.wMonth);
  EXPECT_EQ(Str(m.message).rfind("----boundary.corv.", 0), 0u);
  // A second encode without a reset keeps the boundary.
  ASSERT_EQ(m.DoAction(kMIMEEncodeString), 0);
  EXPECT_EQ(Str(m.boundary), b);
  ASSERT_EQ(m.DoAction(kMIMEReset), 0);
  EXPECT_EQ(m.parts.Count(), 0);
  EXPECT_EQ(m.boundary.Length() + m.message.Length() + m.messageHeaders.Length(), 0u);
}

// A message with every kind of body, read back by Python's email package.
TEST(MIMEInterop, PythonReadsEveryPart) {
  TempDir dir;
  std::string fileData = RandomBytes(100000, 11);
  WriteFile(dir / "attach.bin", fileData);
  std::string binary = RandomBytes(5000, 12);
  std::string text = "Hello, world\r\nsecond line \r\n";
  std::string qp = "caf\xE9 = tr\xE8s \t\r\n" + std::string(200, 'x') + "\r\nend\t\r\n\x7f";
  std::string jname = "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x74\x83\x40\x83\x43\x83\x8B\x96\xBC"
                      "\x82\xC5\x82\xB7\x81\x42\x92\xB7\x82\xA2\x96\xBC\x91\x4F\x82\xC5\x82\xB7.txt";

  for (int act : {kMIMEEncodeString, kMIMEEncodeFile}) {
    Engine m;
    m.CharsetMode = 1;
    ASSERT_EQ(m.parts.SetCount(5), 0);
    m.SetPartData(0, text.data(), uint32_t(text.size()));
    m.SetPartData(1, binary.data(), uint32_t(binary.size()));
    m.parts[1]->disposition.SetText("attachment");
    m.parts[1]->filename.SetText("data.bin");
    CMIMEPart::BuildHeaders(m.parts[1], 1);
    m.parts[2]->encoding = 1;
    m.parts[2]->contentType.SetText("text/plain");
    m.SetPartData(2, qp.data(), uint32_t(qp.size()));
    CMIMEPart::BuildHeaders(m.parts[2], 1);
    m.parts[3]->sourceFile.SetText((dir / "attach.bin").c_str());
    m.parts[3]->encoding = 2;
    m.parts[3]->contentType.SetText("application/octet-stream");
    CMIMEPart::BuildHeaders(m.parts[3], 1);
    m.SetPartData(4, "tiny", 4);
    m.parts[4]->name.SetText(jname.c_str());
    m.parts[4]->filename.SetText(jname.c_str());
    m.parts[4]->disposition.SetText("attachment");
    CMIMEPart::BuildHeaders(m.parts[4], 1);
    EXPECT_NE(Str(m.parts[4]->headers).find("=?ISO-2022-JP?B?"), std::string::npos);

    std::string out = dir / "out.eml";
    if (act == kMIMEEncodeFile) SetText(m.message, out);
    ASSERT_EQ(m.DoAction(act), 0) << m.GetErrorText();
    if (act == kMIMEEncodeFile) SetText(m.message, ReadFile(out));

    std::vector<Parsed> got = PythonParts(Message(m));
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].type, "text/plain");
    EXPECT_EQ(got[0].body, text);
    EXPECT_EQ(got[1].type, "application/octet-stream");
    EXPECT_EQ(got[1].filename, "data.bin");
    EXPECT_TRUE(got[1].body == binary);
    EXPECT_EQ(got[2].body, qp);
    EXPECT_TRUE(got[3].body == fileData);
    EXPECT_EQ(got[4].body, "tiny");
    EXPECT_EQ(got[4].filename, jname);
    EXPECT_EQ(got[4].name, jname);

    // And the engine reads its own message back: bodies where they were written.
    Engine r;
    SetText(r.message, Message(m));
    ASSERT_EQ(r.DoAction(kMIMEDecodeString), 0) << r.GetErrorText();
    ASSERT_EQ(r.parts.Count(), 5);
    std::string msg = Str(r.message);
    EXPECT_EQ(msg.substr(r.parts[0]->offset, r.parts[0]->rawLength), text);
    EXPECT_EQ(r.parts[1]->encoding, 2);
    EXPECT_EQ(Str(r.parts[1]->filename), "data.bin");
    EXPECT_TRUE(Check("b64dec", msg.substr(r.parts[3]->offset, r.parts[3]->rawLength)) == fileData);
    EXPECT_EQ(Str(r.parts[4]->name), jname);
    EXPECT_EQ(Str(r.parts[4]->filename), jname);
  }
}

TEST(MIMEInterop, SinglePartBase64AndQuotedPrintable) {
  for (int enc : {1, 2}) {
    Engine m;
    m.parts.SetCount(1);
    m.parts[0]->encoding = enc;
    m.parts[0]->contentType.SetText("application/x-test");
    std::string data = "line one\r\nline = two \r\n" + RandomBytes(300, 5);
    for (auto& c : data)
      if (c == '\n' || c == '\r') c = '.';
    m.SetPartData(0, data.data(), uint32_t(data.size()));
    CMIMEPart::BuildHeaders(m.parts[0], 0);
    ASSERT_EQ(m.DoAction(kMIMEEncodeString), 0);
    std::vector<Parsed> got = PythonParts(Message(m));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].body, data);
  }
}

TEST(MIMEEncode, StringRoomIsAnUpperBound) {
  // Every byte escaped: about 3.1 times the input, more than the estimator allows.
  Engine m;
  m.parts.SetCount(2);
  std::string all8bit(20000, '\xFF');
  m.parts[0]->encoding = 1;
  m.parts[0]->contentType.SetText("text/plain");
  m.SetPartData(0, all8bit.data(), uint32_t(all8bit.size()));
  CMIMEPart::BuildHeaders(m.parts[0], 0);
  TempDir dir;
  WriteFile(dir / "f", RandomBytes(70000, 1));
  m.parts[1]->sourceFile.SetText((dir / "f").c_str());
  m.parts[1]->contentType.SetText("application/octet-stream");
  CMIMEPart::BuildHeaders(m.parts[1], 0);  // copied unchanged: sized by the file
  ASSERT_EQ(m.DoAction(kMIMEEncodeString), 0) << m.GetErrorText();
  std::vector<Parsed> got = PythonParts(Message(m));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(got[0].body == all8bit);
  EXPECT_EQ(got[1].body.size(), 70000u);
}

TEST(MIMEEncode, LongBoundary) {
  Engine m;
  m.boundary.SetText(std::string(300, 'b').c_str());
  m.parts.SetCount(2);
  m.SetPartData(0, "one", 3);
  m.SetPartData(1, "two", 3);
  ASSERT_EQ(m.DoAction(kMIMEEncodeString), 0);
  std::vector<Parsed> got = PythonParts(Message(m));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].body, "two");

  Engine r;
  SetText(r.message, Message(m));
  ASSERT_EQ(r.DoAction(kMIMEDecodeString), 0);
  ASSERT_EQ(r.parts.Count(), 2);
  EXPECT_EQ(Str(r.message).substr(r.parts[1]->offset, r.parts[1]->rawLength), "two");
}

TEST(MIMEEncode, Failures) {
  TempDir dir;
  Engine m;
  m.parts.SetCount(2);
  m.SetPartData(0, "a", 1);
  m.parts[1]->sourceFile.SetText((dir / "missing").c_str());
  EXPECT_EQ(m.DoAction(kMIMEEncodeString), 4);
  EXPECT_STREQ(m.GetErrorText(), "Can't open the file for read (doesn't exist?)");
  EXPECT_EQ(m.action, 0);

  m.parts.SetCount(1);
  SetText(m.message, dir / "no/such/folder/out");
  EXPECT_EQ(m.DoAction(kMIMEEncodeFile), 3);
  EXPECT_STREQ(m.GetErrorText(), "Can't create the file for write (illegal name ?)");

  if (fs::exists("/dev/full")) {
    m.parts.SetCount(1);
    std::string big = RandomBytes(600000, 2);
    m.SetPartData(0, big.data(), uint32_t(big.size()));
    SetText(m.message, "/dev/full");
    EXPECT_EQ(m.DoAction(kMIMEEncodeFile), 6);
  }

  for (unsigned skip = 0; skip < 12; ++skip) {
    Engine e;
    e.parts.SetCount(2);
    e.SetPartData(0, "abc", 3);
    e.SetPartData(1, "\x01\x02", 2);
    int r;
    {
      corv::test::AllocFailureScope fail(skip, 1);
      r = e.DoAction(kMIMEEncodeString);
    }
    EXPECT_TRUE(r == 0 || r == 200) << skip << " gave " << r;
  }
}

TEST(MIMEEncode, ProgressOverParts) {
  Engine m;
  ProgressSink sink;
  m.EventSink = &sink;
  m.parts.SetCount(2);
  std::string a(100, 'a');
  m.SetPartData(0, a.data(), 100);
  m.SetPartData(1, a.data(), 100);
  ASSERT_EQ(m.DoAction(kMIMEEncodeString), 0);
  EXPECT_EQ(sink.seen, (std::vector<int>{0, 25, 50, 50, 75, 100}));

  // Marks that 100 is no multiple of reach the sink for the part they belong to.
  ProgressSink three;
  Engine e3;
  e3.EventSink = &three;
  e3.parts.SetCount(3);
  std::string bin(100, '\x01');  // base64: the encoder asks for the final marks
  for (WORD i = 0; i < 3; ++i) e3.SetPartData(i, bin.data(), 100);
  ASSERT_EQ(e3.DoAction(kMIMEEncodeString), 0);
  EXPECT_EQ(three.seen, (std::vector<int>{0, 11, 22, 33, 33, 33, 44, 55, 66, 66, 66, 77, 88, 99, 99}));

  // A handler that starts another action while one runs is refused.
  sink.nested = &m;
  EXPECT_EQ(m.DoAction(kMIMEEncodeString), 0);
  EXPECT_EQ(sink.nestedResult, 284);
  EXPECT_EQ(m.parts.Count(), 2);
  m.EventSink = nullptr;
  EXPECT_EQ(m.DoAction(kMIMENone), 0);
  EXPECT_EQ(m.DoAction(9), 0);
}

TEST(MIMEDecode, KnownMessageOffsets) {
  const std::string msg =
      "MIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"XYZ\"\r\n"
      "\r\n"
      "preamble\r\n"
      "--XYZ\r\n"
      "Content-Type: text/plain\r\n"
      "\r\n"
      "hello\r\n"
      "world\r\n"
      "--XYZ\r\n"
      "Content-Type: application/octet-stream;\r\n"
      "\tname=\"a.bin\"\r\n"
      "Content-Transfer-Encoding: Base64\r\n"
      "X-Other: kept\r\n"
      "\r\n"
      "YWJj\r\n"
      "--XYZ--\r\n"
      "epilogue\r\n";
  TempDir dir;
  WriteFile(dir / "m", msg);
  for (int act : {kMIMEDecodeString, kMIMEDecodeFile}) {
    Engine m;
    SetText(m.message, act == kMIMEDecodeString ? msg : dir / "m");
    ASSERT_EQ(m.DoAction(act), 0) << m.GetErrorText();
    EXPECT_EQ(Str(m.boundary), "XYZ");
    EXPECT_EQ(Str(m.contentType), "multipart/mixed");
    EXPECT_EQ(Str(m.messageHeaders),
              "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"XYZ\"\r\n");
    ASSERT_EQ(m.parts.Count(), 2);
    CMIMEPart* p0 = m.parts[0];
    EXPECT_EQ(p0->offset, 113);
    EXPECT_EQ(p0->rawLength, 12);
    EXPECT_EQ(p0->size, 14);
    EXPECT_EQ(Str(p0->contentType), "text/plain");
    CMIMEPart* p1 = m.parts[1];
    EXPECT_EQ(p1->offset, int(msg.find("YWJj")));
    EXPECT_EQ(p1->rawLength, 4);
    EXPECT_EQ(p1->encoding, 2);
    EXPECT_EQ(p1->size, int(Base64DecodedSize(6)));
    EXPECT_EQ(Str(p1->name), "a.bin");
    EXPECT_EQ(Str(p1->headers),
              "Content-Type: application/octet-stream;\r\n\tname=\"a.bin\"\r\n"
              "Content-Transfer-Encoding: Base64\r\nX-Other: kept\r\n");
  }
}

// A message Python's email package writes: the engine finds every body where Python put it.
TEST(MIMEDecode, PythonWrittenMessage) {
  std::string attachment = RandomBytes(3000, 21);
  std::string msg = Check("pymsg", attachment);
  Engine m;
  SetText(m.message, msg);
  ASSERT_EQ(m.DoAction(kMIMEDecodeString), 0) << m.GetErrorText();
  ASSERT_EQ(m.parts.Count(), 3);
  auto body = [&](int i) { return msg.substr(m.parts[i]->offset, m.parts[i]->rawLength); };
  EXPECT_EQ(body(0), "plain text body\r\nsecond line\r\n");
  EXPECT_EQ(m.parts[1]->encoding, 1);
  std::string qp;
  for (int i = 0; i < 8; ++i) qp += "caf\xC3\xA9 na\xC3\xAFve = r\xC3\xA9sum\xC3\xA9 \t\r\n";
  EXPECT_EQ(Check("qpdec", body(1)), qp);
  EXPECT_EQ(m.parts[2]->encoding, 2);
  EXPECT_TRUE(Check("b64dec", body(2)) == attachment);
  EXPECT_EQ(Str(m.parts[2]->filename),
            "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x74\x83\x40\x83\x43\x83\x8b.bin");
  EXPECT_EQ(Str(m.parts[2]->disposition), "attachment");
}

TEST(MIMEDecode, HeadersAndEdges) {
  auto decode = [](const std::string& msg, int* result) {
    auto m = std::make_unique<Engine>();
    SetText(m->message, msg);
    *result = m->DoAction(kMIMEDecodeString);
    return m;
  };
  int r;
  auto ok = decode("MIME-Version: 1.0 (a comment)\nContent-Type: multipart/mixed; boundary=q\n\n--q\n\nbody\n--q--\n", &r);
  EXPECT_EQ(r, 0);
  ASSERT_EQ(ok->parts.Count(), 1);
  EXPECT_EQ(Str(ok->message).substr(ok->parts[0]->offset, ok->parts[0]->rawLength), "body");

  auto bad = decode("MIME-Version: 2.0\r\n\r\n", &r);
  EXPECT_EQ(r, 281);
  EXPECT_STREQ(bad->GetErrorText(), "Unknown MIME type");

  auto none = decode("Subject: hi\r\n\r\ntext", &r);
  EXPECT_EQ(r, 282);
  EXPECT_STREQ(none->GetErrorText(), "No MIME-boundary found");

  auto single = decode("Content-Type: text/plain; name=\"t.txt\"\r\nContent-Transfer-Encoding: x-uuencode\r\n\r\nrest of it", &r);
  EXPECT_EQ(r, 0);
  ASSERT_EQ(single->parts.Count(), 1);
  EXPECT_EQ(single->parts[0]->encoding, 6);
  EXPECT_EQ(Str(single->parts[0]->name), "t.txt");
  EXPECT_EQ(single->parts[0]->rawLength, 10);
  EXPECT_EQ(Str(single->message).substr(single->parts[0]->offset), "rest of it");

  auto open = decode("Content-Type: multipart/mixed; boundary=z\r\n\r\n--z\r\n\r\nbody\r\n--z\r\n\r\nno end\r\n", &r);
  EXPECT_EQ(r, 0);
  ASSERT_EQ(open->parts.Count(), 2);
  EXPECT_EQ(open->parts[1]->offset, 0);
  EXPECT_EQ(open->parts[1]->rawLength, 0);
  EXPECT_EQ(open->parts[1]->size, 0);

  // Headers the owner supplies may end right after the last parameter.
  Engine given;
  given.messageHeaders.SetText("Content-Type: multipart/form-data; boundary=abc");
  SetText(given.message, "--abc\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nv\r\n--abc--\r\n");
  ASSERT_EQ(given.DoAction(kMIMEDecodeString), 0);
  EXPECT_EQ(Str(given.boundary), "abc");
  ASSERT_EQ(given.parts.Count(), 1);
  EXPECT_EQ(Str(given.parts[0]->name), "f");
  EXPECT_EQ(Str(given.parts[0]->disposition), "form-data");

  // Lines longer than a read piece, with the CR LF split between two pieces.
  std::string line(254, 'L');
  auto lng = decode("Content-Type: multipart/mixed; boundary=k\r\n\r\n--k\r\n\r\n" + line + "\r\n" +
                        line + "x\r\n--k--\r\n", &r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(lng->parts[0]->rawLength, int(2 * line.size() + 3));

  // Header lines whose CR ends one read piece and whose LF starts the next.
  std::string top = "Content-Type: multipart/mixed; boundary=k; x=";
  top += std::string(253 - top.size(), 'v');
  std::string partLine = "X-Long: " + std::string(246, 'p');
  auto split = decode(top + "\r\n\r\n--k\r\n" + partLine + "\r\n\r\nb\r\n--k--\r\n", &r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(Str(split->messageHeaders), top + "\r\n");
  ASSERT_EQ(split->parts.Count(), 1);
  EXPECT_EQ(Str(split->parts[0]->headers), partLine + "\r\n");

  // Parameters cut short by the end of the headers.
  Engine cut;
  cut.messageHeaders.SetText("Content-Type: multipart/mixed; boundary=\"unterminated");
  SetText(cut.message, "--unterminated\r\n\r\nx\r\n--unterminated--");
  ASSERT_EQ(cut.DoAction(kMIMEDecodeString), 0);
  EXPECT_EQ(Str(cut.boundary), "unterminated");
  EXPECT_EQ(cut.parts[0]->rawLength, 1);
  Engine empty;
  empty.messageHeaders.SetText("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=");
  SetText(empty.message, "x");
  EXPECT_EQ(empty.DoAction(kMIMEDecodeString), 282);

  Engine missing;
  SetText(missing.message, "/nonexistent/corv/mime");
  EXPECT_EQ(missing.DoAction(kMIMEDecodeFile), 4);
}

// Damaged messages: every result is a code, and every body found lies inside the message.
TEST(MIMEDecode, DamagedMessagesStayInBounds) {
  Engine src;
  src.boundary.SetText("b");
  src.parts.SetCount(3);
  src.SetPartData(0, "text\r\nmore", 10);
  src.SetPartData(1, "\x01\x02\x03", 3);
  src.SetPartData(2, "x\x7fy", 3);
  src.parts[2]->name.SetText("=?ISO-2022-JP?B?GyRCJCI=?=");
  CMIMEPart::BuildHeaders(src.parts[2], 0);
  ASSERT_EQ(src.DoAction(kMIMEEncodeString), 0);
  const std::string good = Message(src);
  std::mt19937 rng(5);
  const char pool[] = "-\r\n\";:=?b \x1b\t";
  for (int round = 0; round < 3000; ++round) {
    std::string msg = good;
    int edits = 1 + int(rng() % 6);
    for (int e = 0; e < edits && !msg.empty(); ++e) {
      size_t at = rng() % msg.size();
      switch (rng() % 4) {
        case 0: msg[at] = pool[rng() % (sizeof pool - 1)]; break;
        case 1: msg.erase(at, 1 + rng() % 8); break;
        case 2: msg.insert(at, 1, pool[rng() % (sizeof pool - 1)]); break;
        default: msg.resize(at); break;
      }
    }
    Engine m;
    SetText(m.message, msg);
    int r = m.DoAction(kMIMEDecodeString);
    ASSERT_TRUE(r == 0 || r == 281 || r == 282) << r;
    for (int i = 0; i < m.parts.Count(); ++i) {
      CMIMEPart* p = m.parts[i];
      ASSERT_GE(p->offset, 0);
      ASSERT_GE(p->rawLength, 0);
      ASSERT_LE(size_t(p->offset) + size_t(p->rawLength), msg.size()) << round;
    }
  }
}
