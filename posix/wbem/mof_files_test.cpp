// The MOF reader's pragmas and files: namespaces, deletions, class flags,
// injected failures, included files, lists of repository files and files
// that are no regular files, with the exact refusal of each.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "posix/wbem/mof_testing.h"
#include "posix/wbem/wbemcli.h"

namespace posix_wmi {
namespace {

TEST(MofPragmas, ReadNamespacesDeletionsAndFlags) {
  MofRepository repo = MustParse(R"(
#pragma namespace("\\\\.\\root")
instance of __Namespace { Name = "Made"; };
#pragma namespace("Made")
class InMade { string S; };
#pragma namespace("//./root/wmi")
class InWmi {};
#pragma namespace("\\root\\cimv2")
#pragma locale("en_US")
#pragma instancelocale("ms_409")
#pragma amendment("ms_409")
#pragma instanceflags("createonly")
#pragma autorecover
#PRAGMA CLASSFLAGS("forceupdate, safeupdate")
class Gone { [key] string K; };
class GoneChild : Gone {};
instance of GoneChild { K = "x"; };
#pragma deleteclass("Gone", FAIL)
#pragma deleteclass("Gone", NOFAIL)
class Kept { [key] string K; [key] uint32 N; };
instance of Kept { K = "a"; N = 1; };
instance of Kept { K = "b"; N = 2; };
#pragma deleteinstance("Kept.N=1,K='a'", FAIL)
#pragma deleteinstance("Kept.K=\"zz\",N=1", NOFAIL)
)");
  std::vector<std::string> keys;
  for (const auto& entry : repo.namespaces) keys.push_back(entry.first);
  EXPECT_EQ(keys,
            (std::vector<std::string>{"root", "root\\made", "root\\wmi"}));
  EXPECT_NE(repo.namespaces.at("root\\made")->FindClass("InMade"), nullptr);
  EXPECT_EQ(repo.provider->FindClass("InMade"), nullptr);
  EXPECT_EQ(InstancesOf(*repo.namespaces.at("root"), "__Namespace").size(), 1u);
  EXPECT_EQ(repo.provider->FindClass("Gone"), nullptr);
  EXPECT_EQ(repo.provider->FindClass("GoneChild"), nullptr);
  auto kept = InstancesOf(repo, "Kept");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(std::get<std::u16string>(Item(*kept[0], 0)), u"b");

  ExpectRefusals({
      {"#pragma deleteclass(\"Nope\", FAIL)", "1:21: no class Nope to delete"},
      {"#pragma deleteclass(\"Nope\", MAYBE)",
       "1:29: expected FAIL or NOFAIL, found 'MAYBE'"},
      {"#pragma deleteinstance(\"Nope\", NOFAIL)",
       "1:24: expected an object path \"Class.Key=value\""},
      {"class K { [key] string K; };\n"
       "#pragma deleteinstance(\"K.K='x'\", FAIL)",
       "2:24: no instance K.K='x' to delete"},
      {"#pragma classflags(\"sometimes\")",
       "1:20: expected class flags createonly, updateonly, safeupdate or "
       "forceupdate, found \"sometimes\""},
      {"#pragma classflags(\"createonly, updateonly\")",
       "1:20: class flags createonly and updateonly exclude each other"},
      {"#pragma fail(\"ConnectServer\", 0)",
       "1:31: expected a failure code (0x80000000 to 0xFFFFFFFF) to inject"},
      {"#pragma fail(\"ExecQuery\", 0x7FFFFFFF)",
       "1:27: expected a failure code (0x80000000 to 0xFFFFFFFF) to inject"},
      {"#pragma locale(en_US)", "1:16: expected a string, found 'en_US'"},
      {"#pragma namespace(\"\\\\\\\\server\")",
       "1:19: expected a namespace path such as \"root\\\\cimv2\""},
      {"instance of __Namespace { Name = \"a\\\\b\"; };",
       "1:13: an instance of __Namespace needs a Name without '\\'"},
  });
}

class MofFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "mof_files_test." + std::to_string(getpid());
    std::filesystem::create_directories(dir_ + "/sub");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    return dir_ + "/" + name;
  }
  HRESULT Load(const std::string& paths) {
    return LoadMofFiles(paths, repo_, error_);
  }

  std::string dir_;
  MofRepository repo_;
  std::string error_;
};

TEST_F(MofFiles, IncludesFilesRelativeToTheIncluder) {
  std::string top = Write("top.mof",
                          "#pragma include(\"sub\\\\inner.mof\")\n"
                          "instance of Inner { S = \"top\"; };");
  Write("sub/inner.mof",
        "#pragma include(\"../base.mof\")\nclass Inner : Base { string S; };");
  Write("base.mof", "class Base { string B = \"b\"; };");
  ASSERT_EQ(Load(top), S_OK) << error_;
  EXPECT_EQ(NamesOf(*repo_.provider->FindClass("Inner")),
            (std::vector<std::string>{"B", "S"}));

  // An error names the file that holds it; a cycle is refused where it
  // closes.
  std::string loop =
      Write("loop.mof", "class L {};\n#pragma include(\"loop.mof\")");
  EXPECT_EQ(Load(loop), WBEM_E_INVALID_SYNTAX);
  EXPECT_EQ(error_, loop + ":2:17: cannot include " + loop +
                        ": it is already being read");
  Write("broken.mof", "class C {\n  strin");
  std::string outer = Write("outer.mof", "#pragma include(\"broken.mof\")");
  EXPECT_EQ(Load(outer), WBEM_E_INVALID_SYNTAX);
  EXPECT_EQ(error_, dir_ +
                        "/broken.mof:2:8: expected a property or method "
                        "name, found end of file");
  for (int i = 0; i <= 64; ++i)
    Write("deep" + std::to_string(i) + ".mof",
          "#pragma include(\"deep" + std::to_string(i + 1) + ".mof\")");
  Write("deep65.mof", "class Deep {};");
  EXPECT_EQ(Load(dir_ + "/deep1.mof"), S_OK) << error_;
  EXPECT_EQ(Load(dir_ + "/deep0.mof"), WBEM_E_INVALID_SYNTAX);
  EXPECT_EQ(error_, dir_ +
                        "/deep64.mof:1:17: included files nested more "
                        "than 64 deep");
  mkfifo((dir_ + "/fifo.mof").c_str(), 0600);
  std::string fifo =
      Write("fifo-includer.mof", "#pragma include(\"fifo.mof\")");
  EXPECT_EQ(Load(fifo), WBEM_E_INVALID_SYNTAX);
  EXPECT_EQ(error_, fifo + ":1:17: cannot include " + dir_ +
                        "/fifo.mof: not a regular file");
}

