// CD-ROM device identifier shortening: an IDE CD-ROM drive's quoted device
// identifier cut down to its model and revision words.
#pragma once

#include <cstddef>
#include <string>

#include "wmi/platform.h"

// Rewrites `value` in place when it holds the quoted prefix "\"IDE\\CDROM";
// leaves any other text unchanged. Searches follow the system ANSI code page.
void ShortenCdromDeviceId(std::string& value);

// The index of the first occurrence of `pattern` in `text` that begins at the
// first byte of a character of code page `codePage` (CP_ACP for the system's),
// or std::string::npos. Case-sensitive; an empty pattern is found at 0.
size_t FindInCodePage(const std::string& text, const std::string& pattern,
                      UINT codePage);
