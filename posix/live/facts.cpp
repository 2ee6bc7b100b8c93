// File access of the live provider: every path below the root, read at most
// once per query and remembered, so that a query's cost is the list of paths
// it touched.
#include "posix/live/facts.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace posix_wmi {
namespace {

// Procfs and sysfs files are small; the cap only keeps a fixture that points
// at something odd from swallowing memory.
constexpr size_t kMaxFileBytes = 16 << 20;

std::optional<std::string> ReadWhole(const std::string& fullPath) {
  // Non-blocking, and regular files only: a FIFO or device where a fact was
  // expected must not hang the run.
  int fd = open(fullPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return std::nullopt;
  }
  std::string data;
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
    if (data.size() > kMaxFileBytes) {
      close(fd);
      return std::nullopt;
    }
  }
  close(fd);
  return data;
}

}  // namespace

// The kernel would follow an absolute link, or enough "..", out of the root
// and into this machine's own files; a tree describing another machine must
// never see those. So below a root, links are followed here, one element at
// a time, with "/" meaning the root.
std::optional<std::string> LiveFacts::HostPath(const std::string& path,
                                               bool followLast) {
  if (root_.empty()) return path;
  std::vector<std::string> todo = SplitPath(path);
  std::reverse(todo.begin(), todo.end());
  std::vector<std::string> done;
  int links = 0;
  while (!todo.empty()) {
    std::string part = std::move(todo.back());
    todo.pop_back();
    if (part == ".") continue;
    if (part == "..") {
      if (!done.empty()) done.pop_back();
      continue;
    }
    std::string here = root_;
    for (const std::string& d : done) here += "/" + d;
    here += "/" + part;
    char buf[4096];
    ssize_t n = (todo.empty() && !followLast)
                    ? -1
                    : readlink(here.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) {
      done.push_back(std::move(part));
      continue;
    }
    if (++links > 40) return std::nullopt;  // a loop
    std::string_view target(buf, static_cast<size_t>(n));
    if (target[0] == '/') done.clear();
    std::vector<std::string> more = SplitPath(target);
    todo.insert(todo.end(), more.rbegin(), more.rend());
  }
  std::string out = root_;
  for (const std::string& d : done) out += "/" + d;
  return out;
}

const std::optional<std::string>& LiveFacts::File(const std::string& path) {
  auto it = files_.find(path);
  if (it != files_.end()) return it->second;
  touched_.push_back(path);
  std::optional<std::string> host = HostPath(path, true);
  return files_.emplace(path, host ? ReadWhole(*host) : std::nullopt)
      .first->second;
}

std::optional<std::string> LiveFacts::Text(const std::string& path) {
  std::optional<std::string> text = File(path);
  if (text) {
    size_t end = text->find_last_not_of(std::string_view(" \t\r\n\0", 5));
    text->erase(end == std::string::npos ? 0 : end + 1);
  }
  return text;
}

const std::optional<std::string>& LiveFacts::Link(const std::string& path) {
  auto it = links_.find(path);
  if (it != links_.end()) return it->second;
  touched_.push_back(path);
  std::optional<std::string> target;
  std::optional<std::string> full = HostPath(path, false);
  char buf[4096];
  ssize_t n = full ? readlink(full->c_str(), buf, sizeof buf) : -1;
  if (n > 0 && static_cast<size_t>(n) < sizeof buf)
    target.emplace(buf, static_cast<size_t>(n));
  return links_.emplace(path, std::move(target)).first->second;
}

const std::vector<std::string>& LiveFacts::List(const std::string& path) {
  auto it = lists_.find(path);
  if (it != lists_.end()) return it->second;
  touched_.push_back(path);
  std::vector<std::string> names;
  std::optional<std::string> full = HostPath(path, true);
  if (DIR* dir = full ? opendir(full->c_str()) : nullptr) {
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(std::move(name));
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return lists_.emplace(path, std::move(names)).first->second;
}

}  // namespace posix_wmi
