// The component base and the exception shared by every component of the library, with the
// result codes and Windows Sockets texts they report.
#pragma once
#include "corv/core/Errors.h"
#include "platform/vcl/core/classes.h"
#include "platform/vcl/core/sysutils.h"

class CORVCore : public TComponent {
 public:
  explicit CORVCore(TComponent* owner);
  ~CORVCore() override;

  // Writer of read-only published string properties: the value is discarded.
  void SetDummyAnsiString(AnsiString value);
};

// Raised by the components for a non-zero engine result. Message: "<code>: <text>".
class ECORVCore : public Exception {
 public:
  ECORVCore(int code, const char* message);

  int Code;
};

namespace Corvcore {
// The unit's registration: it has no component of its own to register.
void Register();
}  // namespace Corvcore
