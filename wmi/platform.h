// The one boundary between the core and the platform: the real Windows, COM
// and WMI headers on Windows, our stand-in for them everywhere else. The core
// includes this header and nothing platform-specific.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// clang-format off: windows.h first, the others need its types.
#include <windows.h>
#include <aclapi.h>
#include <oleauto.h>
#include <wbemidl.h>
// clang-format on
#else
#include "posix/com.h"
#include "posix/wbem/wbemcli.h"
#include "posix/win32.h"
#endif
