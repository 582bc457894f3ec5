#include "tests/peers/smtp.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace peers {

namespace {

constexpr const char* kPython = "/usr/bin/python3";

std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool Exists(const std::string& name) {
  struct stat st;
  return ::stat(name.c_str(), &st) == 0;
}

}  // namespace

SmtpServer::SmtpServer(const Options& options) {
  FindBinary(kPython);
  const std::string script = std::string(TAVLIN_SOURCE_DIR) + "/tests/peers/smtp_server.py";
  for (int attempt = 0;; ++attempt) {
    port_ = FreePort();
    std::vector<std::string> argv = {kPython, script, std::to_string(port_), dir_.path()};
    if (!options.user.empty()) {
      argv.push_back("--user=" + options.user);
      argv.push_back("--password=" + options.password);
    }
    if (options.requireAuth) argv.push_back("--require-auth");
    process_ = Process(argv, dir_.File("smtp.log"));
    try {
      process_.WaitUntilListening(port_);
      return;
    } catch (const PeerError&) {
      if (attempt >= 2) throw;
    }
  }
}

int SmtpServer::Count() const {
  int n = 0;
  while (Exists(dir_.File(std::to_string(n + 1) + ".eml"))) ++n;
  return n;
}

std::string SmtpServer::Message(int i) const { return ReadFile(dir_.File(std::to_string(i) + ".eml")); }

std::vector<std::string> SmtpServer::Envelope(int i) const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(dir_.File(std::to_string(i) + ".env")));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string RunPython(const std::string& script, const std::vector<std::string>& args) {
  std::string cmd = std::string(kPython) + " '" + std::string(TAVLIN_SOURCE_DIR) + "/" + script + "'";
  for (const std::string& a : args) cmd += " '" + a + "'";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) throw PeerError("cannot run " + cmd);
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = ::pclose(p);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw PeerError("python script failed: " + cmd + "\n" + out);
  return out;
}

}  // namespace peers
