// Whole-file replacement: new contents go to a file of their own beside the
// target and take its place only when completely on disk, so a reader never
// sees half a file and a failed write keeps the previous contents.
#pragma once

#include <string>

#include "wmi/platform.h"

enum class ReplaceResult {
  kReplaced,
  kNoNewFile,   // no new file could be made in the directory
  kNotWritten,  // the new file could not be written completely (removed)
  kNotMoved,    // the new file could not take the target's place (removed)
};

// Writes `bytes` into a new file "<stem>.<pid>.<n>.tmp" in `directory` and
// moves it over `path`, which must lie in that directory. The new file is
// flushed before the move and the move is written through. Anything but
// kReplaced sets *error to the Windows error code of the step that failed.
ReplaceResult ReplaceFileContents(const std::string& directory,
                                  const std::string& stem,
                                  const std::string& path,
                                  const std::string& bytes, DWORD* error);
