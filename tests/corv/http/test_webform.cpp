// The web form engine without a server: encodings, bodies as built, the busy rule, the
// variable lists and the response-only event filter. A submit to a URL without a server
// fails before any socket is opened but leaves the built request in the engine.
#include <gtest/gtest.h>

#include <string>

#include "corv/core/Alloc.h"
#include "tests/corv/http/webform_sink.h"

namespace {

using webformtest::Engine;
using webformtest::PythonParts;

const char kURLEncoded[] = "application/x-www-form-urlencoded";

// Builds the request for the engine's encoding without sending it.
int BuildOnly(Engine& e) {
  e.form.SetURL("/no/server", false);
  return e.form.DoAction(kWebFormSubmit);
}

TEST(WebFormEncoding, ContentTypeFollowsTheEncoding) {
  Engine e;
  EXPECT_EQ(e.form.Encoding, kWebFormURLEncoded);
  EXPECT_EQ(e.ContentType(), kURLEncoded);
  EXPECT_EQ(e.form.SetEncoding(kWebFormMultipart), 0);
  EXPECT_EQ(e.ContentType(), "multipart/form-data");
  EXPECT_EQ(e.form.SetEncoding(kWebFormQueryString), 0);
  EXPECT_EQ(e.ContentType(), "");
  // An unknown value is kept, the type stays as it was.
  e.form.SetEncoding(kWebFormURLEncoded);
  EXPECT_EQ(e.form.SetEncoding(7), 0);
  EXPECT_EQ(e.form.Encoding, 7);
  EXPECT_EQ(e.ContentType(), kURLEncoded);
}

TEST(WebFormURLEncoded, BodyOfTheQuoteRequest) {
  Engine e;
  e.Add("f", "sl1d1t1c1ohgv");
  e.Add("e", ".csv");
  e.Add("s", "MSFT IBM");
  EXPECT_EQ(BuildOnly(e), HTTP_NO_SERVER);
  EXPECT_EQ(e.PostData(), "f=sl1d1t1c1ohgv&e=.csv&s=MSFT%20IBM");
  EXPECT_EQ(e.form.Busy, 0);
  // The lists stay as they were.
  EXPECT_EQ(e.form.FormVarNames.Count(), 3u);
}

TEST(WebFormURLEncoded, EveryOtherByteIsEscapedInUpperCaseHex) {
  Engine e;
  e.Add("a b&c=d", std::string("*-.@_09AZaz\x01\x7f\x80\xff/+%~", 19));
  e.Add(std::string("n\0ul", 4), std::string("\0x\0", 3));
  EXPECT_EQ(BuildOnly(e), HTTP_NO_SERVER);
  // A NUL inside a name or value is kept, not taken for the end of the text.
  EXPECT_EQ(e.PostData(), "a%20b%26c%3Dd=*-.@_09AZaz%01%7F%80%FF%2F%2B%25%7E&n%00ul=%00x%00");
}

TEST(WebFormURLEncoded, MissingValuesAndNoVariables) {
  Engine e;
  EXPECT_EQ(BuildOnly(e), HTTP_NO_SERVER);
  EXPECT_EQ(e.PostData(), "");
  ASSERT_EQ(e.form.FormVarNames.Append("a"), 0);
  ASSERT_EQ(e.form.FormVarNames.Append("b"), 0);
  ASSERT_EQ(e.form.FormVarValues.Append("1"), 0);
  EXPECT_EQ(BuildOnly(e), HTTP_NO_SERVER);
  EXPECT_EQ(e.PostData(), "a=1&b=");
}

TEST(WebFormMultipart, LayoutOfOneVariable) {
  Engine e;
  e.form.SetEncoding(kWebFormMultipart);
  e.Add("f", "v");
  EXPECT_EQ(BuildOnly(e), HTTP_NO_SERVER);
  const std::string b = webformtest::Boundary(e.ContentType());
  ASSERT_FALSE(b.empty()) << e.ContentType();
  EXPECT_EQ(e.ContentType(), "multipart/form-data; boundary=\"" + b + "\"");
  EXPECT_EQ(b.rfind("--boundary", 0), 0u);
  // The variable's part, then an empty part without header lines.
  EXPECT_EQ(e.PostData(), "--" + b + "\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nv\r\n--" + b +
                              "\r\n\r\n\r\n--" + b + "--\r\n");
  // The MIME engine's text is not kept twice.
  EXPECT_EQ(e.form.Mime.message.Length(), 0u);
}

TEST(WebFormMultipart, PythonReadsNamesAndUnchangedValues) {
  Engine e;
  e.form.SetEncoding(kWebFormMultipart);
  std::string binary;
  for (int i = 1; i < 256; ++i) binary += static_cast<char>(i);
  binary += std::string("\0end", 4);
  e.Add("f", "sl1d1t1c1ohgv");
  e.Add("text", "two\r\nlines and = signs");
  e.Add("bin", binary);
  e.Add("empty", "");
  EXPECT_EQ(BuildOnly(e), HTTP_NO_SERVER);
  auto parts = PythonParts(e.ContentType(), e.PostData());
  ASSERT_EQ(parts.size(), 4u);
  const char* names[] = {"f", "text", "bin", "empty"};
  const std::string values[] = {"sl1d1t1c1ohgv", "two\r\nlines and = signs", binary, ""};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(parts[i].disposition, "form-data");
    EXPECT_EQ(parts[i].name, names[i]);
    EXPECT_EQ(parts[i].value, values[i]) << names[i];
  }
  // The raw bytes are in the body as they were given.
  EXPECT_NE(e.PostData().find(binary), std::string::npos);
}

