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

// A descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::optional<std::string> ReadWhole(const Fd& fd) {
  // Regular files only: a FIFO or device where a fact was expected must not
  // hang the run (the open did not block: O_NONBLOCK).
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  std::string data;
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd.get(), buf, sizeof buf);
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
    if (data.size() > kMaxFileBytes) return std::nullopt;
  }
  return data;
}

// A path below the root, resolved: the folders on the way, open, and the
// name of the last element in the last of them ("." when the path ends at
// a folder).
struct Resolved {
  std::vector<Fd> dirs;
  std::string name;
  int dir() const { return dirs.back().get(); }
};

// The kernel would follow an absolute link, or enough "..", out of the root
// and into this machine's own files; a tree describing another machine must
// never see those. So below a root, each element is opened relative to the
// folder before it without following links, a link is read from the very
// node that was opened and followed here, with "/" meaning the root, and
// ".." never climbs above it. Nothing is checked by name and opened by name
// again: an element swapped for a link meanwhile is seen as that link, or
// fails the look-up. A link in the last element is followed only when
// `followLast`. Nullopt for a missing element on the way or a loop of links.
std::optional<Resolved> ResolveBelow(const std::string& root,
                                     const std::string& path, bool followLast) {
  Resolved r;
  r.dirs.emplace_back(open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (r.dir() < 0) return std::nullopt;
  std::vector<std::string> todo = SplitPath(path);
  std::reverse(todo.begin(), todo.end());
  int links = 0;
  while (!todo.empty()) {
    std::string part = std::move(todo.back());
    todo.pop_back();
    if (part == ".") continue;
    if (part == "..") {
      if (r.dirs.size() > 1) r.dirs.pop_back();
      continue;
    }
    bool last = todo.empty();
    if (last && !followLast) {
      r.name = std::move(part);
      return r;
    }
    Fd node(openat(r.dir(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (node.get() < 0 || fstat(node.get(), &st) != 0) return std::nullopt;
    if (S_ISLNK(st.st_mode)) {
      if (++links > 40) return std::nullopt;  // a loop
      char buf[4096];
      ssize_t n = readlinkat(node.get(), "", buf, sizeof buf);
      if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return std::nullopt;
      std::string_view target(buf, static_cast<size_t>(n));
      if (target[0] == '/') r.dirs.resize(1);
      std::vector<std::string> more = SplitPath(target);
      todo.insert(todo.end(), more.rbegin(), more.rend());
      continue;
    }
    if (last) {
      r.name = std::move(part);
      return r;
    }
    if (!S_ISDIR(st.st_mode)) return std::nullopt;
    r.dirs.push_back(std::move(node));
  }
  r.name.assign(1, '.');  // GCC 12 misreads = "." (-Wrestrict)
  return r;
}

// A folder for reading its entries, opened as File opens a file; null
// when missing or no folder.
DIR* OpenDir(const std::string& root, const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  int fd = -1;
  if (root.empty()) {
    fd = open(path.c_str(), kFlags);
  } else if (auto r = ResolveBelow(root, path, true)) {
    fd = openat(r->dir(), r->name.c_str(), kFlags | O_NOFOLLOW);
  }
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!dir && fd >= 0) close(fd);
  return dir;
}

}  // namespace

// Without a root the machine's own tree is read and the kernel resolves
// every path; below one, ResolveBelow does, and the last element is opened
// without following a link: one swapped in after the look-up fails the
// open instead of leading out of the tree.
const std::optional<std::string>& LiveFacts::File(const std::string& path) {
  auto it = files_.find(path);
  if (it != files_.end()) return it->second;
  touched_.push_back(path);
  constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  Fd fd;
  if (root_.empty()) {
    fd = Fd(open(path.c_str(), kFlags));
  } else if (auto r = ResolveBelow(root_, path, true)) {
    fd = Fd(openat(r->dir(), r->name.c_str(), kFlags | O_NOFOLLOW));
  }
  return files_.emplace(path, ReadWhole(fd)).first->second;
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
  char buf[4096];
  ssize_t n = -1;
  if (root_.empty()) {
    n = readlink(path.c_str(), buf, sizeof buf);
  } else if (auto r = ResolveBelow(root_, path, false)) {
    n = readlinkat(r->dir(), r->name.c_str(), buf, sizeof buf);
  }
  if (n > 0 && static_cast<size_t>(n) < sizeof buf)
    target.emplace(buf, static_cast<size_t>(n));
  return links_.emplace(path, std::move(target)).first->second;
}

const std::vector<std::string>& LiveFacts::List(const std::string& path) {
  auto it = lists_.find(path);
  if (it != lists_.end()) return it->second;
  touched_.push_back(path);
  std::vector<std::string> names;
  if (DIR* dir = OpenDir(root_, path)) {
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(std::move(name));
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return lists_.emplace(path, std::move(names)).first->second;
}

// Each entry is looked at through the folder's own descriptor and never
// followed: a link planted among the records dates nothing.
std::optional<int64_t> LiveFacts::OldestModTime(const std::string& path,
                                                std::string_view suffix) {
  touched_.push_back(path);
  DIR* dir = OpenDir(root_, path);
  if (!dir) return std::nullopt;
  std::optional<int64_t> oldest;
  while (dirent* e = readdir(dir)) {
    std::string_view name = e->d_name;
    if (name.size() < suffix.size() ||
        name.substr(name.size() - suffix.size()) != suffix)
      continue;
    struct stat st;
    if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
      continue;
    int64_t t = st.st_mtime;
    if (!oldest || t < *oldest) oldest = t;
  }
  closedir(dir);
  return oldest;
}

}  // namespace posix_wmi
