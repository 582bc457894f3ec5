#include "corv/core/Corvcore.h"

#include <string>

CORVCore::CORVCore(TComponent* owner) : TComponent(owner) {}

CORVCore::~CORVCore() = default;

void CORVCore::SetDummyAnsiString(AnsiString) {}

namespace {
AnsiString CodeMessage(int code, const char* message) {
  std::string text = std::to_string(code);
  text += ": ";
  if (message) text += message;
  return AnsiString(std::move(text));
}
}  // namespace

ECORVCore::ECORVCore(int code, const char* message) : Exception(CodeMessage(code, message)), Code(code) {}

namespace Corvcore {
void Register() {}
}  // namespace Corvcore
