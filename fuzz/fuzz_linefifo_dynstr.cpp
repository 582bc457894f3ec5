// The receive buffer and the engine strings, driven by a program of operations read from the
// input and checked against plain models after every step.
// Input: capacity byte (1 + low 6 bits), then operations: an opcode byte (below 0x80: buffer,
// else strings), a count byte, and for operations that take bytes that many bytes.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "corv/core/DynStr.h"
#include "corv/core/DynStrSeq.h"
#include "corv/core/LineFIFO.h"
#include "corv/core/TextUtil.h"
#include "fuzz/harness/touch.h"

namespace {

#define EXPECT(c) \
  if (!(c)) __builtin_trap()

struct Reader {
  const std::uint8_t* p;
  const std::uint8_t* end;
  bool More() const { return p < end; }
  std::uint8_t Byte() { return p < end ? *p++ : 0; }
  std::string Bytes(std::size_t k) {
    k = std::min<std::size_t>(k, end - p);
    std::string s(reinterpret_cast<const char*>(p), k);
    p += k;
    return s;
  }
};

void Same(const LineFIFO& fifo, const std::string& held) {
  EXPECT(fifo.Count() == held.size());
  EXPECT(fifo.Start() + fifo.Count() <= fifo.Capacity());
  EXPECT(held.empty() || std::memcmp(fifo.Data(), held.data(), held.size()) == 0);
}

void FifoOp(std::uint8_t op, Reader& in, LineFIFO& fifo, std::string& held, std::string& eol) {
  const std::uint8_t k = in.Byte();
  const std::uint32_t cap = fifo.Capacity();
  switch (op % 8) {
    case 0: {
      const std::string bytes = in.Bytes(k);
      const bool fits = bytes.size() <= cap - held.size();
      EXPECT(fifo.Put(bytes.data(), static_cast<std::uint32_t>(bytes.size())) == fits);
      if (fits) held += bytes;
      break;
    }
    case 1: {
      char* block = nullptr;
      std::uint32_t room = 0;
      const bool ok = fifo.GetFreeBlock(&block, &room);
      EXPECT(ok == (room != 0));
      EXPECT(room <= cap - held.size());
      const std::string bytes = in.Bytes(std::min<std::uint32_t>(k, room));
      if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
      EXPECT(fifo.Commit(static_cast<std::uint32_t>(bytes.size())));
      held += bytes;
      EXPECT(!fifo.Commit(room - static_cast<std::uint32_t>(bytes.size()) + 1));
      break;
    }
    case 2: {
      char* line = nullptr;
      std::uint32_t n = 0;
      const bool ok = fifo.NextLine(&line, &n);
      if (eol.empty()) {
        EXPECT(ok == !held.empty());
        if (ok) EXPECT(std::string(line, n) == held);
        held.clear();
        break;
      }
      const std::size_t at = held.find(eol);
      EXPECT(ok == (at != std::string::npos));
      if (ok) {
        EXPECT(std::string(line, n) == held.substr(0, at));
        held.erase(0, at + eol.size());
      }
      break;
    }
    case 3: {
      char* all = nullptr;
      std::uint32_t n = 0;
      EXPECT(fifo.TakeAll(&all, &n) == !held.empty());
      EXPECT(std::string(all, n) == held);
      held.clear();
      break;
    }
    case 4:
      eol = in.Bytes(k % 4);
      EXPECT(fifo.SetEOL(eol.data(), static_cast<std::uint16_t>(eol.size())));
      break;
    case 5:
      fifo.Compact();
      EXPECT(fifo.Start() == 0);
      break;
    case 6:
      EXPECT(fifo.SetSize(1 + k % 64));
      held.clear();
      break;
    case 7: {
      const std::string hay = in.Bytes(k), needle = in.Bytes(in.Byte() % 4);
      const std::int32_t at = LineFIFO::Find(hay.data(), static_cast<std::uint32_t>(hay.size()), needle.data(),
                                             static_cast<std::uint32_t>(needle.size()));
      const std::size_t want = needle.empty() ? std::string::npos : hay.find(needle);
      if (!needle.empty()) EXPECT(at == (want == std::string::npos ? -1 : static_cast<std::int32_t>(want)));
      break;
    }
  }
  Same(fifo, held);
}

// The ending rule of EnsureTrailingCRLF: trailing CR LF pairs go, one bare LF after other
// text goes, a bare CR stays; then exactly one CR LF.
std::string WithTrailingCRLF(std::string s) {
  std::size_t k = s.size(), removed = 0;
  for (;;) {
    if (k > 0 && s[k - 1] == '\n') {
      --k;
      ++removed;
      if (k > 0 && s[k - 1] == '\r') {
        --k;
        ++removed;
        continue;
      }
    }
    break;
  }
  (void)removed;
  return s.substr(0, k) + "\r\n";
}

void Same(const DynStr& d, const std::string& m) {
  EXPECT(d.Length() == m.size());
  EXPECT(std::memcmp(d.Text(), m.data(), m.size()) == 0);
  EXPECT(d.Text()[m.size()] == 0);
  EXPECT(d.Capacity() >= d.Length());
}

void Same(const DynStrSeq& s, const std::vector<std::string>& v) {
  EXPECT(s.Count() == v.size());
  std::uint32_t total = 0;
  for (std::uint32_t i = 0; i < v.size(); ++i) {
    EXPECT(s.GetLength(i) == v[i].size());
    EXPECT(std::memcmp(s.Get(i), v[i].data(), v[i].size()) == 0 && s.Get(i)[v[i].size()] == 0);
    total += static_cast<std::uint32_t>(v[i].size()) + 4;
  }
  EXPECT(s.Buffer().Length() == total);
  EXPECT(s.GetLength(static_cast<std::uint32_t>(v.size())) == 0 && *s.Get(static_cast<std::uint32_t>(v.size())) == 0);
}

void StringOp(std::uint8_t op, Reader& in, DynStr& d, std::string& m, DynStrSeq& seq, std::vector<std::string>& v) {
  const std::uint8_t k = in.Byte();
  switch (op % 12) {
    case 0: {
      const std::string bytes = in.Bytes(k) + in.Bytes(k);  // long enough for the heap now and then
      EXPECT(d.Set(static_cast<std::uint32_t>(bytes.size()), bytes.data()) == 0);
      m = bytes;
      break;
    }
    case 1: {
      const std::uint32_t n = k * 2u;
      EXPECT(d.Set(n) == 0);
      if (n > m.size()) {
        std::memset(d.Text() + m.size(), 'x', n - m.size());
        m.append(n - m.size(), 'x');
      } else {
        m.resize(n);
      }
      break;
    }
    case 2: {
      const std::string bytes = in.Bytes(k);
      EXPECT(d.Append(bytes.data(), static_cast<std::uint32_t>(bytes.size())) == 0);
      m += bytes;
      break;
    }
    case 3:
      EXPECT(d.EnsureTrailingCRLF() == 0);
      m = WithTrailingCRLF(m);
      break;
    case 4: {
      const std::string bytes = in.Bytes(k);
      DynStr enc;
      EXPECT(enc.AppendURLEncoded(bytes.c_str()) == 0);
      for (std::uint32_t i = 0; i < enc.Length(); ++i) EXPECT(enc.Text()[i] != 0);
      fuzzpeer::Touch(enc.Text());
      break;
    }
    case 5: {
      const std::string bytes = in.Bytes(k);
      DynStr b64;
      EXPECT(b64.AppendBase64(bytes.data(), static_cast<std::uint32_t>(bytes.size())) == 0);
      b64.DecodeBase64();
      EXPECT(std::string(b64.Text(), b64.Length()) == bytes);
      // Any text decodes without running off its end.
      DynStr any;
      any.Set(static_cast<std::uint32_t>(bytes.size()), bytes.data());
      any.DecodeBase64();
      Same(any, std::string(any.Text(), any.Length()));
      break;
    }
    case 6: {
      const std::string bytes = in.Bytes(k);
      EXPECT(seq.AppendData(bytes.data(), static_cast<std::uint32_t>(bytes.size())) == 0);
      v.push_back(bytes);
      break;
    }
    case 7: {
      const std::uint32_t i = in.Byte() % 8;
      const std::string bytes = in.Bytes(k);
      const int r = seq.SetAt(i, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
      EXPECT(r == (i < v.size() ? 0 : 432));
      if (i < v.size()) v[i] = bytes;
      break;
    }
    case 8:
      EXPECT(seq.SetCount(k % 8) == 0);
      v.resize(k % 8);
      break;
    case 9: {
      DynStr line;
      const std::string bytes = in.Bytes(k);
      line.Set(static_cast<std::uint32_t>(bytes.size()), bytes.data());
      if (char* value = line.SplitHeaderLine()) fuzzpeer::Touch(value);
      fuzzpeer::Touch(line.Text());
      break;
    }
    case 11: {
      // Decimal with an optional "-", wrapping at 32 bits.
      const std::string bytes = in.Bytes(k);
      const char* t = bytes.c_str();
      const bool minus = *t == '-';
      std::uint32_t value = 0;
      for (const char* p = t + minus; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<std::uint32_t>(*p - '0');
      EXPECT(ParseInt(t) == static_cast<std::int32_t>(minus ? 0u - value : value));
      break;
    }
    case 10:
      d.Clear();
      m.clear();
      EXPECT(d.Capacity() == DynStrTemplate::kInlineCapacity && !d.OnHeap());
      break;
  }
  Same(d, m);
  Same(seq, v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, data + size};
  LineFIFO fifo;
  EXPECT(fifo.SetSize(1 + (in.Byte() & 63)));
  std::string held, eol;
  DynStr d;
  std::string m;
  DynStrSeq seq;
  std::vector<std::string> v;
  while (in.More()) {
    const std::uint8_t op = in.Byte();
    if (op < 0x80)
      FifoOp(op, in, fifo, held, eol);
    else
      StringOp(op & 0x7F, in, d, m, seq, v);
  }
  return 0;
}
