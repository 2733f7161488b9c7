// Measures the temporary string buffer: string results must not allocate per
// call, grow in steps beyond the need and fall back after a large expression.
#include <benchmark/benchmark.h>

#include "Core/Heap.h"
#include "Core/Strings.h"

namespace {

void VersionFields(benchmark::State& state) {
  for (auto _ : state) {
    velto::TempScope scope;
    for (int field = 1; field <= 4; ++field) {
      benchmark::DoNotOptimize(velto::str_to_int(velto::str_field(u"0.2.16.38", field, u".")));
    }
  }
}
BENCHMARK(VersionFields);

void FormatNumbers(benchmark::State& state) {
  std::int64_t value = 0;
  for (auto _ : state) {
    velto::TempScope scope;
    benchmark::DoNotOptimize(velto::str_from_int(value++).data());
  }
}
BENCHMARK(FormatNumbers);

// A large expression followed by small ones: the first small one pays for the
// fall-back to 1 MiB, the rest cost nothing extra.
void LargeThenSmall(benchmark::State& state) {
  const std::size_t units = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    {
      velto::TempScope scope;
      benchmark::DoNotOptimize(velto::temp_buffer().reserve(velto::temp_buffer().used(), units));
    }
    for (int i = 0; i < 100; ++i) {
      velto::TempScope scope;
      benchmark::DoNotOptimize(velto::str_from_int(i).data());
    }
  }
  state.counters["capacity"] = static_cast<double>(velto::temp_buffer().capacity());
}
BENCHMARK(LargeThenSmall)->Arg(1 << 10)->Arg(1 << 20);

}  // namespace

int main(int argc, char** argv) {
  velto::program_heap_create();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
