// The frame shared by the library's components: error translation, event copies, indexed
// properties and the properties and methods that every component has over its socket
// engine. A component keeps no state of its own beyond its event handlers: each reader asks
// the engine, each writer and method ends by handing the engine's result to TreatErr.
#pragma once
#include <cstdint>

#include "corv/core/Corvcore.h"
#include "corv/core/Errors.h"
#include "corv/core/Firewall.h"
#include "platform/vcl/core/classes.h"

class CAsyncIPPort;
class CWinsock;

// Handlers of the events that the components share.
using TcorvErrorEvent = Closure<void(TObject* Sender, int ErrorCode, AnsiString& Description)>;
using TcorvHeaderEvent = Closure<void(TObject* Sender, AnsiString& Field, AnsiString& Value)>;
using TcorvSetCookieEvent = Closure<void(TObject* Sender, AnsiString& Name, AnsiString& Value,
                                         AnsiString& Expires, AnsiString& Domain, AnsiString& Path,
                                         bool Secure)>;

// The default UserAgent of the HTTP-based components.
inline constexpr const char* kCorvComponentBanner =
    "Corvane V5 HTTP/S Component - (c) tavlin Corvane library";

// An indexed property: `c->FormVarNames[2]` reads, `c->FormVarNames[2] = "s"` writes.
template <class C, class T, auto Get, auto Put = nullptr>
class IndexedProperty {
 public:
  class Ref {
   public:
    Ref(C* o, unsigned short i) : o_(o), i_(i) {}
    operator T() const { return (o_->*Get)(i_); }  // NOLINT
    T operator()() const { return (o_->*Get)(i_); }
    const Ref& operator=(const T& v) const {
      static_assert(!std::is_same_v<decltype(Put), std::nullptr_t>, "read-only property");
      if constexpr (!std::is_same_v<decltype(Put), std::nullptr_t>) (o_->*Put)(i_, v);
      return *this;
    }
    const Ref& operator=(const Ref& other) const { return *this = other(); }

   private:
    C* o_;
    unsigned short i_;
  };

  explicit IndexedProperty(C* owner) : o_(owner) {}
  IndexedProperty(const IndexedProperty&) = delete;
  Ref operator[](unsigned short index) const { return Ref(o_, index); }

 private:
  C* o_;
};

// Records the program's instance for the unit's window class when none is recorded yet, then
// returns the record to its start state unless Windows Sockets was started through it.
void InitWinsockRecord(CWinsock& record);

// A fresh copy of an engine text for a handler's AnsiString & parameter; null gives "".
inline AnsiString EventText(const char* text) { return AnsiString(text ? text : ""); }

// The base of every component. It is registered with the published common properties, so a
// component class registered as its descendant has them in form descriptions too.
class TcorvComponent : public CORVCore {
 public:
  ~TcorvComponent() override;

  // 0 returns; 200 raises EOutOfMemory("<Word>. Out of memory."); any other code raises
  // ECORVCore with the engine's error text, derived from the code when the engine has none.
  void TreatErr(int Code);

  // One pass of the engine's wait, at most 20 ms; never raises.
  void DoEvents();
  // The component's idle action: stops a running operation.
  virtual void Interrupt() = 0;

  long FCharsetMode();
  void FSetCharsetMode(long value);
  // Reader of Connected, which every component but the mail sender declares.
  bool FConnected();
  AnsiString FFirewallData();
  void FSetFirewallData(AnsiString value);
  void SetFirewallData(char* Data, unsigned short Length);
  AnsiString FFirewallHost();
  void FSetFirewallHost(AnsiString value);
  AnsiString FFirewallPassword();
  void FSetFirewallPassword(AnsiString value);
  unsigned short FFirewallPort();
  void FSetFirewallPort(unsigned short value);
  TFIREWALLTYPES FFirewallType();
  void FSetFirewallType(TFIREWALLTYPES value);
  AnsiString FFirewallUser();
  void FSetFirewallUser(AnsiString value);
  AnsiString FLocalHost();
  void FSetLocalHost(AnsiString value);
  int FSocketHandle();
  int FTimeout();
  void FSetTimeout(int value);
  AnsiString FWinsockInfo();
  bool FWinsockLoaded();
  void FSetWinsockLoaded(bool value);
  unsigned short FWinsockMaxDatagramSize();
  unsigned short FWinsockMaxSockets();
  AnsiString FWinsockPath();
  void FSetWinsockPath(AnsiString value);
  AnsiString FWinsockStatus();