TEST(WebFormMultipart, NoVariablesGiveTwoEmptyParts) {
  Engine e;
  e.form.SetEncoding(kWebFormMultipart);
  EXPECT_EQ(BuildOnly(e), HTTP_NO_SERVER);
  auto parts = PythonParts(e.ContentType(), e.PostData());
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].disposition + parts[0].value + parts[1].disposition + parts[1].value, "");
  // A second submit builds a fresh message with a boundary of its own making.
  e.Add("x", "1");
  EXPECT_EQ(BuildOnly(e), HTTP_NO_SERVER);
  parts = PythonParts(e.ContentType(), e.PostData());
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].name, "x");
}

TEST(WebFormMultipart, NameCannotBreakOutOfItsHeader) {
  Engine e;
  e.form.SetEncoding(kWebFormMultipart);
  e.Add("a\"b\r\nContent-Type: text/evil\r\n\r\nc", "v");
  e.Add("ok", "w");
  EXPECT_EQ(BuildOnly(e), HTTP_NO_SERVER);
  EXPECT_NE(e.PostData().find("name=\"a%22b%0D%0AContent-Type: text/evil%0D%0A%0D%0Ac\"\r\n\r\nv\r\n"),
            std::string::npos);
  auto parts = PythonParts(e.ContentType(), e.PostData());
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].value, "v");
  EXPECT_EQ(parts[1].name, "ok");
}

TEST(WebFormMultipart, MoreVariablesThanPartNumbersIsRefused) {
  Engine e;
  e.form.SetEncoding(kWebFormMultipart);
  for (std::uint32_t i = 0; i < 0x10000; ++i) {
    ASSERT_EQ(e.form.AddFormVar("n", "v"), 0);
  }
  EXPECT_EQ(BuildOnly(e), WEBFORM_BAD_PART);
  EXPECT_EQ(e.Error(), "Invalid PartIdx");
  EXPECT_EQ(e.form.Busy, 0);
  EXPECT_EQ(e.PostData(), "");
}

TEST(WebFormActions, BusyRefusesSubmitAndResetButNotInterrupt) {
  Engine e;
  e.Add("a", "1");
  e.form.PostData.SetText("kept");
  e.form.Busy = kWebFormSubmit;
  EXPECT_EQ(e.form.DoAction(kWebFormSubmit), WEBFORM_BUSY);
  EXPECT_EQ(e.Error(), "Busy performing current action.");
  EXPECT_EQ(e.form.DoAction(kWebFormReset), WEBFORM_BUSY);
  EXPECT_EQ(e.form.DoAction(9), WEBFORM_BUSY);
  // Nothing was touched.
  EXPECT_EQ(e.form.FormVarNames.Count(), 1u);
  EXPECT_EQ(e.PostData(), "kept");
  EXPECT_EQ(e.form.DoAction(kWebFormIdle), 0);
  EXPECT_EQ(e.form.Busy, 0);
  // Any other non-zero action submits.
  EXPECT_EQ(BuildOnly(e), HTTP_NO_SERVER);
  e.form.SetURL("/no/server", false);
  EXPECT_EQ(e.form.DoAction(200), HTTP_NO_SERVER);
  EXPECT_EQ(e.PostData(), "a=1");
}

TEST(WebFormActions, ResetEmptiesVariablesAndRequestButKeepsEncoding) {
  Engine e;
  e.form.SetEncoding(kWebFormMultipart);
  e.form.ProxyServer.SetText("proxy.test");
  e.form.SetURL("http://quotes.test/d/quotes.csv", false);
  e.Add("a", "1");
  EXPECT_EQ(e.form.Reset(), 0);
  EXPECT_EQ(e.form.FormVarNames.Count(), 0u);
  EXPECT_EQ(e.form.FormVarValues.Count(), 0u);
  EXPECT_EQ(e.ContentType(), "");
  EXPECT_EQ(e.URL(), "");
  EXPECT_EQ(e.form.Encoding, kWebFormMultipart);
  EXPECT_EQ(std::string(e.form.ProxyServer.Text()), "proxy.test");
  EXPECT_EQ(e.form.Busy, 0);
}

