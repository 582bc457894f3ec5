#include <gtest/gtest.h>

#include <string>

#include "corv/core/Core.h"
#include "corv/core/Corvcore.h"

namespace {
// What a component does with an engine result: the exception it raises.
void Raise(CCore& engine, int code) {
  if (code == 0) return;
  if (!engine.HasErrorText()) engine.SetErrorText(code);
  throw ECORVCore(code, engine.GetErrorText());
}

std::string MessageOf(CCore& engine, int code) {
  try {
    Raise(engine, code);
  } catch (const ECORVCore& e) {
    EXPECT_EQ(e.Code, code);
    return e.Message.c_str();
  }
  return "(nothing raised)";
}
}  // namespace

TEST(ECORVCore, MessageIsCodeColonText) {
  const ECORVCore e(10061, "[10061] Connection refused");
  EXPECT_EQ(e.Code, 10061);
  EXPECT_STREQ(e.Message.c_str(), "10061: [10061] Connection refused");
  EXPECT_STREQ(e.what(), "10061: [10061] Connection refused");
  EXPECT_STREQ(ECORVCore(143, "Busy performing current action.").Message.c_str(),
               "143: Busy performing current action.");
  EXPECT_STREQ(ECORVCore(-5, "x").Message.c_str(), "-5: x");
  EXPECT_STREQ(ECORVCore(7, nullptr).Message.c_str(), "7: ");
  EXPECT_STREQ(ECORVCore(7, "").Message.c_str(), "7: ");
}

TEST(ECORVCore, IsTheFrameworksException) {
  try {
    throw ECORVCore(301, "Timeout.");
  } catch (const Exception& e) {
    EXPECT_STREQ(e.Message.c_str(), "301: Timeout.");
  }
}

TEST(ECORVCore, EngineResultsReadAsTheUserSeesThem) {
  CCore engine;
  engine.Init();
  EXPECT_EQ(MessageOf(engine, 10061), "10061: [10061] Connection refused");
  engine.ClearErrorText();
  EXPECT_EQ(MessageOf(engine, 12345), "12345: [12345] (no description available)");
  engine.SetFixedErrorText("Timeout.");
  EXPECT_EQ(MessageOf(engine, 301), "301: Timeout.");
  engine.ClearErrorText();
  EXPECT_EQ(MessageOf(engine, 301), "301: Interrupted.");
}

TEST(CORVCore, IsAnOwnedFrameworkComponent) {
  TComponent owner(nullptr);
  auto* c = new CORVCore(&owner);
  EXPECT_EQ(c->Owner(), &owner);
  ASSERT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), c);
  c->SetDummyAnsiString("ignored");
  c->SetName("WebForm1");
  EXPECT_STREQ(c->Name().c_str(), "WebForm1");
  Corvcore::Register();
  // The owner destroys it.
}