  Property<TcorvComponent, long, &TcorvComponent::FCharsetMode, &TcorvComponent::FSetCharsetMode> CharsetMode{this};
  Property<TcorvComponent, AnsiString, &TcorvComponent::FFirewallData, &TcorvComponent::FSetFirewallData>
      FirewallData{this};
  Property<TcorvComponent, AnsiString, &TcorvComponent::FFirewallHost, &TcorvComponent::FSetFirewallHost>
      FirewallHost{this};
  Property<TcorvComponent, AnsiString, &TcorvComponent::FFirewallPassword,
           &TcorvComponent::FSetFirewallPassword>
      FirewallPassword{this};
  Property<TcorvComponent, unsigned short, &TcorvComponent::FFirewallPort, &TcorvComponent::FSetFirewallPort>
      FirewallPort{this};
  Property<TcorvComponent, TFIREWALLTYPES, &TcorvComponent::FFirewallType, &TcorvComponent::FSetFirewallType>
      FirewallType{this};
  Property<TcorvComponent, AnsiString, &TcorvComponent::FFirewallUser, &TcorvComponent::FSetFirewallUser>
      FirewallUser{this};
  Property<TcorvComponent, AnsiString, &TcorvComponent::FLocalHost, &TcorvComponent::FSetLocalHost> LocalHost{this};
  Property<TcorvComponent, int, &TcorvComponent::FSocketHandle> SocketHandle{this};
  Property<TcorvComponent, int, &TcorvComponent::FTimeout, &TcorvComponent::FSetTimeout> Timeout{this};
  Property<TcorvComponent, AnsiString, &TcorvComponent::FWinsockInfo, &CORVCore::SetDummyAnsiString>
      WinsockInfo{this};
  Property<TcorvComponent, bool, &TcorvComponent::FWinsockLoaded, &TcorvComponent::FSetWinsockLoaded>
      WinsockLoaded{this};
  Property<TcorvComponent, unsigned short, &TcorvComponent::FWinsockMaxDatagramSize> WinsockMaxDatagramSize{this};
  Property<TcorvComponent, unsigned short, &TcorvComponent::FWinsockMaxSockets> WinsockMaxSockets{this};
  Property<TcorvComponent, AnsiString, &TcorvComponent::FWinsockPath, &TcorvComponent::FSetWinsockPath>
      WinsockPath{this};
  Property<TcorvComponent, AnsiString, &TcorvComponent::FWinsockStatus, &CORVCore::SetDummyAnsiString>
      WinsockStatus{this};

 protected:
  // word names the component in its out-of-memory message ("WebForm").
  TcorvComponent(TComponent* owner, const char* word);
  // The engine of the component's thunk; set once the engine is initialised.
  void AttachEngine(CAsyncIPPort* engine) { engine_ = engine; }
  CAsyncIPPort& Engine() const { return *engine_; }
  // Sets the engine's error text to "" before an index is checked; for an index outside
  // 1..count a reader raises ECORVCore(code, readerText) at once, a writer passes the code to
  // TreatErr with writerText as the engine's text. True when the index is in range.
  bool CheckIndexForRead(unsigned index, unsigned count, int code, const char* readerText);
  bool CheckIndexForWrite(unsigned index, unsigned count, int code, const char* writerText);

  // Hands handler h a copy of text with code; nothing when h is unset.
  template <class Handler>
  void FireCodeText(Handler& h, int code, const char* text) {
    if (!h) return;
    AnsiString d = EventText(text);
    h(this, code, d);
  }

  // Runs op(engine) for the thunk t (which embeds Engine, counts Depth and is marked Orphaned
  // once its component is gone). op may pump messages: a component destroyed by a handler
  // meanwhile is not touched again, its result is reported through the engine alone
  // (outOfMemory is the out-of-memory text), and the outermost call frees t. recover(engine)
  // runs when op raises in the outermost call of a living component.
  template <class Thunk, class Op, class Recover>
  void RunOnThunk(Thunk* t, const Op& op, const char* outOfMemory, const Recover& recover);
  template <class Thunk, class Op>
  void RunOnThunk(Thunk* t, const Op& op, const char* outOfMemory) {
    RunOnThunk(t, op, outOfMemory, [](auto&) {});
  }
  // The destructor's part: stops a running action with idle and leaves t to the call that
  // started it, or frees t at once.
  template <class Thunk>
  static void ReleaseThunk(Thunk* t, int idle);
  // Reports r as TreatErr would, but through the engine alone: the component is gone.
  [[noreturn]] static void ThrowOrphaned(int r, const AnsiString& text, const char* outOfMemory);

 private:
  CAsyncIPPort* engine_ = nullptr;
  const char* word_;
};

template <class Thunk, class Op, class Recover>
void TcorvComponent::RunOnThunk(Thunk* t, const Op& op, const char* outOfMemory, const Recover& recover) {
  auto& e = t->Engine;
  ++t->Depth;
  int r;
  try {
    r = op(e);
  } catch (...) {
    if (--t->Depth == 0) {
      if (t->Orphaned)
        delete t;
      else
        recover(e);
    }
    throw;
  }
  --t->Depth;
  if (t->Orphaned) {
    // This component was destroyed by a handler: report through the engine alone.
    if (r != 0 && r != CORV_OUT_OF_MEMORY && !e.ErrorText) e.SetErrorText(r);
    const AnsiString text = r ? AnsiString(e.GetErrorText()) : AnsiString();
    if (t->Depth == 0) delete t;
    if (r != 0) ThrowOrphaned(r, text, outOfMemory);
    return;
  }
  TreatErr(r);
}

template <class Thunk>
void TcorvComponent::ReleaseThunk(Thunk* t, int idle) {
  if (!t) return;
  t->Owner = nullptr;
  if (t->Depth > 0) {
    // Destroyed from a handler: the running wait lower on the stack still uses the engine.
    // Stop it; the call that started it frees the thunk when it unwinds.
    t->Orphaned = true;
    t->Engine.DoAction(idle);
    return;
  }
  delete t;
}
