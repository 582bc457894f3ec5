// Runs tools/quote-service on a free port of 127.0.0.1 and reads what it logs.
#pragma once
#include <string>

#include "tests/tools/display-sim/sim_process.h"

namespace quotetest {

class QuoteService {
 public:
  // Starts the service; port() is 0 when it did not come up.
  explicit QuoteService(unsigned long long seed = 1) {
    const std::string binary = std::string(TAVLIN_BINARY_DIR) + "/tools/quote-service/quote-service";
    if (!process_.Spawn({binary, "--port", "0", "--seed", std::to_string(seed)})) return;
    const std::string line = process_.ReadLine();
    const std::string prefix = "quote-service: listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) == 0) port_ = std::stoi(line.substr(prefix.size()));
  }
  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

  // The next request the service logged ("POST /d/quotes.csv body ..."), without its prefix,
  // skipping the answer lines; "" when none comes in time.
  std::string NextRequest() {
    for (;;) {
      const std::string line = process_.ReadLine();
      if (line.empty()) return line;
      if (line.rfind("quote-service: > ", 0) != 0) return line.substr(std::string("quote-service: ").size());
    }
  }

 private:
  simtest::SimProcess process_;
  int port_ = 0;
};

}  // namespace quotetest
