// Hot paths of posting: yEnc encoding, CRC-32 and composing a whole article,
// each kernel beside the scalar reference and beside zlib's crc32, all in one run.
//
//   build/bench/bench_encode --benchmark_min_time=0.5
#include "common/AppState.h"
#include "engine/Article.h"
#include "storage/MessageIds.h"
#include "common/Crc32.h"
#include "engine/yEnc.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <vector>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

constexpr std::size_t kPart = 384000;

std::vector<std::uint8_t> randomPart()
{
    std::vector<std::uint8_t> b(kPart);
    QRandomGenerator rng(42);
    for (auto &x : b)
        x = std::uint8_t(rng.bounded(256));
    return b;
}

// Every byte needs an escape: NUL, TAB, LF, CR and "=" after the +42 shift.
std::vector<std::uint8_t> worstPart()
{
    const std::uint8_t esc[] = {214, 223, 224, 227, 19};
    std::vector<std::uint8_t> b(kPart);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = esc[i % 5];
    return b;
}

void encodeBench(benchmark::State &state, yenc::Kernel kernel, const std::vector<std::uint8_t> *in)
{
    std::vector<std::uint8_t> out(yenc::maxEncodedSize(in->size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(yenc::encodeWith(kernel, in->data(), in->size(), out.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in->size()));
}

void crcBench(benchmark::State &state, crc::Kernel kernel, const std::vector<std::uint8_t> *in)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(crc::updateWith(kernel, 0xFFFFFFFFu, in->data(), in->size()));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in->size()));
}

void zlibBench(benchmark::State &state, const std::vector<std::uint8_t> *in)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32(0, in->data(), uInt(in->size())));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in->size()));
}

// Every part of a file larger than the caches in turn, as a run reads them.
void composeFileBench(benchmark::State &state, const QString *path)
{
    const qint64 partSize = state.range(0);
    const qint64 size = QFileInfo(*path).size();
    const int parts = int(partCount(size, partSize));
    ArticleFields f;
    f.newsgroups = u"alt.binaries.test"_s;
    f.messageId = u"Part1of1.0123456789ABCDEF@1765000000.local"_s;
    QByteArray previous;
    int part = 0;
    for (auto _ : state) {
        part = part % parts + 1;
        ChunkResult r = composeArticle(*path, part, parts, partSize, f, std::move(previous));
        if (r.status != ChunkResult::Ok)
            state.SkipWithError("compose failed");
        previous = std::move(r.article);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(partSize));
}

void composeBench(benchmark::State &state, const QString *path, bool recycle)
{
    ArticleFields f;
    f.email = u"poster@example.org"_s;
    f.nickname = u"Tessaly"_s;
    f.newsgroups = u"alt.binaries.test"_s;
    f.subject = u"Benchmark - [1/1] - \"part.bin\" yEnc"_s;
    f.messageId = u"Part1of1.0123456789ABCDEF0123456789ABCDEF@1765000000.local"_s;
    f.version = versionString();
    QByteArray previous;
    for (auto _ : state) {
        ChunkResult r = composeArticle(*path, 1, 1, qint64(kPart), f, recycle ? std::move(previous) : QByteArray());
        if (r.status != ChunkResult::Ok)
            state.SkipWithError("compose failed");
        benchmark::DoNotOptimize(r.article.constData());
        previous = std::move(r.article);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kPart));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    static const std::vector<std::uint8_t> random = randomPart();
    static const std::vector<std::uint8_t> worst = worstPart();
    QTemporaryDir dir;
    static const QString path = dir.path() + u"/part.bin"_s;
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(reinterpret_cast<const char *>(random.data()), qint64(random.size()));
    }

    for (yenc::Kernel k : yenc::availableKernels()) {
        const std::string name = yenc::kernelName(k).toStdString();
        benchmark::RegisterBenchmark(("encode/random/" + name).c_str(), encodeBench, k, &random);
        benchmark::RegisterBenchmark(("encode/worst/" + name).c_str(), encodeBench, k, &worst);
    }
    benchmark::RegisterBenchmark("crc32/zlib", zlibBench, &random);
    for (crc::Kernel k : crc::availableKernels())
        benchmark::RegisterBenchmark(("crc32/" + crc::kernelName(k).toStdString()).c_str(), crcBench, k, &random);
    benchmark::RegisterBenchmark(("encode/random/active-" + yenc::kernelName(yenc::activeKernel()).toStdString()).c_str(),
                                 encodeBench, yenc::activeKernel(), &random);
    benchmark::RegisterBenchmark("compose/article-384000/new-buffer", composeBench, &path, false);
    benchmark::RegisterBenchmark("compose/article-384000/recycled-buffer", composeBench, &path, true);
    static const QString large = dir.path() + u"/large.bin"_s;
    {
        QFile f(large);
        f.open(QIODevice::WriteOnly);
        for (int k = 0; k < 128; ++k) // 96 MB, three times the largest caches
            f.write(reinterpret_cast<const char *>(random.data()), qint64(random.size()));
    }
    benchmark::RegisterBenchmark("compose/96MB-file", composeFileBench, &large)->Arg(128000)->Arg(384000)->Arg(716800);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