TEST_F(MofFiles, ReadsAListAsSeparateCompilations) {
  // Each file starts in root\cimv2, with its own aliases.
  std::string first = Write("first.mof",
                            "#pragma namespace(\"root\\\\wmi\")\n"
                            "class W {};\ninstance of W as $A {};");
  std::string second = Write("second.mof", "class Y { string R; };");
  ASSERT_EQ(Load(first + ":" + second + ":"), S_OK) << error_;
  EXPECT_NE(repo_.provider->FindClass("Y"), nullptr);
  EXPECT_EQ(repo_.provider->FindClass("W"), nullptr);
  std::string third = Write("third.mof", "instance of Y { R = $A; };");
  EXPECT_EQ(Load(first + ":" + third), WBEM_E_INVALID_SYNTAX);
  EXPECT_EQ(error_, third + ":1:21: undefined alias $A");
  EXPECT_EQ(Load(":"), WBEM_E_INVALID_NAMESPACE);
  EXPECT_EQ(error_, ":: no repository file named");
}

// A file that is no MOF text, named as a repository or included, is never
// quoted: its name, the place and what was expected, nothing of its text.
// Once it has shown a whole statement, a refusal quotes as usual.
TEST_F(MofFiles, NeverQuotesAFileNotYetReadAsMof) {
  const std::string kNotMof = "; the file is not MOF text";
  const struct {
    std::string text;
    std::string error;  // after "<file>:"
  } cases[] = {
      {"ghp_SecretToken\n",
       "1:1: expected 'class', 'instance', 'qualifier' "
       "or '#pragma'" +
           kNotMof},
      {"root:$6$salt:19000::\n",
       "1:1: expected 'class', 'instance', "
       "'qualifier' or '#pragma'" +
           kNotMof},
      {"@secret", "1:1: expected a MOF declaration or pragma" + kNotMof},
      {"class ghp_Secret : x y", "1:22: expected '{'" + kNotMof},
      {"instance of X { Secret = ",
       "1:26: expected a value, found end of "
       "file"},
      {"class A {};\nghp_Secret",
       "2:1: expected 'class', 'instance', "
       "'qualifier' or '#pragma', found "
       "'ghp_Secret'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string secret = Write("secret", c.text);
    EXPECT_EQ(Load(secret), WBEM_E_INVALID_SYNTAX);
    EXPECT_EQ(error_, secret + ":" + c.error);
    std::string includer =
        Write("includer.mof", "#pragma include(\"" + secret + "\")");
    EXPECT_EQ(Load(includer), WBEM_E_INVALID_SYNTAX);
    EXPECT_EQ(error_, secret + ":" + c.error);
  }
}

// Each file including the next twice would be read 2^40 times.
TEST_F(MofFiles, CountsEveryInclusion) {
  for (int i = 0; i < 40; ++i) {
    std::string next = "f" + std::to_string(i + 1) + ".mof";
    std::string text = "#pragma include(\"";
    text += next;
    text += "\")\n#pragma include(\"";
    text += next;
    text += "\")\n";
    Write("f" + std::to_string(i) + ".mof", text);
  }
  Write("f40.mof", "class Last {};");
  EXPECT_EQ(Load(dir_ + "/f0.mof"), WBEM_E_INVALID_SYNTAX);
  EXPECT_EQ(error_, dir_ +
                        "/f39.mof:1:17: more than 4096 files included, "
                        "counting each inclusion");
}

// A FIFO would hang a reader and /dev/zero never ends; both are refused at
// once, and so is a file beyond the size a repository may have.
TEST_F(MofFiles, RefusesWhatIsNoRegularFile) {
  std::string fifo = dir_ + "/repo.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string big = dir_ + "/big.mof";
  int fd = open(big.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, (off_t{256} << 20) + 1), 0);  // sparse
  close(fd);
  const struct {
    std::string path;
    std::string error;
  } cases[] = {
      {fifo, fifo + ": not a regular file"},
      {"/dev/zero", "/dev/zero: not a regular file"},
      {big, big + ": more than the 268435456 bytes a repository may hold, "
                  "its included files counted"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Load(c.path), WBEM_E_INVALID_NAMESPACE);
    EXPECT_EQ(error_, c.error);
    EXPECT_EQ(repo_.provider, nullptr);
  }
}

}  // namespace
}  // namespace posix_wmi
