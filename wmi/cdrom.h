// CD-ROM device identifier shortening: an IDE CD-ROM drive's quoted device
// identifier cut down to its model and revision words.
#pragma once

#include <string>

// Rewrites `value` in place when it holds the quoted prefix "\"IDE\\CDROM";
// leaves any other text unchanged.
void ShortenCdromDeviceId(std::string& value);
