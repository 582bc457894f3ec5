#include "tests/peers/nginx.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

namespace peers {

namespace {

void MakeDir(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    throw PeerError("nginx: cannot create " + path);
  }
}

void WriteBinary(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw PeerError("nginx: cannot write " + path);
}

}  // namespace

std::string Nginx::Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

std::string Nginx::NulBody() {
  return std::string("before\0middle\0\0after\n", 22);
}

std::string Nginx::LongValue() {
  std::string v;
  for (int i = 0; v.size() < 3000; ++i) v += static_cast<char>('a' + i % 26);
  return v;
}

Nginx::Nginx(std::size_t bigFileBytes) : dir_("tavlin-nginx") {
  const std::string d = dir_.path();
  root_ = d + "/www";
  MakeDir(root_);
  MakeDir(root_ + "/private");
  MakeDir(root_ + "/upload");
  MakeDir(d + "/tmp");
  WriteBinary(root_ + "/small.txt", "hello tavlin\n");
  WriteBinary(root_ + "/pattern5000.bin", Pattern(5000));
  WriteBinary(root_ + "/nul.bin", NulBody());
  WriteBinary(root_ + "/private/secret.txt", "only for tavlin\n");
  if (bigFileBytes > 0) {
    std::ofstream out(root_ + "/big.bin", std::ios::binary | std::ios::trunc);
    const std::string block = Pattern(1 << 20);
    std::size_t left = bigFileBytes;
    while (left > 0) {
      std::size_t n = left < block.size() ? left : block.size();
      out.write(block.data(), static_cast<std::streamsize>(n));
      left -= n;
    }
    if (!out) throw PeerError("nginx: cannot write big.bin");
  }
  dir_.Write("htpasswd", std::string(kUser) + ":{PLAIN}" + kPassword + "\n");

  port_ = FreePort();
  const std::string p = std::to_string(port_);
  std::string conf =
      "daemon off;\n"
      "master_process off;\n"
      "worker_processes 1;\n"
      "pid " + d + "/nginx.pid;\n"
      "error_log " + d + "/error.log info;\n"
      "events { worker_connections 256; }\n"
      "http {\n"
      "  access_log off;\n"
      "  client_body_temp_path " + d + "/tmp/body;\n"
      "  proxy_temp_path " + d + "/tmp/proxy;\n"
      "  fastcgi_temp_path " + d + "/tmp/fastcgi;\n"
      "  uwsgi_temp_path " + d + "/tmp/uwsgi;\n"
      "  scgi_temp_path " + d + "/tmp/scgi;\n"
      "  default_type application/octet-stream;\n"
      "  types { text/plain txt; }\n"
      "  sendfile on;\n"
      "  server {\n"
      "    listen 127.0.0.1:" + p + ";\n"
      "    server_name localhost;\n"
      "    root " + root_ + ";\n"
      "    location / { }\n"
      "    location = /redirect302 { return 302 http://127.0.0.1:" + p + "/small.txt; }\n"
      "    location = /redirect301 { return 301 http://127.0.0.1:" + p + "/small.txt; }\n"
      "    location = /redirect-host { return 301 $scheme://$http_host/small.txt; }\n"
      "    location = /loop { return 302 http://127.0.0.1:" + p + "/loop; }\n"
      "    location = /to-https { return 302 https://127.0.0.1:" + p + "/small.txt; }\n"
      "    location /private/ { auth_basic \"tavlin\"; auth_basic_user_file " + d +
      "/htpasswd; }\n"
      "    location = /cookie {\n"
      "      add_header Set-Cookie \"session=abc123; Path=/; Secure\";\n"
      "      add_header Set-Cookie \"theme=dark; expires=Wed, 09 Jun 2027 10:18:14 GMT; "
      "domain=127.0.0.1\";\n"
      "      default_type text/plain;\n"
      "      return 200 \"cookies\\n\";\n"
      "    }\n"
      "    location = /echo {\n"
      "      default_type text/plain;\n"
      "      return 200 \"method=$request_method\\nuri=$request_uri\\nhost=$http_host\\n"
      "agent=$http_user_agent\\ncookie=$http_cookie\\nauth=$http_authorization\\n"
      "type=$content_type\\nlength=$content_length\\n\";\n"
      "    }\n"
      "    location /upload/ { dav_methods PUT; client_max_body_size 0; }\n"
      "    location = /longheader {\n"
      "      add_header X-Long \"" + LongValue() + "\";\n"
      "      add_header X-After \"after-long\";\n"
      "      default_type text/plain;\n"
      "      return 200 \"long\\n\";\n"
      "    }\n"
      "  }\n"
      "}\n";
  const std::string confFile = dir_.Write("nginx.conf", conf);
  proc_ = Process({FindBinary("nginx"), "-p", d, "-e", d + "/error.log", "-c", confFile},
                  d + "/stdout.log");
  proc_.WaitUntilListening(port_);
}

Nginx::~Nginx() { proc_.Stop(); }

std::string Nginx::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string Nginx::ErrorLog() const { return Tail(dir_.File("error.log")); }

}  // namespace peers
