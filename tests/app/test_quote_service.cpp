#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/quote-service/quotes.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    EXPECT_NE(end, std::string::npos) << "line without CR LF: " << text.substr(at);
    if (end == std::string::npos) break;
    out.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return out;
}

TEST(QuoteServiceForm, DecodesUrlEncodedVariables) {
  auto form = quotes::ParseForm("f=sl1d1t1c1ohgv&e=.csv&s=QVTR%20LLTC+IBM");
  EXPECT_EQ(form["f"], "sl1d1t1c1ohgv");
  EXPECT_EQ(form["e"], ".csv");
  EXPECT_EQ(form["s"], "QVTR LLTC IBM");
  // Broken escapes stay as they stand; empty pairs and names without "=" do no harm.
  EXPECT_EQ(quotes::UrlDecode("a%2"), "a%2");
  EXPECT_EQ(quotes::UrlDecode("%zz%41"), "%zzA");
  EXPECT_EQ(quotes::UrlDecode("%"), "%");
  form = quotes::ParseForm("&&s&x=1&");
  EXPECT_EQ(form.size(), 2u);
  EXPECT_EQ(form["s"], "");
  EXPECT_EQ(form["x"], "1");
}

TEST(QuoteServiceForm, TellsServerRequestsFromProxyRequests) {
  auto r = quotes::ParseHead("POST /d/quotes.csv HTTP/1.0\r\nContent-Length: 12\r\nHost: x");
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->viaProxy);
  EXPECT_EQ(r->path, "/d/quotes.csv");
  EXPECT_EQ(r->contentLength, 12);

  r = quotes::ParseHead("POST http://quote.example:8080/d/quotes.csv?s=A HTTP/1.0\r\ncontent-length:3");
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->viaProxy);
  EXPECT_EQ(r->proxyHost, "quote.example:8080");
  EXPECT_EQ(r->path, "/d/quotes.csv");
  EXPECT_EQ(r->query, "s=A");
  EXPECT_EQ(r->contentLength, 3);

  r = quotes::ParseHead("GET http://host HTTP/1.0");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->path, "/");
  EXPECT_EQ(r->contentLength, -1);

  EXPECT_FALSE(quotes::ParseHead(""));
  EXPECT_FALSE(quotes::ParseHead("POST /d/quotes.csv"));
  EXPECT_FALSE(quotes::ParseHead("POST d/quotes.csv HTTP/1.0"));
  EXPECT_FALSE(quotes::ParseHead("POST / HTTP/1.0 extra"));
  EXPECT_FALSE(quotes::ParseHead("POST / HTTP/1.0\r\nContent-Length: -1"));
  EXPECT_FALSE(quotes::ParseHead("POST / HTTP/1.0\r\nContent-Length: 99999999999"));
  EXPECT_FALSE(quotes::ParseHead("POST / HTTP/1.0\r\nContent-Length: 1x"));
}

TEST(QuoteServiceAnswer, OneLinePerSymbolInTheRequestedLayout) {
  quotes::Market market(42);
  const std::string answer = market.Answer("sl1d1t1c1ohgv", "  QVTR   IBM ", "12/9/2026", "6:07am");
  const auto lines = Lines(answer);
  ASSERT_EQ(lines.size(), 2u);
  const std::regex layout(
      R"re("([A-Z]+)",(\d+\.\d\d),"12/9/2026","6:07am",([-+]?\d+\.\d\d),(\d+\.\d\d),(\d+\.\d\d),(\d+\.\d\d),(\d+))re");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, layout)) << lines[0];
  EXPECT_EQ(m[1], "QVTR");
  // Change is Last - Open; Low <= Last <= High.
  const double last = std::stod(m[2]), change = std::stod(m[3]), open = std::stod(m[4]);
  EXPECT_NEAR(last - open, change, 0.001);
  EXPECT_LE(std::stod(m[6]), last);
  EXPECT_GE(std::stod(m[5]), last);
  ASSERT_TRUE(std::regex_match(lines[1], m, layout)) << lines[1];
  EXPECT_EQ(m[1], "IBM");

  EXPECT_EQ(market.Answer("sl1", "", "d", "t"), "");
  EXPECT_EQ(Lines(market.Answer("sxq", "A", "d", "t")), std::vector<std::string>{"\"A\",N/A,N/A"});
}

TEST(QuoteServiceAnswer, PricesMoveEveryRequestAndRepeatForTheSameSeed) {
  quotes::Market a(7), b(7), c(8);
  std::string previous;
  for (int i = 0; i < 2000; ++i) {
    const std::string ra = a.Answer("l1", "X", "d", "t");
    EXPECT_EQ(ra, b.Answer("l1", "X", "d", "t"));
    EXPECT_NE(ra, previous);
    // The display shows up to three whole digits and two decimals.
    const double price = std::stod(ra);
    EXPECT_GE(price, 1.0);
    EXPECT_LE(price, 999.99);
    previous = ra;
  }
  EXPECT_NE(a.Answer("l1", "Y", "d", "t"), c.Answer("l1", "Y", "d", "t"));
}

TEST(QuoteServiceForm, LoggedTextStaysOnOneLine) {
  EXPECT_EQ(quotes::Printable("s=QVTR%20IBM&e=.csv"), "s=QVTR%20IBM&e=.csv");
  // A body that would start a forged log line, a NUL that would cut it, and the escape
  // character itself.
  EXPECT_EQ(quotes::Printable("a\r\nquote-service: listening"), "a\\x0D\\x0Aquote-service: listening");
  EXPECT_EQ(quotes::Printable(std::string("x\0y", 3)), "x\\x00y");
  EXPECT_EQ(quotes::Printable("\\x41\x7F\xC3"), "\\x5Cx41\\x7F\\xC3");
}

TEST(QuoteServiceAnswer, PricesAreWrittenWithTwoDecimals) {
  EXPECT_EQ(quotes::Price(2345), "23.45");
  EXPECT_EQ(quotes::Price(5), "0.05");
  EXPECT_EQ(quotes::Price(0, true), "0.00");
  EXPECT_EQ(quotes::Price(12, true), "+0.12");
  EXPECT_EQ(quotes::Price(-120, true), "-1.20");
}

}  // namespace
