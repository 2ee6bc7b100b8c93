// The stand-in Win32 functions where they must behave like Windows rather
// than like POSIX: environment expansion, read-only files (even for root),
// error codes and the path length limit.
#include "posix/win32.h"

#include <gtest/gtest.h>
#include <stdlib.h>  // NOLINT(modernize-deprecated-headers): setenv is POSIX
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string Expand(const char* text) {
  char buffer[512];
  DWORD needed = ExpandEnvironmentStringsA(text, buffer, sizeof buffer);
  EXPECT_GT(needed, 0u);
  EXPECT_EQ(needed, std::strlen(buffer) + 1);
  return buffer;
}

class Environment : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("MODEL_T_VAR", "abc", 1);
    unsetenv("MODEL_T_NONE");
    if (const char* windir = getenv("Windir")) saved_ = windir;
    unsetenv("Windir");
  }
  void TearDown() override {
    unsetenv("MODEL_T_VAR");
    unsetenv("windir");
    unsetenv("WINDIR");
    if (!saved_.empty()) setenv("Windir", saved_.c_str(), 1);
  }
  std::string saved_;
};

TEST_F(Environment, ExpandsLikeWindows) {
  const struct Case {
    const char* source;
    const char* expected;
  } cases[] = {
      {"%MODEL_T_VAR%", "abc"},
      {"<%model_t_var%>", "<abc>"},
      {"%MODEL_T_VAR%%MODEL_T_VAR%", "abcabc"},
      {"%MODEL_T_NONE%\\x", "%MODEL_T_NONE%\\x"},
      // An unknown reference is kept whole; its closing % opens nothing.
      {"%MODEL_T_NONE%MODEL_T_VAR%", "%MODEL_T_NONE%MODEL_T_VAR%"},
      {"%%", "%%"},
      {"100%", "100%"},
      {"a%MODEL_T_VAR", "a%MODEL_T_VAR"},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Expand(c.source), c.expected) << c.source;
}

TEST_F(Environment, StoresOnlyWhatFits) {
  char buffer[8] = "xxxxxxx";
  // "<abc>" needs 6 bytes with its NUL.
  EXPECT_EQ(ExpandEnvironmentStringsA("<%MODEL_T_VAR%>", buffer, 5), 6u);
  EXPECT_STREQ(buffer, "xxxxxxx");
  EXPECT_EQ(ExpandEnvironmentStringsA("<%MODEL_T_VAR%>", nullptr, 0), 6u);
  EXPECT_EQ(ExpandEnvironmentStringsA("<%MODEL_T_VAR%>", buffer, 6), 6u);
  EXPECT_STREQ(buffer, "<abc>");
  EXPECT_EQ(ExpandEnvironmentStringsA(nullptr, buffer, 8), 0u);
}

