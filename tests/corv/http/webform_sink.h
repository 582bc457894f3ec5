// A recording event sink for the web form engine, an engine wired to it, and Python's reading
// of a multipart/form-data body.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "corv/http/WebForm.h"
#include "platform/winsock/winsock.h"
#include "tests/corv/http/event_lines.h"
#include "tests/peers/process.h"

namespace webformtest {

class Recorder : public WebFormEvts, public enginetest::EventLines {
 public:
  // Lines such as "Header Content-Length: 13" or "Transfer 13 2".
  std::string body;  // the transfer texts, joined
  bool nulOk = true;

  int Connected(int code, const char* d) override { return Add(CodeLine("Connected", code, d)); }
  int Disconnected(int code, const char* d) override { return Add(CodeLine("Disconnected", code, d)); }
  int EndTransfer() override { return Add("EndTransfer"); }
  int Error(int code, const char* d) override { return Add(CodeLine("Error", code, d)); }
  int Header(const char* f, const char* v) override { return Add(HeaderLine(f, v)); }
  int SetCookie(const char* n, const char* v, const char* e, const char* d, const char* p,
                int secure) override {
    return Add(CookieLine(n, v, e, d, p, secure));
  }
  int StartTransfer() override { return Add("StartTransfer"); }
  int Transfer(std::uint32_t bytes, const char* text, std::uint16_t len) override {
    nulOk = nulOk && text[len] == 0;
    body.append(text, len);
    return Add("Transfer " + std::to_string(bytes) + " " + std::to_string(len));
  }

  // The events with Header lines and repeated Transfer lines folded into one "Header" and
  // one "Transfer" entry each.
  std::vector<std::string> Outline() const {
    std::vector<std::string> out;
    for (const auto& e : events) {
      std::string k = e.rfind("Header ", 0) == 0 ? "Header" : e.rfind("Transfer ", 0) == 0 ? "Transfer" : e;
      if (!out.empty() && out.back() == k && (k == "Header" || k == "Transfer")) continue;
      out.push_back(k);
    }
    return out;
  }
};

struct Engine {
  CWebForm form;
  Recorder sink;
  Engine() {
    winsock::EnsureRegistered();
    form.Init();
    form.EventSink = static_cast<WebFormEvts*>(&sink);
  }
  void Add(const std::string& name, const std::string& value) {
    ASSERT_EQ(form.FormVarNames.AppendData(name.data(), std::uint32_t(name.size())), 0);
    ASSERT_EQ(form.FormVarValues.AppendData(value.data(), std::uint32_t(value.size())), 0);
  }
  int SubmitTo(const std::string& url) {
    form.SetURL(url.c_str(), false);
    return form.DoAction(kWebFormSubmit);
  }
  std::string Error() const { return form.GetErrorText(); }
  std::string PostData() const { return std::string(form.PostData.Text(), form.PostData.Length()); }
  std::string ContentType() const { return form.ContentType.Text(); }
  std::string URL() const { return form.URL.Text(); }
};

// The boundary of a "multipart/form-data; boundary="..."" content type; empty when none.
inline std::string Boundary(const std::string& contentType) {
  const std::string key = "boundary=\"";
  std::size_t at = contentType.find(key);
  if (at == std::string::npos) return {};
  at += key.size();
  std::size_t end = contentType.find('"', at);
  return end == std::string::npos ? std::string() : contentType.substr(at, end - at);
}

struct Part {
  std::string disposition, name, value;
};

inline std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

// Python's email package reads the body under the content type; one entry per part. Any
// defect Python finds, or a body that does not read as multipart, fails the test.
inline std::vector<Part> PythonParts(const std::string& contentType, const std::string& body) {
  std::vector<Part> parts;
  peers::TempDir dir("tavlin-webform");
  const std::string type = dir.Write("type", contentType);
  const std::string in = dir.Write("body", body);
  const std::string out = dir.File("out");
  const std::string cmd = "'" + peers::FindBinary("python3") + "' '" TAVLIN_SOURCE_DIR
                          "/tests/corv/http/webform_check.py' '" + type + "' '" + in + "' '" + out + "'";
  if (std::system(cmd.c_str()) != 0) {
    ADD_FAILURE() << "Python could not read the body: " << cmd;
    return parts;
  }
  std::ifstream f(out, std::ios::binary);
  std::string line;
  while (std::getline(f, line)) {
    std::vector<std::string> cols;
    std::stringstream s(line);
    for (std::string c; std::getline(s, c, '\t');) cols.push_back(c);
    if (cols.empty() || cols[0] != "part") {
      ADD_FAILURE() << line;
      continue;
    }
    cols.resize(4);
    parts.push_back({cols[1], Unhex(cols[2]), Unhex(cols[3])});
  }
  return parts;
}

}  // namespace webformtest
