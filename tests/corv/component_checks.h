// Checks shared by the tests of the components (TcorvHTTP, TcorvWebForm, TcorvFileMailer,
// TcorvFTP).
#pragma once
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "corv/core/Alloc.h"
#include "corv/core/Component.h"
#include "corv/core/Winsock.h"
#include "platform/vcl/core/formreader.h"

namespace componenttest {

// Runs f, expecting ECORVCore with the code and the message "<code>: <text>".
template <class F>
void ExpectCorv(F f, int code, const std::string& text) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected " << code;
  } catch (const ECORVCore& e) {
    EXPECT_EQ(e.Code, code);
    EXPECT_EQ(e.Message.str(), std::to_string(code) + ": " + text);
  }
}

// Runs f, expecting EOutOfMemory with the message text; ECORVCore is a failure.
template <class F>
void ExpectOutOfMemory(F f, const char* text) {
  try {
    f();
    ADD_FAILURE();
  } catch (const ECORVCore&) {
    ADD_FAILURE() << "out of memory must not be ECORVCore";
  } catch (const EOutOfMemory& e) {
    EXPECT_EQ(e.Message, text);
  }
}

// Runs f, returning the ECORVCore it raises (Code -1 when none).
template <class F>
ECORVCore Raised(F f) {
  try {
    f();
  } catch (const ECORVCore& e) {
    return e;
  }
  return ECORVCore(-1, "nothing raised");
}

// A component of class C, owned by owner, whose OnConnected handler frees it while start(c)
// runs a request: the request stops, and the call reports 301 without touching the freed
// component. The handler is stored in the component: nothing of it may be touched after the
// delete.
template <class C, class Start>
void ExpectFreedByOwnHandler(TComponent& owner, Start start) {
  auto* c = new C(&owner);
  bool destroyed = false;
  c->OnConnected = [&](TObject* sender, int, AnsiString&) {
    destroyed = true;
    delete static_cast<C*>(sender);
  };
  const ECORVCore e = Raised([&] { start(*c); });
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(e.Code, 301);
  EXPECT_EQ(owner.ComponentCount(), 0);
}

// Constructs C with every allocation of the construction failing in turn and adds the
// out-of-memory texts raised to messages; check(c, skip) runs on each component that is built,
// and every Windows Sockets start of record is given back.
template <class C, class Check>
void CollectConstructionFailures(CWinsock& record, Check check, std::set<std::string>& messages) {
  const unsigned before = record.UseCount;
  const unsigned long first = corv::test::AllocCalls();
  { C c(nullptr); }
  const unsigned long calls = corv::test::AllocCalls() - first;
  ASSERT_GT(calls, 0u);
  for (unsigned skip = 0; skip < calls; ++skip) {
    try {
      corv::test::AllocFailureScope fail(skip, 1);
      C c(nullptr);
      check(c, skip);
    } catch (const EOutOfMemory& e) {
      messages.insert(e.Message.str());
    }
    EXPECT_EQ(record.UseCount, before) << skip;
  }
}

// The description with its first `from` replaced by `to` does not read into a fresh Root.
template <class Root>
void ExpectUnreadable(std::string description, const std::string& from, const std::string& to) {
  Root root(nullptr);
  description.replace(description.find(from), from.size(), to);
  EXPECT_THROW(vcl::ReadRootComponent(&root, description), EReadError);
}

}  // namespace componenttest
