// The framework in one include: core, controls, forms, dialogs, grid and timer.
#pragma once
#include "platform/vcl/core/vcl.h"
#include "platform/vcl/gui/controls.h"
#include "platform/vcl/gui/dialogs.h"
#include "platform/vcl/gui/extctrls.h"
#include "platform/vcl/gui/forms.h"
#include "platform/vcl/gui/grids.h"
#include "platform/vcl/gui/stdctrls.h"
