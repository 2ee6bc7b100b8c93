// Micro-benchmarks of the live provider's parsers at sizes ten times apart,
// to show that ten times the input costs about ten times the time: the
// /proc/cpuinfo of a machine with many processors, each in a package of
// its own (the shape that once made the parser quadratic).
#include <benchmark/benchmark.h>

#include <string>

#include "posix/live/facts.h"

namespace {

std::string CpuInfoText(int processors) {
  std::string text;
  for (int i = 0; i < processors; ++i) {
    std::string n = std::to_string(i);
    text += "processor\t: ";
    text += n;
    text += "\nphysical id\t: ";
    text += n;
    text +=
        "\ncore id\t\t: 0\nmodel name\t: Example CPU\ncpu MHz\t\t: "
        "2400.000\n\n";
  }
  return text;
}

void BM_ParseCpuInfo(benchmark::State& state) {
  const std::string text = CpuInfoText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    posix_wmi::CpuInfo info = posix_wmi::ParseCpuInfo(text);
    benchmark::DoNotOptimize(info.packages.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_ParseCpuInfo)
    ->ArgName("processors")
    ->Arg(40000)
    ->Arg(400000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

}  // namespace

BENCHMARK_MAIN();
