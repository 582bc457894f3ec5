// The quote service's stand-in: the form it takes and the comma-separated lines it answers.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quotes {

// Decodes application/x-www-form-urlencoded text ("+" is a blank, %XX a byte). A broken
// escape is kept as it stands.
std::string UrlDecode(const std::string& text);
std::map<std::string, std::string> ParseForm(const std::string& body);

// The request line and headers of an HTTP request, up to the blank line.
struct Request {
  std::string method;
  std::string target;  // as sent: a path, or an absolute URL when the client took us for a proxy
  std::string version;
  std::string path;    // the target's path without its query
  std::string query;
  bool viaProxy = false;
  std::string proxyHost;  // host[:port] of an absolute target
  long contentLength = -1;
};

// Parses the head (everything before the blank line). nullopt for a malformed request line or
// Content-Length.
std::optional<Request> ParseHead(const std::string& head);

// Prices that move a little with every request, the same sequence for the same seed.
class Market {
 public:
  explicit Market(std::uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}

  // One line per symbol of `symbols` (separated by blanks), each ended by CR LF, with the
  // fields the format letters ask for ("s", "l1", "d1", "t1", "c1", "o", "h", "g", "v"); an
  // unknown letter gives N/A. Texts (symbol, date, time) are in double quotes.
  std::string Answer(const std::string& format, const std::string& symbols, const std::string& date,
                     const std::string& time);

 private:
  struct Stock {
    long open = 0;  // cents
    long last = 0;
    long high = 0;
    long low = 0;
    long volume = 0;
  };
  std::uint64_t Next();
  Stock& Move(const std::string& symbol);

  std::uint64_t state_;
  std::map<std::string, Stock> stocks_;
};

// The text for one line of the log: control bytes, backslash and bytes from 0x7F up as \xHH,
// so a request cannot break or forge the lines a reader of the log relies on.
std::string Printable(const std::string& text);

// Cents as a price: 2345 -> "23.45"; with sign, +12 -> "+0.12", 0 -> "0.00".
std::string Price(long cents, bool sign = false);

}  // namespace quotes
