// Stand-in for the Win32 functions the core calls: files and their
// attributes, environment expansion, the executable's path, message boxes.
// Paths accept '\' as a separator. Never compiled on Windows.
#pragma once

#include "posix/com.h"

typedef void* HANDLE;
typedef void* HWND;
typedef void* HINSTANCE;
typedef void* LPSECURITY_ATTRIBUTES;
typedef void* LPOVERLAPPED;
typedef DWORD* LPDWORD;
typedef const void* LPCVOID;
