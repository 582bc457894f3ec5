// The recording both engine sinks (http_sink.h, webform_sink.h) build on: every event as one
// line, and the lines of the events the two engines report alike.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace enginetest {

class EventLines {
 public:
  std::vector<std::string> events;
  // Called after an event is recorded, with its line: for handlers that call back.
  std::function<void(const std::string&)> then;

  int Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& e : events) n += e.compare(0, prefix.size(), prefix) == 0;
    return n;
  }

 protected:
  // "Connected 0 text", "Error 10061 text"...
  static std::string CodeLine(const char* event, int code, const char* d) {
    return std::string(event) + " " + std::to_string(code) + " " + d;
  }
  static std::string HeaderLine(const char* f, const char* v) { return std::string("Header ") + f + ": " + v; }
  static std::string CookieLine(const char* n, const char* v, const char* e, const char* d, const char* p,
                                int secure) {
    return std::string("SetCookie ") + n + "=" + v + "|" + e + "|" + d + "|" + p + "|" + std::to_string(secure);
  }
  // Records e; 0 for sinks whose operations return a result.
  int Add(std::string e) {
    events.push_back(e);
    if (then) then(events.back());
    return 0;
  }
};

}  // namespace enginetest
