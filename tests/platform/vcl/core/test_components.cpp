#include <gtest/gtest.h>

#include <vector>

#include "platform/vcl/core/classes.h"

namespace {

std::vector<AnsiString>* g_destroyed = nullptr;

class Tracked : public TComponent {
 public:
  explicit Tracked(TComponent* owner, const char* name = "") : TComponent(owner) { SetName(name); }
  ~Tracked() override {
    if (g_destroyed) g_destroyed->push_back(Name());
  }
};

}  // namespace

TEST(TComponent, OwnerDestroysItsComponentsLastFirst) {
  std::vector<AnsiString> destroyed;
  g_destroyed = &destroyed;
  auto* root = new Tracked(nullptr, "Form1");
  new Tracked(root, "Label1");
  auto* group = new Tracked(root, "GroupBox1");
  new Tracked(group, "Inner");
  new Tracked(root, "Timer1");
  EXPECT_EQ(root->ComponentCount(), 3);
  EXPECT_EQ(group->Owner(), root);
  delete root;
  g_destroyed = nullptr;
  // Each destructor body runs before its base tears the owned components down.
  std::vector<AnsiString> want = {"Form1", "Timer1", "GroupBox1", "Inner", "Label1"};
  EXPECT_EQ(destroyed, want);
}

TEST(TComponent, ComponentDeletedByHandLeavesItsOwner) {
  Tracked root(nullptr, "Form1");
  auto* a = new Tracked(&root, "A");
  new Tracked(&root, "B");
  delete a;
  ASSERT_EQ(root.ComponentCount(), 1);
  EXPECT_EQ(root.Components(0)->Name(), "B");
  EXPECT_EQ(root.FindComponent("a"), nullptr);
  EXPECT_THROW(root.Components(1), ERangeError);
}

TEST(TComponent, NamesAreIdentifiersUniqueWithinTheOwner) {
  Tracked root(nullptr, "Form1");
  auto* a = new Tracked(&root, "eSymbols");
  EXPECT_EQ(root.FindComponent("ESYMBOLS"), a);
  EXPECT_THROW(new Tracked(&root, "esymbols"), Exception);
  // The half-built component left its owner again as its constructor unwound.
  EXPECT_EQ(root.ComponentCount(), 1);
  Tracked other(nullptr);
  EXPECT_THROW(other.SetName("1abc"), Exception);
  EXPECT_THROW(other.SetName("a b"), Exception);
  other.SetName("_ok1");
  EXPECT_EQ(other.Name(), "_ok1");
}

TEST(TComponent, InsertMovesBetweenOwners) {
  Tracked a(nullptr, "A"), b(nullptr, "B");
  auto* c = new Tracked(&a, "C");
  b.InsertComponent(c);
  EXPECT_EQ(c->Owner(), &b);
  EXPECT_EQ(a.ComponentCount(), 0);
  EXPECT_EQ(b.ComponentCount(), 1);
}

TEST(Closure, CallsMemberOrCallableAndReportsEmpty) {
  struct Handler {
    int calls = 0;
    TObject* last = nullptr;
    void Click(TObject* sender) {
      ++calls;
      last = sender;
    }
    void Key(TObject*, char& key) {
      if (key == 13) key = 0;
    }
  } h;
  TNotifyEvent ev;
  EXPECT_FALSE(ev);
  EXPECT_TRUE(ev == nullptr);
  ev = TNotifyEvent(&h, &Handler::Click);
  ASSERT_TRUE(ev);
  EXPECT_EQ(ev.Object(), &h);
  Tracked sender(nullptr);
  ev(&sender);
  EXPECT_EQ(h.calls, 1);
  EXPECT_EQ(h.last, &sender);
  Closure<void(TObject*, char&)> key(&h, &Handler::Key);
  char k = 13;
  key(nullptr, k);
  EXPECT_EQ(k, 0);  // a handler can change the key it is given
  int n = 0;
  TNotifyEvent lambda = [&n](TObject*) { ++n; };
  lambda(nullptr);
  EXPECT_EQ(n, 1);
  ev = nullptr;
  EXPECT_FALSE(ev);
}

TEST(SetType, InsertRemoveContains) {
  enum Btn { b0, b1, b2 };
  Set<Btn> s = Set<Btn>() << b0 << b2;
  EXPECT_TRUE(s.Contains(b0));
  EXPECT_FALSE(s.Contains(b1));
  s >> b0;
  EXPECT_FALSE(s.Contains(b0));
  EXPECT_TRUE((Set<Btn>{b2} == s));
}

TEST(TStringList, IndexesFromZeroAndChecksBounds) {
  TStringList l;
  l.Add("COM3");
  l.Add("COM1");
  l.Insert(1, "COM2");
  EXPECT_EQ(l.Count(), 3);
  EXPECT_EQ(l[1], "COM2");
  EXPECT_EQ(l.IndexOf("com1"), 2);
  EXPECT_EQ(l.Text(), "COM3\r\nCOM2\r\nCOM1\r\n");
  EXPECT_THROW(l.Get(3), ERangeError);
  EXPECT_THROW(l.Insert(5, "x"), ERangeError);
  l.SetText("a\r\nb\nc");
  EXPECT_EQ(l.Count(), 3);
  EXPECT_EQ(l[2], "c");
  TStringList copy;
  copy.Assign(l);
  EXPECT_EQ(copy.Text(), l.Text());
}
