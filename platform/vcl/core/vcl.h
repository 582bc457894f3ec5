// The framework core in one include: AnsiString, exceptions, components, closures, the
// published-property registry and form descriptions. No Qt.
#pragma once
#include "platform/vcl/core/ansistring.h"
#include "platform/vcl/core/classes.h"
#include "platform/vcl/core/formreader.h"
#include "platform/vcl/core/sysutils.h"
#include "platform/vcl/core/typinfo.h"
