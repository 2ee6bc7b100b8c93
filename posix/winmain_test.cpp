// Whole runs inside the test process, so that the stand-in's counts can show
// that a run, failures included, gives back every object and string.
#include <gtest/gtest.h>
#include <stdlib.h>  // NOLINT(modernize-deprecated-headers): setenv is POSIX

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "output/log.h"
#include "output/results.h"
#include "wmi/platform.h"

namespace {

const char kRepository[] = R"(
class Win32_ComputerSystem { string Model; };
instance of Win32_ComputerSystem { Model = "In Process"; };

class Win32_CDROMDrive { string DeviceID; sint32 Index; string Names[]; };
instance of Win32_CDROMDrive {
  DeviceID = "IDE\\CDROMACME_DVD____1.0__\\4&1";
  Index = 3;
  Names = {"a", "b"};
};

class Model_Closed { string A; object O; };
instance of Model_Closed {
  A = "a";
  O = instance of Win32_ComputerSystem { Model = "inner"; };
};
[FailBeginEnumeration(0x80041001)] instance of Model_Closed { A = "c"; };

class Model_Broken { string A; string B; };
instance of Model_Broken { A = "b"; [FailNext(0x80041006)] B = "b"; };

class Model_Stops { string A; };
instance of Model_Stops { A = "x"; };
[FailNext(0x80041015)] instance of Model_Stops { A = "y"; };
)";

class WinMainRun : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/winmain_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    for (const char* name : {"Windir", "MODEL_WMI_REPOSITORY"}) {
      const char* value = getenv(name);
      saved_.emplace_back(name, value ? value : "");
    }
    setenv("Windir", dir_.c_str(), 1);
    strings_ = PosixLiveStrings();
    objects_ = PosixLiveObjects();
    arrays_ = PosixLiveArrays();
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value.empty())
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), value.c_str(), 1);
    }
    std::filesystem::remove_all(dir_);
  }
  void UseRepository(const std::string& text) {
    std::string path = dir_ + "/repository.mof";
    std::ofstream(path, std::ios::binary) << text;
    setenv("MODEL_WMI_REPOSITORY", path.c_str(), 1);
  }
  int Run(const char* commandLine) {
    std::string tail = commandLine;
    testing::internal::CaptureStderr();
    int code = WinMain(nullptr, nullptr, tail.data(), SW_SHOWDEFAULT);
    stderr_ = testing::internal::GetCapturedStderr();
    return code;
  }
  std::string Read(const char* name) const {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void ExpectNothingLeft() const {
    EXPECT_EQ(PosixLiveStrings(), strings_);
    EXPECT_EQ(PosixLiveObjects(), objects_);
    EXPECT_EQ(PosixLiveArrays(), arrays_);
    EXPECT_TRUE(g_resultLines.empty());
  }

  std::string dir_;
  std::string stderr_;
  std::vector<std::pair<std::string, std::string>> saved_;
  long strings_ = 0, objects_ = 0, arrays_ = 0;
};

TEST_F(WinMainRun, GivesBackEverythingWhateverFails) {
  UseRepository(kRepository);
  EXPECT_EQ(Run("Win32_CDROMDrive;* Model_Closed;* Model_Broken;* "
                "Model_Stops;A Nothing;A Model_Broken"),
            0);
  ExpectNothingLeft();
  EXPECT_EQ(Read("Model.txt"),
            "Model = \"In Process\"\r\n"
            "DeviceID = ACME DVD 1.0\r\n"
            "Index = 3 (0x3)\r\n"
            "Names = \r\n"
            "A = \"a\"\r\n"
            "O = <conversion error>\r\n"
            "A = \"b\"\r\n"
            "A = \"x\"\r\n");
  EXPECT_EQ(Read("Model.log"),
            "Failed to start BeginEnumeration. Error code = "
            "WBEM_E_FAILED\r\n\r\n"
            "Failed to retrieve ClassObject. Error code = "
            "WBEM_E_OUT_OF_MEMORY\r\n\r\n"
            "Failed to retrieving Service. Error code = "
            "WBEM_E_TRANSPORT_FAILURE\r\n\r\n"
            "Failed to execute the WMI Query: SELECT A FROM Nothing. "
            "Error code = WBEM_E_INVALID_CLASS\r\n\r\n");
  EXPECT_NE(stderr_.find(": Model_Broken - \n"), std::string::npos);
  EXPECT_EQ(g_logPath, dir_ + "\\Model.log");
}

TEST_F(WinMainRun, StartUpFailuresGiveBackEverything) {
  for (const char* operation : {"OleInitialize", "CoInitializeSecurity",
                                "CoCreateInstance", "ConnectServer"}) {
    SCOPED_TRACE(operation);
    UseRepository(std::string("#pragma fail(\"") + operation +
                  "\", 0x80041003)\n" + kRepository);
    EXPECT_EQ(Run("Win32_CDROMDrive;*"), 1);
    ExpectNothingLeft();
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/Model.txt"));
    EXPECT_EQ(stderr_, "");
  }
}

}  // namespace
