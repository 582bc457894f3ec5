// The web form engine against a capture server (exact request bytes, nested actions) and
// nginx (a real server taking the three encodings).
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/corv/http/nginx_suite.h"
#include "tests/corv/http/webform_sink.h"
#include "tests/peers/http_capture.h"
#include "tests/peers/nginx.h"

namespace {

using peers::HttpCapture;
using webformtest::Engine;

std::string Head(const HttpCapture& cap) {
  return "Host: 127.0.0.1:" + std::to_string(cap.port()) + "\r\nUser-Agent: Corvane HTTP/S Control\r\n";
}

void QuoteForm(Engine& e) {
  e.Add("f", "sl1d1t1c1ohgv");
  e.Add("e", ".csv");
  e.Add("s", "MSFT IBM");
}

TEST(WebFormRequestBytes, URLEncodedPost) {
  HttpCapture cap;
  Engine e;
  QuoteForm(e);
  ASSERT_EQ(e.SubmitTo(cap.Url("/d/quotes.csv")), 0) << e.Error();
  EXPECT_EQ(cap.NextRequest(), "POST /d/quotes.csv HTTP/1.0\r\n" + Head(cap) +
                                   "Content-Type: application/x-www-form-urlencoded\r\n"
                                   "Content-Length: 35\r\n\r\nf=sl1d1t1c1ohgv&e=.csv&s=MSFT%20IBM");
  EXPECT_EQ(e.form.Busy, 0);

  // After a reset the type is empty until the encoding is written again: no Content-Type.
  ASSERT_EQ(e.form.Reset(), 0);
  e.Add("a", "1");
  ASSERT_EQ(e.SubmitTo(cap.Url("/r")), 0) << e.Error();
  EXPECT_EQ(cap.NextRequest(), "POST /r HTTP/1.0\r\n" + Head(cap) + "Content-Length: 3\r\n\r\na=1");
}

TEST(WebFormRequestBytes, MultipartPost) {
  HttpCapture cap;
  Engine e;
  e.form.SetEncoding(kWebFormMultipart);
  e.Add("f", "sl1d1t1c1ohgv");
  e.Add("s", std::string("A\0\xff", 3));
  ASSERT_EQ(e.SubmitTo(cap.Url("/m")), 0) << e.Error();
  const std::string b = webformtest::Boundary(e.ContentType());
  ASSERT_FALSE(b.empty());
  const std::string body = "--" + b + "\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nsl1d1t1c1ohgv\r\n--" +
                           b + "\r\nContent-Disposition: form-data; name=\"s\"\r\n\r\n" +
                           std::string("A\0\xff", 3) + "\r\n--" + b + "--\r\n";
  EXPECT_EQ(cap.NextRequest(), "POST /m HTTP/1.0\r\n" + Head(cap) + "Content-Type: multipart/form-data; boundary=\"" +
                                   b + "\"\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  // The submitted type and body stay in the engine.
  EXPECT_EQ(e.PostData(), body);
}

TEST(WebFormRequestBytes, QueryStringGets) {
  HttpCapture cap;
  Engine e;
  e.form.SetEncoding(kWebFormQueryString);
  ASSERT_EQ(e.SubmitTo(cap.Url("/q")), 0) << e.Error();
  EXPECT_EQ(cap.NextRequest(), "GET /q? HTTP/1.0\r\n" + Head(cap) + "\r\n");
  e.Add("a", "1");
  e.Add("b", "x y");
  ASSERT_EQ(e.SubmitTo(cap.Url("/q")), 0) << e.Error();
  EXPECT_EQ(cap.NextRequest(), "GET /q?a=1&b=x%20y HTTP/1.0\r\n" + Head(cap) + "\r\n");
  // Without setting the URL again the query is appended to the last one.
  ASSERT_EQ(e.form.DoAction(kWebFormSubmit), 0) << e.Error();
  EXPECT_EQ(cap.NextRequest(), "GET /q?a=1&b=x%20y?a=1&b=x%20y HTTP/1.0\r\n" + Head(cap) + "\r\n");
  EXPECT_EQ(e.URL(), cap.Url("/q?a=1&b=x%20y?a=1&b=x%20y"));
  EXPECT_EQ(e.PostData(), "");

  // An unknown encoding sends nothing at all.
  e.form.PostData.SetText("old");
  e.form.SetEncoding(5);
  EXPECT_EQ(e.form.DoAction(kWebFormSubmit), 0);
  EXPECT_EQ(cap.Connections(), 3);
  EXPECT_EQ(e.PostData(), "");
}

TEST(WebFormEvents, ResponseEventsInOrderAndNoneForTheRequestBody) {
  HttpCapture cap(HttpCapture::Mode::Reply, "HTTP/1.0 200 OK\r\nSet-Cookie: id=7; path=/\r\n\r\n" +
                                                std::string(5000, 'q'));
  peers::TempDir dir("tavlin-webform");
  Engine e;
  QuoteForm(e);
  // A request body with an attached file raises the HTTP engine's send progress too.
  e.form.AttachedFile.SetText(dir.Write("extra.bin", std::string(40000, 'x')).c_str());
  ASSERT_EQ(e.SubmitTo(cap.Url("/d/quotes.csv")), 0) << e.Error();
  const std::string request = cap.NextRequest();
  EXPECT_NE(request.find("Content-Length: 40035\r\n\r\nf=sl1d1t1c1ohgv&e=.csv&s=MSFT%20IBM" +
                         std::string(40000, 'x')),
            std::string::npos);
  EXPECT_EQ(e.sink.Outline(), (std::vector<std::string>{"Connected 0 OK", "Header", "SetCookie id=7|||/|0",
                                                         "StartTransfer", "Transfer", "EndTransfer",
                                                         "Disconnected 0 OK"}));
  EXPECT_EQ(e.sink.body, std::string(5000, 'q'));
  EXPECT_TRUE(e.sink.nulOk);
  // Byte counts are those of the response alone.
  EXPECT_EQ(e.sink.events[e.sink.events.size() - 3].rfind("Transfer 5000 ", 0), 0u);
}

TEST(WebFormNested, SubmitAndResetFromAHandlerAreRefused) {
  HttpCapture cap;
  Engine e;
  QuoteForm(e);
  int submit = -1, reset = -1, busy = -1;
  e.sink.then = [&](const std::string& ev) {
    if (ev != "StartTransfer") return;
    busy = e.form.Busy;
    submit = e.form.DoAction(kWebFormSubmit);
    reset = e.form.DoAction(kWebFormReset);
  };
  ASSERT_EQ(e.SubmitTo(cap.Url("/d/quotes.csv")), 0) << e.Error();
  EXPECT_EQ(busy, kWebFormSubmit);
  EXPECT_EQ(submit, WEBFORM_BUSY);
  EXPECT_EQ(reset, WEBFORM_BUSY);
  EXPECT_EQ(e.form.FormVarNames.Count(), 3u);
  EXPECT_EQ(e.sink.body, "ok");
  EXPECT_EQ(cap.Connections(), 1);
}

TEST(WebFormNested, InterruptEndsTheSubmitAndNothingElseStartsMeanwhile) {
  HttpCapture cap(HttpCapture::Mode::NeverAnswer);
  Engine e;
  QuoteForm(e);
  int interrupt = -1, submit = -1, reset = -1, busy = -1;
  e.sink.then = [&](const std::string& ev) {
    if (ev != "Connected 0 OK") return;
    interrupt = e.form.DoAction(kWebFormIdle);
    busy = e.form.Busy;
    // The outer submit is still on the stack with its body: a new one must wait.
    submit = e.form.DoAction(kWebFormSubmit);
    reset = e.form.DoAction(kWebFormReset);
  };
  EXPECT_EQ(e.SubmitTo(cap.Url("/d/quotes.csv")), CORV_INTERRUPTED);
  EXPECT_EQ(interrupt, 0);
  EXPECT_EQ(busy, 0);
  EXPECT_EQ(submit, WEBFORM_BUSY);
  EXPECT_EQ(reset, WEBFORM_BUSY);
  EXPECT_EQ(e.form.FormVarNames.Count(), 3u);
  EXPECT_EQ(e.PostData(), "f=sl1d1t1c1ohgv&e=.csv&s=MSFT%20IBM");
  EXPECT_EQ(e.form.Busy, 0);
  // Afterwards a submit runs again.
  e.sink.then = nullptr;
  cap.SetReply(HttpCapture::Mode::Reply, "HTTP/1.0 200 OK\r\n\r\nagain");
  ASSERT_EQ(e.form.DoAction(kWebFormSubmit), 0) << e.Error();
  EXPECT_EQ(e.sink.body, "again");
}

TEST(WebFormNested, HandlerExceptionLeavesTheEngineIdle) {
  HttpCapture cap;
  Engine e;
  e.sink.then = [&](const std::string& ev) {
    if (ev.rfind("Transfer", 0) == 0) throw std::runtime_error("handler");
  };
  EXPECT_THROW(e.SubmitTo(cap.Url("/x")), std::runtime_error);
  EXPECT_EQ(e.form.Busy, 0);
  e.sink.then = nullptr;
  EXPECT_EQ(e.SubmitTo(cap.Url("/x")), 0) << e.Error();
}

class WebFormNginx : public NginxSuite<WebFormNginx> {};

TEST_F(WebFormNginx, ServerTakesEveryEncoding) {
  Engine e;
  QuoteForm(e);
  ASSERT_EQ(e.SubmitTo(Url("/echo")), 0) << e.Error();
  EXPECT_NE(e.sink.body.find("method=POST\nuri=/echo\n"), std::string::npos) << e.sink.body;
  EXPECT_NE(e.sink.body.find("type=application/x-www-form-urlencoded\nlength=35\n"), std::string::npos)
      << e.sink.body;

  e.sink.body.clear();
  e.form.SetEncoding(kWebFormMultipart);
  ASSERT_EQ(e.SubmitTo(Url("/echo")), 0) << e.Error();
  EXPECT_NE(e.sink.body.find("type=" + e.ContentType() + "\nlength=" + std::to_string(e.PostData().size())),
            std::string::npos)
      << e.sink.body;

  e.sink.body.clear();
  e.form.SetEncoding(kWebFormQueryString);
  ASSERT_EQ(e.SubmitTo(Url("/echo")), 0) << e.Error();
  EXPECT_NE(e.sink.body.find("method=GET\nuri=/echo?f=sl1d1t1c1ohgv&e=.csv&s=MSFT%20IBM\n"), std::string::npos)
      << e.sink.body;
  EXPECT_EQ(e.sink.body, std::string(e.form.TransferredData.Text(), e.form.TransferredData.Length()));
}

TEST_F(WebFormNginx, FailedStatusEndsTheSubmit) {
  Engine e;
  QuoteForm(e);
  EXPECT_EQ(e.SubmitTo(Url("/missing")), HTTP_STATUS_FAILED);
  EXPECT_EQ(e.Error().substr(0, 3), "404");
  EXPECT_EQ(e.form.Busy, 0);
  EXPECT_EQ(e.sink.Count("EndTransfer"), 1);
}

}  // namespace
