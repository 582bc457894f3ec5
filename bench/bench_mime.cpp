// Base64 and quoted-printable stream encoders on 64 MB, memory to memory and file to file,
// beside coreutils base64 and Python's quopri (Debian's /usr/bin/python3) run on the same data in
// the same run.
//   bench_mime [megabytes]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "corv/mime/Codec.h"
#include "corv/mime/Stream.h"

namespace {
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Random bytes for base64; for quoted-printable a text-like mix: printable ASCII, blanks,
// a line end every 60 to 90 bytes and about 3 % 8-bit bytes.
std::string MakeData(std::size_t n, bool text) {
  std::mt19937_64 rng(42);
  std::string s(n, '\0');
  if (!text) {
    for (std::size_t i = 0; i < n; i += 8) {
      std::uint64_t v = rng();
      for (std::size_t k = 0; k < 8 && i + k < n; ++k) s[i + k] = char(v >> (8 * k));
    }
    return s;
  }
  std::size_t next = 60 + rng() % 30;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned r = unsigned(rng() % 100);
    if (i == next) {
      s[i] = '\n';
      next = i + 60 + rng() % 30;
    } else if (r < 3) {
      s[i] = char(0xC0 + rng() % 64);
    } else if (r < 18) {
      s[i] = ' ';
    } else {
      s[i] = char('!' + rng() % 94);
    }
  }
  return s;
}

void WriteAll(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary).write(data.data(), std::streamsize(data.size()));
}

using Codec = int (*)(MyStream*, MyStream*, DWORD);

double MemToMem(Codec codec, std::string& in, bool text, std::size_t* outBytes) {
  std::string out(in.size() * 4 + 1024, '\0');
  auto t0 = Clock::now();
  MyStringStream src(in.data(), DWORD(in.size()), nullptr, nullptr, 0);
  MyStringStream dst(out.data(), DWORD(out.size()), nullptr, nullptr, 0);
  src.Open(nullptr, 0, text ? 0 : 1, 0);
  int r = codec(&src, &dst, 0);
  auto t1 = Clock::now();
  if (r) std::fprintf(stderr, "codec failed: %d\n", r);
  *outBytes = dst.position;
  return Seconds(t0, t1);
}

double FileToFile(Codec codec, const std::string& in, const std::string& out, bool text) {
  std::remove(out.c_str());
  auto t0 = Clock::now();
  {
    MyFileStream src(nullptr, false, 0, nullptr, nullptr, 0);
    MyFileStream dst(nullptr, true, 0, nullptr, nullptr, 0);
    if (src.Open(in.c_str(), GENERIC_READ, text ? 0 : 1, 0) ||
        dst.Open(out.c_str(), GENERIC_WRITE, 1, MyFileStream::kMaxBuffer)) {
      std::fprintf(stderr, "cannot open %s or %s\n", in.c_str(), out.c_str());
      return 0;
    }
    if (int r = codec(&src, &dst, 0)) std::fprintf(stderr, "codec failed: %d\n", r);
  }
  return Seconds(t0, Clock::now());
}

double Command(const std::string& cmd) {
  auto t0 = Clock::now();
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", cmd.c_str());
  return Seconds(t0, Clock::now());
}

// Python's own timing of quopri on the file, read back from its output.
double PythonQuopri(const std::string& in, const std::string& out, double* total) {
  std::string script = fs::temp_directory_path() / ("corv_bench_qp_" + std::to_string(getpid()) + ".py");
  WriteAll(script,
           "import quopri, sys, time\n"
           "data = open(sys.argv[1], 'rb').read()\n"
           "t = time.perf_counter()\n"
           "enc = quopri.encodestring(data)\n"
           "t = time.perf_counter() - t\n"
           "open(sys.argv[2], 'wb').write(enc)\n"
           "print(t)\n");
  // Debian's own interpreter: a shim earlier on PATH adds start-up time to every run.
  std::string cmd = "/usr/bin/python3 '" + script + "' '" + in + "' '" + out + "'";
  auto t0 = Clock::now();
  FILE* p = popen(cmd.c_str(), "r");
  double inner = 0;
  if (!p || std::fscanf(p, "%lf", &inner) != 1) std::fprintf(stderr, "/usr/bin/python3 quopri failed\n");
  if (p) pclose(p);
  *total = Seconds(t0, Clock::now());
  std::remove(script.c_str());
  return inner;
}

void Row(const char* what, double mb, double s, double ref = 0) {
  std::printf("  %-44s %8.1f MB/s", what, mb / s);
  if (ref > 0) std::printf("   (%.2fx the reference time)", s / ref);
  std::printf("\n");
}
}  // namespace

int main(int argc, char** argv) {
  std::size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const std::size_t n = mb << 20;
  fs::path dir = fs::temp_directory_path() / ("corv_bench_mime_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string binFile = dir / "in.bin", txtFile = dir / "in.txt";
  std::string bin = MakeData(n, false), txt = MakeData(n, true);
  WriteAll(binFile, bin);
  WriteAll(txtFile, txt);
  std::printf("MIME codecs on %zu MB (input MB per second; ratios are our time over the reference's)\n", mb);

  std::size_t outBytes = 0;
  double core = Command("base64 '" + binFile + "' > '" + (dir / "core.b64").string() + "'");
  double ourMem = MemToMem(EncodeBase64Stream, bin, false, &outBytes);
  double ourFile = FileToFile(EncodeBase64Stream, binFile, dir / "ours.b64", false);
  std::printf("base64 (random bytes, %zu bytes out)\n", outBytes);
  Row("coreutils base64, file to file", double(mb), core);
  Row("EncodeBase64Stream, memory to memory", double(mb), ourMem, core);
  Row("EncodeBase64Stream, file to file", double(mb), ourFile, core);

  double pyTotal = 0;
  double pyInner = PythonQuopri(txtFile, dir / "py.qp", &pyTotal);
  double qpMem = MemToMem(EncodeQPStream, txt, true, &outBytes);
  double qpFile = FileToFile(EncodeQPStream, txtFile, dir / "ours.qp", true);
  std::printf("quoted-printable (text with 3%% 8-bit bytes, %zu bytes out)\n", outBytes);
  Row("Python quopri.encodestring, memory to memory", double(mb), pyInner);
  Row("/usr/bin/python3 quopri run, file to file", double(mb), pyTotal);
  Row("EncodeQPStream, memory to memory", double(mb), qpMem, pyInner);
  Row("EncodeQPStream, file to file", double(mb), qpFile, pyTotal);

  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
