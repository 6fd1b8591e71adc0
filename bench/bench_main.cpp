// Benchmarks of the hot paths. Run: build/bench/bench_core
#include "storage/UploadQueue.h"

#include <benchmark/benchmark.h>

// Baseline: how long it takes to make the collection tag of one adding action.
static void BM_CollectionTag(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(tessaly::UploadQueue::MakeCollectionTag());
}
BENCHMARK(BM_CollectionTag);

BENCHMARK_MAIN();
