// The recovery multiply-accumulate of every kernel the processor has, on
// tiles that stay in the cache (the creator's working shape) and on whole
// slices that do not; bytes are source bytes multiplied in.
#include "par2/Md5.h"
#include "par2/RsKernels.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

using namespace tessaly::par2;

namespace {

void mulAdd(benchmark::State &state, rs::Kernel kernel)
{
    if (!rs::availableKernels().contains(kernel)) {
        state.SkipWithError("not on this processor");
        return;
    }
    const rs::Ops &ops = rs::ops(kernel);
    const int count = int(state.range(0));
    const std::size_t n = std::size_t(state.range(1));
    std::vector<std::uint8_t *> sources;
    for (int k = 0; k < count; ++k) {
        auto *p = static_cast<std::uint8_t *>(std::aligned_alloc(rs::kAlign, n));
        for (std::size_t i = 0; i < n; ++i)
            p[i] = std::uint8_t(i * 7 + std::size_t(k));
        sources.push_back(p);
    }
    auto *acc = static_cast<std::uint8_t *>(std::aligned_alloc(rs::kAlign, n));
    std::memset(acc, 0, n);
    std::vector<std::uint8_t> coeffs(ops.coeffBytes * std::size_t(count));
    for (int k = 0; k < count; ++k)
        ops.prepare(std::uint16_t(1234 + 77 * k), coeffs.data() + ops.coeffBytes * std::size_t(k));
    for (auto _ : state) {
        ops.mulAdd(acc, sources.data(), coeffs.data(), count, n);
        benchmark::DoNotOptimize(acc);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * count * std::int64_t(n));
    for (std::uint8_t *p : sources)
        std::free(p);
    std::free(acc);
}

} // namespace

#define KERNEL(name, k)                                                                                               \
    BENCHMARK_CAPTURE(mulAdd, name, rs::Kernel::k)->Args({32, 4096})->Args({16, 2048})->Args({8, 716800})

KERNEL(scalar, Scalar);
KERNEL(ssse3, Ssse3);
KERNEL(avx2, Avx2);
KERNEL(avx512, Avx512);
KERNEL(gfni_avx2, GfniAvx2);
KERNEL(gfni_avx512, GfniAvx512);

namespace {

// MD5 of 16 slices side by side (the slices' checksums), and of one stream
// (a file's), per kernel.
void md5Many(benchmark::State &state, md5::Kernel kernel)
{
    if (!md5::setKernel(kernel)) {
        state.SkipWithError("not on this processor");
        return;
    }
    const std::size_t n = 716800;
    const int count = int(state.range(0));
    std::vector<std::uint8_t> data(n * std::size_t(count), 0x5A);
    std::vector<md5::Message> messages;
    for (int i = 0; i < count; ++i)
        messages.push_back({nullptr, data.data() + n * std::size_t(i)});
    std::vector<md5::Digest> out(static_cast<std::size_t>(count));
    for (auto _ : state) {
        md5::hashMany(messages.data(), count, 0, n, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(data.size()));
}

} // namespace

BENCHMARK_CAPTURE(md5Many, scalar, md5::Kernel::Scalar)->Arg(1)->Arg(16);
BENCHMARK_CAPTURE(md5Many, avx2, md5::Kernel::Avx2)->Arg(16);
BENCHMARK_CAPTURE(md5Many, avx512, md5::Kernel::Avx512)->Arg(16);

BENCHMARK_MAIN();
