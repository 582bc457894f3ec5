// http_get.cpp: GET a URL into a file.  http_get URL FILE
#include <cstdio>

#include "corv/http/Corvhttp.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: http_get URL FILE\n");
    return 2;
  }
  try {
    TcorvHTTP http(nullptr);
    http.Timeout = 20;                // seconds per operation; 0, the default, waits for ever
    http.FollowRedirects = frAlways;  // by default a redirect fails with 151 and its status
    http.LocalFile = argv[2];         // the whole body; TransferredData keeps only its start
    http.Get(argv[1]);
    std::printf("%s\n", http.StatusLine().c_str());
  } catch (Exception& e) {
    std::fprintf(stderr, "http_get: %s\n", e.Message.c_str());
    return 1;
  }
  return 0;
}
