// The MOF reader's files: a repository file or an included one is opened
// once and checked on what was opened, never by its name again; only a
// regular file of bounded size is read, so that a FIFO, a device or an
// endless file cannot hang or exhaust the service.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "posix/wbem/mof.h"
#include "posix/wbem/mof_parser.h"
#include "posix/wbem/wbemcli.h"

namespace posix_wmi {
namespace {

std::string TooLarge(const std::string& path) {
  return path + ": more than the " + std::to_string(kMaxRepositoryBytes) +
         " bytes a repository may hold, its included files counted";
}

}  // namespace

bool ReadRegularFile(const std::string& path, size_t limit, std::string& bytes,
                     FileId& id, std::string& error) {
  bytes.clear();
  // Non-blocking, so that opening a FIFO does not wait for a writer.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st;
  bool ok = false;
  if (fstat(fd, &st) != 0) {
    error = path + ": " + std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    error = path + ": " + std::strerror(EISDIR);
  } else if (!S_ISREG(st.st_mode)) {
    error = path + ": not a regular file";
  } else if (static_cast<uint64_t>(st.st_size) > limit) {
    error = TooLarge(path);
  } else {
    id = FileId{static_cast<uint64_t>(st.st_dev),
                static_cast<uint64_t>(st.st_ino)};
    bytes.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = path + ": " + std::strerror(errno);
        break;
      }
      if (n == 0) {
        ok = true;
        break;
      }
      // The file may grow while it is read.
      if (bytes.size() + static_cast<size_t>(n) > limit) {
        error = TooLarge(path);
        break;
      }
      bytes.append(buf, static_cast<size_t>(n));
    }
  }
  close(fd);
  if (!ok) bytes.clear();
  return ok;
}

bool ParseMof(std::string_view bytes, std::string_view fileName,
              MofRepository& out, std::string& error) {
  out = MofRepository{};
  error.clear();
  Parser parser;
  if (!parser.ReadFile(bytes, std::string(fileName), nullptr)) {
    error = parser.error();
    return false;
  }
  parser.Finish(out);
  return true;
}

HRESULT LoadMofFiles(const std::string& paths, MofRepository& out,
                     std::string& error) {
  out = MofRepository{};
  error.clear();
  try {
    Parser parser;
    size_t files = 0;
    for (size_t start = 0; start <= paths.size();) {
      size_t end = paths.find(':', start);
      if (end == std::string::npos) end = paths.size();
      std::string path = paths.substr(start, end - start);
      start = end + 1;
      if (path.empty()) continue;
      ++files;
      std::string bytes;
      FileId id;
      size_t room = kMaxRepositoryBytes - parser.bytesRead();
      if (!ReadRegularFile(path, room, bytes, id, error))
        return WBEM_E_INVALID_NAMESPACE;
      if (!parser.ReadFile(bytes, path, &id)) {
        error = parser.error();
        return WBEM_E_INVALID_SYNTAX;
      }
    }
    if (files == 0) {
      error = paths + ": no repository file named";
      return WBEM_E_INVALID_NAMESPACE;
    }
    parser.Finish(out);
    return S_OK;
  } catch (const std::bad_alloc&) {
    out = MofRepository{};
    error = paths + ": out of memory";
    return WBEM_E_OUT_OF_MEMORY;
  }
}

}  // namespace posix_wmi
