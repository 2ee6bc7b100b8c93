// Micro-benchmarks of the core: CTokenizer's throughput beside memchr on the
// same 1 MB text, and FormatPropertyValue for each value type.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "text/tokenizer.h"
#include "wmi/format.h"

namespace {

constexpr size_t kTextBytes = 1 << 20;

// 1 MB of tokens of 1 to 2*meanToken-1 letters, each followed by one space
// (and now and then two), reproducible from a fixed seed.
std::string MakeText(int meanToken) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> length(1, 2 * meanToken - 1);
  std::uniform_int_distribution<int> letter('A', 'z');
  std::string text;
  text.reserve(kTextBytes + 1024);
  while (text.size() < kTextBytes) {
    for (int i = length(random); i > 0; --i) {
      text += static_cast<char>(letter(random));
    }
    text += random() % 8 ? " " : "  ";
  }
  text.resize(kTextBytes);
  return text;
}

void BM_Tokenizer(benchmark::State& state) {
  const std::string text = MakeText(static_cast<int>(state.range(0)));
  std::string token;
  for (auto _ : state) {
    CTokenizer tokenizer(text, " ");
    size_t count = 0;
    while (tokenizer.Next(token)) ++count;
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

// The same split done with memchr: finds every token's start and end but
// copies nothing, so it is the floor for any splitter.
void BM_Memchr(benchmark::State& state) {
  const std::string text = MakeText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const char* p = text.data();
    const char* const end = p + text.size();
    size_t count = 0;
    size_t bytes = 0;
    while (p < end) {
      while (p < end && *p == ' ') ++p;
      if (p == end) break;
      const void* hit = std::memchr(p, ' ', static_cast<size_t>(end - p));
      const char* stop = hit ? static_cast<const char*>(hit) : end;
      ++count;
      bytes += static_cast<size_t>(stop - p);
      p = stop;
    }
    benchmark::DoNotOptimize(count);
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

// Mean token lengths: short words, command-line requests, long lines.
BENCHMARK(BM_Tokenizer)->ArgName("token")->Arg(8)->Arg(25)->Arg(200);
BENCHMARK(BM_Memchr)->ArgName("token")->Arg(8)->Arg(25)->Arg(200);

VARIANT Value(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}

// cppcheck-suppress constParameter ; the loop over State changes it
void FormatOnce(benchmark::State& state, const VARIANT& value) {
  WCHAR* text = nullptr;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatPropertyValue(value, &text));
    std::free(text);
  }
}

void BM_Format_NULL(benchmark::State& state) {
  FormatOnce(state, Value(VT_NULL));
}
void BM_Format_I2(benchmark::State& state) {
  VARIANT v = Value(VT_I2);
  v.iVal = -12345;
  FormatOnce(state, v);
}
void BM_Format_I4(benchmark::State& state) {
  VARIANT v = Value(VT_I4);
  v.lVal = -2147483647;
  FormatOnce(state, v);
}
void BM_Format_R4(benchmark::State& state) {
  VARIANT v = Value(VT_R4);
  v.fltVal = 1234.5678f;
  FormatOnce(state, v);
}
void BM_Format_R8(benchmark::State& state) {
  VARIANT v = Value(VT_R8);
  v.dblVal = 123456789.125;
  FormatOnce(state, v);
}
void BM_Format_BSTR(benchmark::State& state) {
  // A CD-ROM device identifier: a typical long string value.
  VARIANT v = Value(VT_BSTR);
  v.bstrVal = SysAllocString(
      OLESTR("IDE\\CDROMVENDOR_DVD-RW_DRIVE_X1__________________1.00____"
             "\\5&1A2B3C4D&0&0.0.0"));
  FormatOnce(state, v);
  VariantClear(&v);
}
void BM_Format_BOOL(benchmark::State& state) {
  VARIANT v = Value(VT_BOOL);
  v.boolVal = VARIANT_TRUE;
  FormatOnce(state, v);
}
void BM_Format_UI1(benchmark::State& state) {
  VARIANT v = Value(VT_UI1);
  v.bVal = 'A';
  FormatOnce(state, v);
}
void BM_Format_DISPATCH(benchmark::State& state) {
  FormatOnce(state, Value(VT_DISPATCH));
}
void BM_Format_EMPTY(benchmark::State& state) {
  FormatOnce(state, Value(VT_EMPTY));
}
BENCHMARK(BM_Format_NULL);
BENCHMARK(BM_Format_I2);
BENCHMARK(BM_Format_I4);
BENCHMARK(BM_Format_R4);
BENCHMARK(BM_Format_R8);
BENCHMARK(BM_Format_BSTR);
BENCHMARK(BM_Format_BOOL);
BENCHMARK(BM_Format_UI1);
BENCHMARK(BM_Format_DISPATCH);
BENCHMARK(BM_Format_EMPTY);

}  // namespace

BENCHMARK_MAIN();
