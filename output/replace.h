// Whole-file replacement, shared by Model.txt and the capture tool's output:
// new contents go to a temporary file beside the target, under a name nobody
// can foresee, and take the target's place in one step only when completely
// on disk, so a reader never sees half a file and a failed write keeps the
// previous contents, their attributes included.
#pragma once

#include <string>

#include "wmi/platform.h"

// A file's attributes before they were lifted, to be put back when the file
// ends up neither replaced nor rewritten.
struct Protection {
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  bool lifted = false;
};

// Opens the existing file at `path` for reading its security descriptor and
// reading and changing its attributes, sharing everything; one with other
// names is refused as OpenOnlyName refuses it.
HANDLE OpenForAttributes(const std::string& path);

// Clears read-only, hidden and system from the regular file open as `file`,
// so that it can be replaced or written; the new file carries none of them.
// RestoreProtection puts them back on the file at `path`, provided it has
// that name alone.
Protection LiftProtection(HANDLE file);
void RestoreProtection(const std::string& path, const Protection& p);

enum class ReplaceOutcome {
  kReplaced,
  // Not replaced, but writing the target in place may still work: the
  // folder takes no new file, or another program holds the target open in
  // a way that forbids replacing it.
  kInPlace,
  kCannotOpen,   // no temporary file, or it could not take the target's place
  kCannotWrite,  // the temporary file could not be written completely
};

// Writes `bytes` into a new file "<stem>.<16 hex digits>.tmp" of `directory`
// and puts it in the place of `path`, which lies in that folder. The new
// file has the replaced file's permissions from its first byte (a file with
// no predecessor the folder's default), so nobody may read or change it
// whom the replaced file kept out. A replaced file with other names is
// refused (kCannotOpen, ERROR_ACCESS_DENIED). Temporary files of `stem`
// that dead runs left in `directory` are removed first; the temporary file
// of a live run is open without delete sharing and stays. This run's
// temporary file never outlives a failure. Anything but kReplaced sets
// *error to the Windows error code of the step that failed.
ReplaceOutcome ReplaceWhole(const std::string& directory,
                            const std::string& stem, const std::string& path,
                            const std::string& bytes, DWORD* error);
