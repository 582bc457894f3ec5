#include "tools/quote-service/quotes.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace quotes {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
  return s.substr(a, b - a);
}

// Prices stay between 1.00 and 999.99, where the display shows them whole.
constexpr long kMinCents = 100;
constexpr long kMaxCents = 99999;

}  // namespace

std::string UrlDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::map<std::string, std::string> ParseForm(const std::string& body) {
  std::map<std::string, std::string> form;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    const std::string pair = body.substr(start, end - start);
    if (!pair.empty()) {
      const std::size_t eq = pair.find('=');
      if (eq == std::string::npos)
        form[UrlDecode(pair)] = "";
      else
        form[UrlDecode(pair.substr(0, eq))] = UrlDecode(pair.substr(eq + 1));
    }
    start = end + 1;
  }
  return form;
}

std::optional<Request> ParseHead(const std::string& head) {
  Request r;
  std::istringstream in(head);
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  {
    std::istringstream first(line);
    if (!(first >> r.method >> r.target >> r.version)) return std::nullopt;
    std::string extra;
    if (first >> extra) return std::nullopt;
  }
  std::string target = r.target;
  const std::string lowerTarget = Lower(target);
  if (lowerTarget.rfind("http://", 0) == 0) {
    r.viaProxy = true;
    const std::size_t slash = target.find('/', 7);
    r.proxyHost = target.substr(7, slash == std::string::npos ? std::string::npos : slash - 7);
    target = slash == std::string::npos ? "/" : target.substr(slash);
  } else if (target.empty() || target[0] != '/') {
    return std::nullopt;
  }
  const std::size_t q = target.find('?');
  r.path = target.substr(0, q);
  if (q != std::string::npos) r.query = target.substr(q + 1);

  while (std::getline(in, line)) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    if (Lower(Trim(line.substr(0, colon))) != "content-length") continue;
    const std::string value = Trim(line.substr(colon + 1));
    if (value.empty() || value.size() > 9) return std::nullopt;
    for (char c : value)
      if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    r.contentLength = std::strtol(value.c_str(), nullptr, 10);
  }
  return r;
}

std::string Printable(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b >= 0x7F || c == '\\') {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string Price(long cents, bool sign) {
  std::string out;
  if (cents < 0) {
    out = "-";
    cents = -cents;
  } else if (sign && cents > 0) {
    out = "+";
  }
  const long frac = cents % 100;
  out += std::to_string(cents / 100) + "." + (frac < 10 ? "0" : "") + std::to_string(frac);
  return out;
}

std::uint64_t Market::Next() {
  // xorshift64*: small, and the same run for the same seed on every machine.
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return state_ * 0x2545F4914F6CDD1Dull;
}

Market::Stock& Market::Move(const std::string& symbol) {
  auto it = stocks_.find(symbol);
  if (it == stocks_.end()) {
    Stock s;
    s.open = 1000 + static_cast<long>(Next() % 15000);  // 10.00 .. 159.99
    s.last = s.high = s.low = s.open;
    s.volume = 100000 + static_cast<long>(Next() % 900000);
    it = stocks_.emplace(symbol, s).first;
  }
  Stock& s = it->second;
  // A step of up to 0.50 either way; never zero, so every tick shows a move.
  long step = static_cast<long>(Next() % 50) + 1;
  if (Next() & 1) step = -step;
  // At either bound the step turns back.
  if (s.last + step < kMinCents || s.last + step > kMaxCents) step = -step;
  s.last += step;
  if (s.last > s.high) s.high = s.last;
  if (s.last < s.low) s.low = s.last;
  s.volume += static_cast<long>(Next() % 5000);
  return s;
}

std::string Market::Answer(const std::string& format, const std::string& symbols, const std::string& date,
                           const std::string& time) {
  std::string out;
  std::istringstream words(symbols);
  std::string symbol;
  while (words >> symbol) {
    const Stock& s = Move(symbol);
    std::string line;
    for (std::size_t i = 0; i < format.size();) {
      std::string letter(1, format[i++]);
      if (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i]))) letter += format[i++];
      std::string field;
      if (letter == "s") field = "\"" + symbol + "\"";
      else if (letter == "l1") field = Price(s.last);
      else if (letter == "d1") field = "\"" + date + "\"";
      else if (letter == "t1") field = "\"" + time + "\"";
      else if (letter == "c1") field = Price(s.last - s.open, true);
      else if (letter == "o") field = Price(s.open);
      else if (letter == "h") field = Price(s.high);
      else if (letter == "g") field = Price(s.low);
      else if (letter == "v") field = std::to_string(s.volume);
      else field = "N/A";
      if (!line.empty()) line += ',';
      line += field;
    }
    out += line + "\r\n";
  }
  return out;
}

}  // namespace quotes
