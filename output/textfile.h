// What the log and the results file share: the Windows directory, text-mode
// line ends and complete writes.
#pragma once

#include <string>

#include "wmi/platform.h"

// Sets `directory` to the expansion of "%Windir%". False when the expansion
// fails or needs more than 261 bytes, its NUL included.
bool ExpandWindowsDirectory(std::string& directory);

// Appends `text` to `out` as a text-mode file holds it: each "\n" as CR LF.
void AppendWithCrLf(std::string& out, const std::string& text);

// CreateFileA with normal attributes and no security descriptor, refusing
// (ERROR_ACCESS_DENIED) an existing file that has other names as well: a
// hard link another user made may give this name to anyone's file. The
// check is made on the handle returned, so it holds for what is then done
// with it. The last error on success is CreateFileA's.
HANDLE OpenOnlyName(const std::string& path, DWORD access, DWORD share,
                    DWORD disposition);

// Writes all of `bytes` at the file's position; false when any failed.
bool WriteBytes(HANDLE file, const std::string& bytes);
