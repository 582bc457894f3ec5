// The host that makes every wait of the message queue also run Qt: paints, clicks and key
// presses are processed inside blocking library calls, and socket fds are watched by Qt.
#pragma once
#include <memory>

#include "platform/win32/host.h"

namespace vcl {

// A QApplication must exist. Wait(0) polls the watched fds and gives Qt a turn at most once
// a millisecond; longer waits run in Qt's dispatcher until woken, an fd callback ran or the
// time-out passed.
std::unique_ptr<win32::Host> MakeQtHost();

}  // namespace vcl
