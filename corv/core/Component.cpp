#include "corv/core/Component.h"

#include <cstdio>

#include "corv/core/AsyncIPPort.h"
#include "corv/core/Winsock.h"
#include "platform/vcl/core/typinfo.h"
#include "platform/win32/module.h"

namespace {

constexpr DWORD kDoEventsMs = 20;

AnsiString Bytes(const DynStr& s) { return AnsiString(s.Text(), static_cast<int>(s.Length())); }

// The published common properties live on the shared ancestor, so every component class
// registered below it has them.
const bool registered = [] {
  vcl::RegisterEnum<TFIREWALLTYPES>({{"fwNone", fwNone}, {"fwTunnel", fwTunnel}, {"fwSOCKS4", fwSOCKS4},
                                     {"fwSOCKS5", fwSOCKS5}});
  vcl::RegisterClass<CORVCore, TComponent>("CORVCore");
  vcl::RegisterClass<TcorvComponent, CORVCore>("TcorvComponent")
      .Property("FirewallHost", &TcorvComponent::FFirewallHost, &TcorvComponent::FSetFirewallHost)
      .Default(AnsiString())
      .Property("FirewallPassword", &TcorvComponent::FFirewallPassword, &TcorvComponent::FSetFirewallPassword)
      .Default(AnsiString())
      // The type's writer also sets the port: the type is written first, so a stored port
      // is read after it and kept.
      .Property("FirewallType", &TcorvComponent::FFirewallType, &TcorvComponent::FSetFirewallType)
      .Default(fwNone)
      .Property("FirewallPort", &TcorvComponent::FFirewallPort, &TcorvComponent::FSetFirewallPort)
      .Default(static_cast<unsigned short>(0))
      .Property("FirewallUser", &TcorvComponent::FFirewallUser, &TcorvComponent::FSetFirewallUser)
      .Default(AnsiString())
      .Property("LocalHost", &TcorvComponent::FLocalHost, &TcorvComponent::FSetLocalHost)
      .NotStored()
      .Property("Timeout", &TcorvComponent::FTimeout, &TcorvComponent::FSetTimeout)
      .Default(0)
      .Property("WinsockInfo", &TcorvComponent::FWinsockInfo, &CORVCore::SetDummyAnsiString)
      .NotStored()
      .Property("WinsockLoaded", &TcorvComponent::FWinsockLoaded, &TcorvComponent::FSetWinsockLoaded)
      .Default(true)
      .Property("WinsockStatus", &TcorvComponent::FWinsockStatus, &CORVCore::SetDummyAnsiString)
      .NotStored();
  return true;
}();

}  // namespace

void InitWinsockRecord(CWinsock& record) {
  if (!record.Instance) record.Instance = GetModuleHandleA(nullptr);
  record.Init();
}

TcorvComponent::TcorvComponent(TComponent* owner, const char* word) : CORVCore(owner), word_(word) {}

TcorvComponent::~TcorvComponent() = default;

void TcorvComponent::TreatErr(int Code) {
  if (Code == CORV_OK) return;
  if (Code == CORV_OUT_OF_MEMORY) throw EOutOfMemory(AnsiString(word_) + ". Out of memory.");
  // Without an engine (a failed construction) there is no text to report.
  if (!engine_) throw ECORVCore(Code, "");
  if (!engine_->ErrorText) engine_->SetErrorText(Code);
  throw ECORVCore(Code, engine_->GetErrorText());
}

bool TcorvComponent::CheckIndexForRead(unsigned index, unsigned count, int code, const char* readerText) {
  engine_->SetFixedErrorText("");
  if (index >= 1 && index <= count) return true;
  throw ECORVCore(code, readerText);
}

bool TcorvComponent::CheckIndexForWrite(unsigned index, unsigned count, int code, const char* writerText) {
  engine_->SetFixedErrorText("");
  if (index >= 1 && index <= count) return true;
  engine_->SetFixedErrorText(writerText);
  TreatErr(code);
  return false;
}

void TcorvComponent::DoEvents() { engine_->DoEvents(kDoEventsMs, engine_->Window); }

long TcorvComponent::FCharsetMode() { return engine_->CharsetMode; }

void TcorvComponent::FSetCharsetMode(long value) {
  // The engine keeps a signed byte.
  engine_->CharsetMode = static_cast<signed char>(static_cast<unsigned char>(value & 0xFF));
  TreatErr(0);
}

