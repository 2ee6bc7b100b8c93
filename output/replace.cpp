// Whole-file replacement through a new file beside the target, shared by
// Model.txt and the capture tool's output.
#include "output/replace.h"

#include <cstdio>

#include "output/textfile.h"

namespace {

// Creates a new, uniquely named file in `directory`. Another run writing at
// the same time, or a file left by one that died, only costs another name;
// CREATE_NEW never opens what someone else put there.
HANDLE CreateFileBeside(const std::string& directory, const std::string& stem,
                        std::string& path) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%lu.%d.tmp",
                  static_cast<unsigned long>(GetCurrentProcessId()), attempt);
    path = directory;
    path += '\\';
    path += stem;
    path += suffix;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

ReplaceResult ReplaceFileContents(const std::string& directory,
                                  const std::string& stem,
                                  const std::string& path,
                                  const std::string& bytes, DWORD* error) {
  std::string newPath;
  HANDLE file = CreateFileBeside(directory, stem, newPath);
  if (file == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return ReplaceResult::kNoNewFile;
  }
  bool written = WriteBytes(file, bytes) && FlushFileBuffers(file);
  if (!written) *error = GetLastError();
  if (!CloseHandle(file) && written) {
    *error = GetLastError();
    written = false;
  }
  if (written &&
      MoveFileExA(newPath.c_str(), path.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return ReplaceResult::kReplaced;
  if (written) *error = GetLastError();
  DeleteFileA(newPath.c_str());
  return written ? ReplaceResult::kNotMoved : ReplaceResult::kNotWritten;
}