TEST(WebFormVariables, AddFormVarKeepsNamesAndValuesPaired) {
  Engine e;
  ASSERT_EQ(e.form.AddFormVar("f", "x"), 0);
  ASSERT_EQ(e.form.AddFormVar("s", "A B"), 0);
  EXPECT_EQ(std::string(e.form.FormVarNames.Get(1)), "s");
  EXPECT_EQ(std::string(e.form.FormVarValues.Get(1)), "A B");
  // A values list cut short elsewhere: the new value still belongs to the new name.
  ASSERT_EQ(e.form.FormVarValues.SetCount(0), 0);
  ASSERT_EQ(e.form.AddFormVar("t", "v"), 0);
  EXPECT_EQ(e.form.FormVarNames.Count(), 3u);
  EXPECT_EQ(e.form.FormVarValues.Count(), 3u);
  EXPECT_EQ(std::string(e.form.FormVarValues.Get(2)), "v");
  EXPECT_EQ(BuildOnly(e), HTTP_NO_SERVER);
  EXPECT_EQ(e.PostData(), "f=&s=&t=v");
  ASSERT_EQ(e.form.AddFormVar(nullptr, nullptr), 0);
  EXPECT_EQ(e.form.FormVarNames.GetLength(3), 0u);
}

// Every allocation of a submit failing in turn: the submit ends with 200 or builds its
// request whole, and the engine is idle afterwards either way.
TEST(WebFormFailures, AllocationFailuresEndTheSubmitCleanly) {
  for (int enc : {kWebFormURLEncoded, kWebFormMultipart, kWebFormQueryString}) {
    Engine e;
    e.form.SetEncoding(enc);
    e.Add("name", std::string(300, 'n'));
    e.Add(std::string(150, 'k'), std::string(500, 'v'));
    const unsigned long before = corv::test::AllocCalls();
    ASSERT_EQ(BuildOnly(e), HTTP_NO_SERVER);
    const std::string whole = e.PostData();
    const unsigned long calls = corv::test::AllocCalls() - before;
    ASSERT_GT(calls, 0u);
    unsigned failures = 0;
    for (unsigned skip = 0; skip < calls; ++skip) {
      int r;
      {
        corv::test::AllocFailureScope fail(skip, 1);
        r = BuildOnly(e);
      }
      EXPECT_EQ(e.form.Busy, 0);
      if (r == CORV_OUT_OF_MEMORY) {
        ++failures;
        // The HTTP engine leaves some of its 200s without a text for the component to fill.
        EXPECT_TRUE(e.Error().empty() || e.Error() == "Out of memory.") << enc << " " << skip;
      } else {
        EXPECT_EQ(r, HTTP_NO_SERVER) << enc << " " << skip;
        if (enc != kWebFormQueryString) {
          EXPECT_EQ(e.PostData().size(), whole.size()) << enc << " " << skip;
        }
      }
    }
    EXPECT_GT(failures, 2u) << enc;
    EXPECT_EQ(BuildOnly(e), HTTP_NO_SERVER);
    if (enc == kWebFormURLEncoded) {
      EXPECT_EQ(e.PostData(), whole);
    }
  }
  // A value that cannot be stored takes its name back out.
  Engine e;
  ASSERT_EQ(e.form.AddFormVar("a", "1"), 0);
  const std::string big(1000, 'b');
  bool failed = false;
  for (unsigned skip = 0; skip < 4 && !failed; ++skip) {
    corv::test::AllocFailureScope fail(skip, 1);
    failed = e.form.AddFormVar(big.c_str(), big.c_str()) == CORV_OUT_OF_MEMORY;
  }
  EXPECT_TRUE(failed);
  EXPECT_EQ(e.form.FormVarNames.Count(), e.form.FormVarValues.Count());
}

TEST(WebFormEvents, OnlyResponseTransfersReachTheSink) {
  Engine e;
  char block[] = "abcdef";
  e.form.FireStartTransfer(std::uint16_t(0));
  e.form.FireTransfer(std::uint16_t(0), 3, block, 3);
  e.form.FireEndTransfer(std::uint16_t(0));
  EXPECT_TRUE(e.sink.events.empty());
  e.form.FireStartTransfer(std::uint16_t(1));
  e.form.FireTransfer(std::uint16_t(1), 3, block, 3);
  e.form.FireTransfer(std::uint16_t(1), 3, nullptr, 0);
  e.form.FireEndTransfer(std::uint16_t(1));
  e.form.FireHeader(nullptr, "v");
  e.form.FireSetCookie("n", nullptr, nullptr, nullptr, nullptr, 1);
  e.form.FireConnected(0, "OK");
  e.form.FireDisconnected(10054, nullptr);
  e.form.FireError(7, "bad");
  EXPECT_EQ(e.sink.events, (std::vector<std::string>{"StartTransfer", "Transfer 3 3", "Transfer 3 0",
                                                       "EndTransfer", "Header : v", "SetCookie n=||||1",
                                                       "Connected 0 OK", "Disconnected 10054 ",
                                                       "Error 7 bad"}));
  // The NUL written for the call is taken back.
  EXPECT_TRUE(e.sink.nulOk);
  EXPECT_EQ(e.sink.body, "abc");
  EXPECT_EQ(std::string(block), "abcdef");
  // Without a sink nothing is raised and nothing breaks.
  e.form.EventSink = nullptr;
  EXPECT_EQ(e.form.FireTransfer(std::uint16_t(1), 3, block, 3), 0);
  EXPECT_EQ(e.form.FireConnected(0, "OK"), 0);
}

}  // namespace