TEST_F(Environment, WindirDefaultsToCurrentDirectory) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(Expand("%Windir%"), cwd);
  // Empty is unset, as Windows has it: never the file-system root.
  setenv("WINDIR", "", 1);
  EXPECT_EQ(Expand("%Windir%"), cwd);
  setenv("MODEL_T_VAR", "", 1);
  EXPECT_EQ(Expand("%MODEL_T_VAR%"), "%MODEL_T_VAR%");
  setenv("WINDIR", "/win", 1);
  EXPECT_EQ(Expand("%Windir%"), "/win");
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/win32_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (auto& entry : std::filesystem::recursive_directory_iterator(dir_))
      chmod(entry.path().c_str(), 0755);
    std::filesystem::remove_all(dir_);
  }
  // The Windows spelling of a path inside the test's folder.
  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }
  std::string Read(const std::string& name) const {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
  }
  HANDLE Open(const std::string& name, DWORD access, DWORD disposition) const {
    return CreateFileA(Path(name).c_str(), access, 0, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  std::string dir_;
};

TEST_F(Files, FailuresCarryWindowsErrors) {
  Write("a.txt", "x");
  // The error of a failed open, or 0 when it opened.
  auto error = [](const std::string& name, DWORD access,
                  DWORD disposition) -> DWORD {
    HANDLE file = CreateFileA(name.c_str(), access, 0, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(file);
    return 0;
  };
  std::string longest(MAX_PATH - dir_.size() - 2, 'x');
  EXPECT_EQ(error(Path("a.txt"), GENERIC_WRITE, CREATE_NEW), ERROR_FILE_EXISTS);
  EXPECT_EQ(error(Path("b.txt"), GENERIC_READ, OPEN_EXISTING),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(error(Path("no\\b.txt"), GENERIC_WRITE, CREATE_ALWAYS),
            ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(error(dir_, GENERIC_WRITE, OPEN_EXISTING), ERROR_ACCESS_DENIED);
  EXPECT_EQ(error("", GENERIC_WRITE, CREATE_ALWAYS), ERROR_PATH_NOT_FOUND);
  // A path must stay below MAX_PATH characters.
  EXPECT_EQ(error(Path(longest + "x"), GENERIC_WRITE, CREATE_ALWAYS),
            ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(error(Path(longest), GENERIC_WRITE, CREATE_ALWAYS), 0u);
}

TEST_F(Files, ReadOnlyStopsWritingReplacingAndDeletingUntilCleared) {
  Write("old.txt", "old");
  Write("new.txt", "new");
  EXPECT_EQ(GetFileAttributesA(Path("old.txt").c_str()), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(
      SetFileAttributesA(Path("old.txt").c_str(),
                         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributesA(Path("old.txt").c_str()),
            FILE_ATTRIBUTE_READONLY);

  EXPECT_EQ(Open("old.txt", GENERIC_WRITE, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open("old.txt", GENERIC_READ, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(MoveFileExA(Path("new.txt").c_str(), Path("old.txt").c_str(),
                           MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileA(Path("old.txt").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  HANDLE reader = Open("old.txt", GENERIC_READ, OPEN_EXISTING);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  EXPECT_EQ(Read("old.txt"), "old");

  ASSERT_TRUE(
      SetFileAttributesA(Path("old.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA(Path("old.txt").c_str()), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(MoveFileExA(Path("new.txt").c_str(), Path("old.txt").c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ(Read("old.txt"), "new");
  EXPECT_EQ(GetFileAttributesA(Path("new.txt").c_str()),
            INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(DeleteFileA(Path("old.txt").c_str()));
}

TEST_F(Files, NeverThroughALinkNorIntoAFifo) {
  Write("target", "kept");
  chmod((dir_ + "/target").c_str(), 0444);
  symlink((dir_ + "/target").c_str(), (dir_ + "/link").c_str());
  symlink((dir_ + "/absent").c_str(), (dir_ + "/dangling").c_str());
  mkfifo((dir_ + "/fifo").c_str(), 0666);
  for (const char* name : {"link", "dangling", "fifo"}) {
    SCOPED_TRACE(name);
    for (DWORD disposition : {CREATE_ALWAYS, OPEN_ALWAYS, OPEN_EXISTING}) {
      for (DWORD access : {GENERIC_READ, GENERIC_WRITE, FILE_APPEND_DATA}) {
        HANDLE file = Open(name, access, disposition);
        EXPECT_EQ(file, INVALID_HANDLE_VALUE) << disposition << " " << access;
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
      }
    }
    EXPECT_TRUE(SetFileAttributesA(Path(name).c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_FALSE(ReplaceFileA(Path(name).c_str(), Path("target").c_str(),
                              nullptr, 0, nullptr, nullptr));
  }
  EXPECT_EQ(GetFileAttributesA(Path("link").c_str()),
            FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(GetFileAttributesA(Path("target").c_str()),
            FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Read("target"), "kept");
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/absent"));
  // A link is deleted, or renamed over, as the link itself.
  EXPECT_TRUE(DeleteFileA(Path("dangling").c_str()));
  Write("new", "new");
  EXPECT_TRUE(MoveFileExA(Path("new").c_str(), Path("link").c_str(),
                          MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Read("link"), "new");
  EXPECT_EQ(Read("target"), "kept");
}

TEST_F(Files, OpenWithoutDeleteSharingKeepsTheFile) {
  Write("held.txt", "held");
  Write("other.txt", "other");
  HANDLE held = CreateFileA(Path("held.txt").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileA(Path("held.txt").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(ReplaceFileA(Path("held.txt").c_str(), Path("other.txt").c_str(),
                            nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(MoveFileExA(Path("other.txt").c_str(), Path("held.txt").c_str(),
                           MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  // Writing it is another matter, as it shares writing.
  HANDLE writer = CreateFileA(Path("held.txt").c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE);
  CloseHandle(writer);
  CloseHandle(held);
  // A handle that shares deletion does not keep the file.
  HANDLE shared = CreateFileA(Path("held.txt").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_TRUE(ReplaceFileA(Path("held.txt").c_str(), Path("other.txt").c_str(),
                           nullptr, 0, nullptr, nullptr));
  CloseHandle(shared);
  EXPECT_EQ(Read("held.txt"), "other");
}

TEST_F(Files, ReplacementTakesTheReplacedFilesPermissions) {
  Write("old.txt", "old");
  Write("new.txt", "new");
  chmod((dir_ + "/old.txt").c_str(), 0640);
  chmod((dir_ + "/new.txt").c_str(), 0666);
  ASSERT_TRUE(ReplaceFileA(Path("old.txt").c_str(), Path("new.txt").c_str(),
                           nullptr, 0, nullptr, nullptr));
  struct stat st;
  ASSERT_EQ(stat((dir_ + "/old.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Read("old.txt"), "new");
  EXPECT_FALSE(ReplaceFileA(Path("old.txt").c_str(), Path("new.txt").c_str(),
                            nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Files, FindMatchesWindowsWildcards) {
  for (const char* name : {"Model.txt", "Model.1.tmp", "model.AB.TMP",
                           "Model.tmp", "xModel.1.tmp", "Model.1.tmpx"})
    Write(name, "");
  auto found = [&](const char* mask) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(Path(mask).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.emplace_back(data.cFileName);
    while (FindNextFileA(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(search));
    std::sort(names.begin(), names.end());
    return names;
  };
  using Names = std::vector<std::string>;
  EXPECT_EQ(found("Model.*.tmp"), (Names{"Model.1.tmp", "model.AB.TMP"}));
  EXPECT_EQ(found("Model.?.tmp"), (Names{"Model.1.tmp"}));
  EXPECT_EQ(found("*.txt"), (Names{"Model.txt"}));
  EXPECT_EQ(found("nothing*"), Names{});
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA((dir_ + "\\no\\*").c_str(), nullptr),
            INVALID_HANDLE_VALUE);
}

}  // namespace
