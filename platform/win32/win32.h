// Everything of the Win32 stand-in in one include.
#pragma once
#include "platform/win32/types.h"
#include "platform/win32/user.h"
#include "platform/win32/module.h"
#include "platform/win32/file.h"
#include "platform/win32/memory.h"
#include "platform/win32/misc.h"
#include "platform/win32/serial.h"
#include "platform/win32/registry.h"
#include "platform/win32/setupapi.h"