bool TcorvComponent::FConnected() { return engine_->Firewall.IsConnected(); }

AnsiString TcorvComponent::FFirewallData() { return Bytes(engine_->Firewall.FirewallData); }

void TcorvComponent::FSetFirewallData(AnsiString value) {
  TreatErr(engine_->Firewall.FirewallData.Set(static_cast<std::uint32_t>(value.Length()), value.data()));
}

void TcorvComponent::SetFirewallData(char* Data, unsigned short Length) {
  if (!Data) Length = 0;
  TreatErr(engine_->Firewall.FirewallData.Set(Length, Data));
}

AnsiString TcorvComponent::FFirewallHost() {
  const DWORD addr = engine_->Firewall.FirewallAddr;
  if (!addr) return AnsiString();
  // Network order: the first byte in memory is the first number.
  const auto* b = reinterpret_cast<const unsigned char*>(&addr);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return AnsiString(text);
}

void TcorvComponent::FSetFirewallHost(AnsiString value) {
  // A failed resolution reports its own code's text, not one left by an earlier operation.
  engine_->ClearErrorText();
  TreatErr(engine_->Firewall.SetFirewallHost(value.c_str()));
}

AnsiString TcorvComponent::FFirewallPassword() { return AnsiString(engine_->Firewall.FirewallPassword.Text()); }

void TcorvComponent::FSetFirewallPassword(AnsiString value) {
  TreatErr(engine_->Firewall.SetFirewallPassword(value.c_str()));
}

unsigned short TcorvComponent::FFirewallPort() { return engine_->Firewall.FirewallPort; }

void TcorvComponent::FSetFirewallPort(unsigned short value) {
  engine_->Firewall.FirewallPort = value;
  TreatErr(0);
}

TFIREWALLTYPES TcorvComponent::FFirewallType() {
  return static_cast<TFIREWALLTYPES>(engine_->Firewall.FirewallType);
}

void TcorvComponent::FSetFirewallType(TFIREWALLTYPES value) {
  engine_->Firewall.FirewallType = static_cast<BYTE>(value);
  engine_->Firewall.FirewallPort = (value == fwSOCKS4 || value == fwSOCKS5) ? 1080 : 80;
  TreatErr(0);
}

AnsiString TcorvComponent::FFirewallUser() { return AnsiString(engine_->Firewall.FirewallUser.Text()); }

void TcorvComponent::FSetFirewallUser(AnsiString value) {
  TreatErr(engine_->Firewall.SetFirewallUser(value.c_str()));
}

AnsiString TcorvComponent::FLocalHost() { return AnsiString(engine_->GetLocalHost()); }

void TcorvComponent::FSetLocalHost(AnsiString value) { TreatErr(engine_->SetLocalHost(value.c_str())); }

int TcorvComponent::FSocketHandle() { return static_cast<int>(engine_->Socket); }

int TcorvComponent::FTimeout() { return static_cast<int>(engine_->GetTimeout()); }

void TcorvComponent::FSetTimeout(int value) { TreatErr(engine_->SetTimeout(static_cast<DWORD>(value))); }

AnsiString TcorvComponent::FWinsockInfo() { return AnsiString(engine_->GetWinsockInfo()); }

bool TcorvComponent::FWinsockLoaded() { return engine_->GetWinsockLoaded(); }

void TcorvComponent::FSetWinsockLoaded(bool value) { engine_->UseWinsock(value); }

unsigned short TcorvComponent::FWinsockMaxDatagramSize() { return engine_->GetWinsockMaxDatagramSize(); }

unsigned short TcorvComponent::FWinsockMaxSockets() { return engine_->GetWinsockMaxSockets(); }

AnsiString TcorvComponent::FWinsockPath() { return AnsiString(engine_->GetWinsockPath()); }

void TcorvComponent::FSetWinsockPath(AnsiString value) { TreatErr(engine_->SetWinsockPath(value.c_str())); }

AnsiString TcorvComponent::FWinsockStatus() { return AnsiString(engine_->GetWinsockStatus()); }

void TcorvComponent::ThrowOrphaned(int r, const AnsiString& text, const char* outOfMemory) {
  if (r == CORV_OUT_OF_MEMORY) throw EOutOfMemory(outOfMemory);
  throw ECORVCore(r, text.c_str());
}
