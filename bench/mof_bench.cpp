// Benchmark of the MOF reader: a whole schema of 1,600 class files read
// through #pragma include, beside reading the same files' bytes from disk.
// bench/mof_report.py prints the ratio.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "posix/wbem/mof.h"

namespace {

constexpr int kSchemaClasses = 1600;

// A schema shaped like the CIM schema (about 10 KB a class, as its files
// are): an umbrella file that includes one file per class, each class deriving
// from an earlier one, with long descriptions, value maps, keys, arrays,
// references and a method.
struct Schema {
  std::string dir;
  std::string umbrella;
  std::vector<std::string> files;
  size_t bytes = 0;

  Schema()
      : dir(std::filesystem::temp_directory_path().string() + "/mof_bench." +
            std::to_string(getpid())) {
    std::filesystem::create_directories(dir + "/Core");
    std::mt19937 random(12);
    std::string includes = "// A generated schema of " +
                           std::to_string(kSchemaClasses) +
                           " classes\n#pragma locale (\"en_US\")\n";
    for (int i = 0; i < kSchemaClasses; ++i) {
      std::string name = "CIM_Class" + std::to_string(i);
      std::string text = "// Copyright notice of " + name + "\n";
      text += "   [Version ( \"2.41.0\" ), UMLPackagePath ( \"CIM::Core\" ),\n";
      text += "    Description (\n";
      for (int line = 0; line < 20; ++line)
        text += "       \"A line of the description of " + name +
                ", as the schema's classes have many of them. \"\n";
      text += "    )]\nclass " + name;
      if (i > 0) text += " : CIM_Class" + std::to_string(random() % i);
      text += " {\n";
      for (int p = 0; p < 8; ++p) {
        std::string prop = name + "_P" + std::to_string(p);
        text += "      [Description ( \"What " + prop + " holds.\"\n";
        for (int line = 0; line < 7; ++line)
          text +=
              "          \"Another line of its description, as long as "
              "the schema's lines are. \"\n";
        text +=
            "       ),\n       ValueMap { \"0\", \"1\", \"2\", \"..\" },\n"
            "       Values { \"Unknown\", \"Other\", \"Known\", "
            "\"Reserved\" }";
        text += p == 0 ? ", Key]\n   string " : "]\n   ";
        if (p == 1) text += "uint16 ";
        if (p == 2) text += "uint16 ";
        if (p == 3) text += "datetime ";
        if (p == 4) text += "string ";
        if (p == 5) text += "CIM_Class0 REF ";
        if (p == 6) text += "boolean ";
        if (p == 7) text += "uint64 ";
        text += prop + (p == 2 ? "[]" : "") + ";\n\n";
      }
      text +=
          "      [Description ( \"Changes the state.\" ), ValueMap { "
          "\"0\", \"1\" }]\n   uint32 RequestStateChange(\n"
          "      [IN, Description ( \"The state.\" )] uint16 "
          "RequestedState,\n      [IN ( false ), OUT] CIM_Class0 REF "
          "Job);\n};\n";
      std::string file = "Core/" + name + ".mof";
      std::ofstream(dir + "/" + file, std::ios::binary) << text;
      files.push_back(dir + "/" + file);
      bytes += text.size();
      includes += "#pragma include (\"" + file + "\")\n";
    }
    umbrella = dir + "/schema.mof";
    std::ofstream(umbrella, std::ios::binary) << includes;
    files.push_back(umbrella);
    bytes += includes.size();
  }
  ~Schema() { std::filesystem::remove_all(dir); }
};

const Schema& TheSchema() {
  static const Schema schema;
  return schema;
}

void BM_ReadSchema(benchmark::State& state) {
  const Schema& schema = TheSchema();
  for (auto _ : state) {
    posix_wmi::MofRepository repo;
    std::string error;
    if (posix_wmi::LoadMofFiles(schema.umbrella, repo, error) != S_OK)
      state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(repo.provider);
  }
  state.counters["bytes"] = static_cast<double>(schema.bytes);
}
BENCHMARK(BM_ReadSchema)->Unit(benchmark::kMillisecond);

// The floor: the same files' bytes read from the (warm) page cache.
void BM_ReadSchemaBytes(benchmark::State& state) {
  const Schema& schema = TheSchema();
  std::vector<char> buf(1 << 16);
  for (auto _ : state) {
    size_t total = 0;
    for (const std::string& file : schema.files) {
      std::string bytes;
      int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
      ssize_t n;
      while ((n = read(fd, buf.data(), buf.size())) > 0)
        bytes.append(buf.data(), static_cast<size_t>(n));
      close(fd);
      total += bytes.size();
    }
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_ReadSchemaBytes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
