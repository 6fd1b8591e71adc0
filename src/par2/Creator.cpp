#include "par2/Creator.h"

#include "common/Crc32.h"
#include "par2/Gf16.h"
#include "par2/Md5.h"
#include "par2/Packets.h"
#include "par2/RsKernels.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

using namespace Qt::StringLiterals;

namespace tessaly::par2 {

namespace {

constexpr int kMaxSourceSlices = 32768;
constexpr int kLanes = 16;                      // files read side by side
constexpr std::size_t kBatchBytes = 16u << 20;  // slices read at once (per buffer)
constexpr int kMostPerBatch = 64;
constexpr std::size_t kTile = 16384;            // of every slice of a batch, multiplied at once
constexpr std::size_t kTaskBytes = 65536;       // of every slice, one task's share

std::size_t roundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

class Aligned
{
public:
    Aligned() = default;
    explicit Aligned(std::size_t n)
        : n_(n)
        , p_(static_cast<std::uint8_t *>(std::aligned_alloc(rs::kAlign, roundUp(std::max<std::size_t>(n, 1), rs::kAlign))))
    {
    }
    ~Aligned() { std::free(p_); }
    Aligned(Aligned &&o) noexcept : n_(std::exchange(o.n_, 0)), p_(std::exchange(o.p_, nullptr)) {}
    Aligned &operator=(Aligned &&o) noexcept
    {
        std::swap(n_, o.n_);
        std::swap(p_, o.p_);
        return *this;
    }
    std::uint8_t *data() const { return p_; }
    std::size_t size() const { return n_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    std::size_t n_ = 0;
    std::uint8_t *p_ = nullptr;
};

// Worker threads and a queue; whoever waits for a group runs queued tasks
// meanwhile.
class Pool
{
public:
    struct Group
    {
        std::atomic<int> pending = 0;
    };

    explicit Pool(int threads)
    {
        for (int i = 0; i < threads; ++i)
            threads_.emplace_back([this] { work(); });
    }
    ~Pool()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread &t : threads_)
            t.join();
    }

    void submit(Group &group, std::function<void()> task)
    {
        group.pending.fetch_add(1);
        {
            std::lock_guard lock(mutex_);
            queue_.push_back({std::move(task), &group});
        }
        wake_.notify_one();
    }

    void wait(Group &group)
    {
        while (group.pending.load() > 0) {
            Item item;
            {
                std::unique_lock lock(mutex_);
                if (queue_.empty()) {
                    done_.wait(lock, [&] { return group.pending.load() == 0 || !queue_.empty(); });
                    continue;
                }
                item = std::move(queue_.front());
                queue_.pop_front();
            }
            runItem(item);
        }
    }

private:
    struct Item
    {
        std::function<void()> task;
        Group *group = nullptr;
    };

    void runItem(Item &item)
    {
        item.task();
        if (item.group->pending.fetch_sub(1) == 1) {
            std::lock_guard lock(mutex_);
            done_.notify_all();
        }
    }

    void work()
    {
        for (;;) {
            Item item;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
                if (queue_.empty())
                    return;
                item = std::move(queue_.front());
                queue_.pop_front();
            }
            runItem(item);
        }
    }

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<Item> queue_;
    bool stopping_ = false;
};

struct Source
{
    QString path;
    QByteArray name;
    std::uint64_t size = 0;
    int slices = 0;
    int first = 0; // the set's number of its first slice
    md5::Digest hash16k{}, hash{};
    Id id{};
    std::vector<SliceCheck> checks;
    md5::Hasher hasher;
    std::unique_ptr<QFile> file;
};

struct Slot
{
    int source = 0;
    int slice = 0; // within the file
};

} // namespace

struct Creator::Impl
{
    Impl(Creator &creator, const rs::Ops &kernel)
        : self(creator)
        , ops(kernel)
    {
    }
    Creator &self;
    const rs::Ops &ops;
    QByteArray main; // the main packet's body
    bool ready = false;
    std::vector<Source> sources;
    std::vector<std::vector<Slot>> batches;
    std::vector<Volume> volumes;
    std::size_t slice = 0, padded = 0;
    int perBatch = 1, groupSize = 1;
    Id setId{};
    QByteArray critical; // the description packets, as every file carries them
    std::vector<std::unique_ptr<QFile>> outputs; // the index, then the volumes

    bool fail(const QString &why)
    {
        self.error_ = why;
        return false;
    }

    int volumeOf(int exponent) const
    {
        for (std::size_t v = 0; v < volumes.size(); ++v)
            if (exponent < volumes[v].firstExponent + volumes[v].count)
                return int(v);
        return int(volumes.size()) - 1;
    }

    // Reads the batch's slices into buf (each `padded` bytes, zeros after
    // the data); on the first pass also their checksums and the files' MD5.
    bool load(const std::vector<Slot> &batch, std::uint8_t *buf, bool hashes)
    {
        std::vector<std::size_t> got(batch.size());
        for (std::size_t i = 0; i < batch.size(); ++i) {
            Source &s = sources[std::size_t(batch[i].source)];
            std::uint8_t *to = buf + i * padded;
            if (!s.file) {
                s.file = std::make_unique<QFile>(s.path);
                if (!s.file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
                    return fail(u"%1 cannot be read: %2"_s.arg(s.path, s.file->errorString()));
            }
            const std::uint64_t at = std::uint64_t(batch[i].slice) * slice;
            const std::size_t want = std::size_t(std::min<std::uint64_t>(slice, s.size - at));
            if (!s.file->seek(qint64(at)))
                return fail(u"%1 cannot be read: %2"_s.arg(s.path, s.file->errorString()));
            std::size_t have = 0;
            while (have < want) {
                const qint64 n = s.file->read(reinterpret_cast<char *>(to + have), qint64(want - have));
                if (n < 0)
                    return fail(u"%1 cannot be read: %2"_s.arg(s.path, s.file->errorString()));
                if (n == 0)
                    return fail(u"%1 became shorter while it was read"_s.arg(s.path));
                have += std::size_t(n);
            }
            std::memset(to + want, 0, padded - want);
            got[i] = want;
            if (batch[i].slice == s.slices - 1) {
                s.file.reset(); // its last slice: closed
            }
        }
        if (!hashes)
            return true;
        // Each file's MD5 over its slices in order: the n-th slice of every
        // file in this batch side by side.
        for (std::size_t step = 0;; ++step) {
            std::vector<md5::Hasher *> hs;
            std::vector<const std::uint8_t *> ps;
            std::vector<std::size_t> ns;
            std::vector<int> seen(sources.size(), 0);
            for (std::size_t i = 0; i < batch.size(); ++i) {
                const int src = batch[i].source;
                if (std::size_t(seen[std::size_t(src)]++) != step)
                    continue;
                hs.push_back(&sources[std::size_t(src)].hasher);
                ps.push_back(buf + i * padded);
                ns.push_back(got[i]);
            }
            if (hs.empty())
                break;
            md5::Hasher::updateMany(hs.data(), ps.data(), ns.data(), int(hs.size()));
        }
        // Every slice's MD5 and CRC-32, over the whole slice (zeros after a
        // file's end).
        std::vector<md5::Message> messages(batch.size());
        for (std::size_t i = 0; i < batch.size(); ++i)
            messages[i].body = buf + i * padded;
        std::vector<md5::Digest> digests(batch.size());
        md5::hashMany(messages.data(), int(batch.size()), 0, slice, digests.data());
        for (std::size_t i = 0; i < batch.size(); ++i) {
            SliceCheck &c = sources[std::size_t(batch[i].source)].checks[std::size_t(batch[i].slice)];
            c.md5 = digests[i];
            c.crc = crc::of(buf + i * padded, slice);
        }
        return true;
    }

    void prepareCoefficients(const std::vector<Slot> &batch, int firstExponent, int count, std::uint8_t *out)
    {
        // Recovery slice g's coefficients for the batch, one after another.
        for (int g = 0; g < count; ++g)
            for (std::size_t k = 0; k < batch.size(); ++k) {
                const Source &s = sources[std::size_t(batch[k].source)];
                const std::uint16_t c = gf::coefficient(unsigned(s.first + batch[k].slice), unsigned(firstExponent + g));
                ops.prepare(c, out + (std::size_t(g) * batch.size() + k) * ops.coeffBytes);
            }
    }

    void multiply(const std::uint8_t *buf, int count, const std::uint8_t *coeffs, int recovery, std::uint8_t *rec,
                  std::size_t from, std::size_t to)
    {
        const std::uint8_t *src[kMostPerBatch];
        for (std::size_t at = from; at < to; at += kTile) {
            const std::size_t len = std::min(kTile, to - at);
            for (int k = 0; k < count; ++k)
                src[k] = buf + std::size_t(k) * padded + at;
            for (int g = 0; g < recovery; ++g)
                ops.mulAdd(rec + std::size_t(g) * padded + at, src,
                           coeffs + std::size_t(g) * std::size_t(count) * ops.coeffBytes, count, len);
        }
    }

    bool writeAll(QFile &f, const char *p, qint64 n)
    {
        while (n > 0) {
            const qint64 w = f.write(p, n);
            if (w <= 0)
                return fail(u"%1 cannot be written: %2"_s.arg(f.fileName(), f.errorString()));
            p += w;
            n -= w;
        }
        return true;
    }
};

Creator::Creator(CreateCommand command, CreatorLimits limits)
    : command_(std::move(command))
    , limits_(limits)
{
}

Creator::~Creator() = default;

bool Creator::plan()
{
    report_ = {};
    error_.clear();
    if (command_.sliceSize <= 0 || command_.sliceSize % 4 != 0) {
        error_ = u"The block size must be a multiple of 4 bytes."_s;
        return false;
    }
    impl_ = std::make_unique<Impl>(*this, rs::ops(rs::activeKernel()));
    Impl &impl = *impl_;
    impl.slice = std::size_t(command_.sliceSize);
    impl.padded = roundUp(impl.slice, rs::kBlock);

    // The files: named relative to the base folder, empty ones left out
    // (nothing to recover), each once.
    const QDir base(command_.base);
    QStringList seen;
    for (const QString &path : command_.files) {
        const QFileInfo info(path);
        const QString full = QDir::cleanPath(info.absoluteFilePath());
        if (seen.contains(full))
            continue;
        seen << full;
        if (!info.exists() || !info.isFile())
            return impl.fail(u"%1 is not a file."_s.arg(path));
        const QString relative = base.relativeFilePath(full);
        if (relative.startsWith(u"../"_s) || relative == u".."_s || QDir::isAbsolutePath(relative))
            return impl.fail(u"%1 lies outside the folder %2 the names are taken from."_s.arg(path, command_.base));
        if (info.size() == 0) {
            report_.skipped << path;
            continue;
        }
        Source s;
        s.path = full;
        s.name = relative.toUtf8();
        s.size = std::uint64_t(info.size());
        s.slices = int((s.size + impl.slice - 1) / impl.slice);
        QFile f(full);
        if (!f.open(QIODevice::ReadOnly))
            return impl.fail(u"%1 cannot be read: %2"_s.arg(path, f.errorString()));
        const QByteArray head = f.read(16384);
        if (head.size() != qsizetype(std::min<std::uint64_t>(16384, s.size)))
            return impl.fail(u"%1 cannot be read: %2"_s.arg(path, f.errorString()));
        s.hash16k = md5::of(reinterpret_cast<const std::uint8_t *>(head.constData()), std::size_t(head.size()));
        s.id = fileIdOf(s.hash16k, s.size, s.name);
        s.checks.resize(std::size_t(s.slices));
        impl.sources.push_back(std::move(s));
    }
    if (impl.sources.empty())
        return impl.fail(u"There is nothing to make recovery files for: no file, or only empty ones."_s);
    std::sort(impl.sources.begin(), impl.sources.end(),
              [](const Source &a, const Source &b) { return idLess(a.id, b.id); });
    int total = 0;
    for (Source &s : impl.sources) {
        s.first = total;
        total += s.slices;
        if (total > kMaxSourceSlices)
            return impl.fail(u"The files make more than %1 blocks of %2 bytes: choose larger blocks."_s
                                 .arg(kMaxSourceSlices)
                                 .arg(impl.slice));
    }
    const int recovery = recoveryCount(total, command_.redundancy);
    impl.volumes = planVolumes(command_.output, recovery, command_.uniform);
    report_.files = int(impl.sources.size());
    report_.sourceSlices = total;
    report_.recoverySlices = recovery;

    // The batches: up to kLanes files at a time, a slice of each in turn.
    // (No more than the set has: a small set gets small buffers.)
    impl.perBatch = int(std::clamp<std::size_t>(kBatchBytes / impl.padded, 1,
                                                std::min<std::size_t>(kMostPerBatch, std::size_t(total))));
    {
        std::vector<int> active, next;
        std::size_t queued = 0;
        std::vector<Slot> batch;
        for (;;) {
            while (int(active.size()) < kLanes && queued < impl.sources.size()) {
                active.push_back(int(queued++));
                next.push_back(0);
            }
            if (active.empty())
                break;
            for (std::size_t a = 0; a < active.size(); ++a) {
                batch.push_back({active[a], next[a]++});
                if (int(batch.size()) == impl.perBatch)
                    impl.batches.push_back(std::exchange(batch, {}));
            }
            for (std::size_t a = active.size(); a-- > 0;)
                if (next[a] == impl.sources[std::size_t(active[a])].slices) {
                    active.erase(active.begin() + std::ptrdiff_t(a));
                    next.erase(next.begin() + std::ptrdiff_t(a));
                }
        }
        if (!batch.empty())
            impl.batches.push_back(std::move(batch));
    }

    // The recovery slices in groups that fit beside the two batch buffers.
    const std::size_t buffers = 2 * std::size_t(impl.perBatch) * impl.padded;
    const std::size_t room = limits_.memoryBytes > buffers ? limits_.memoryBytes - buffers : 0;
    const int fit = int(std::clamp<std::size_t>(room / impl.padded, 1, std::size_t(recovery)));
    const int passes = (recovery + fit - 1) / fit;
    impl.groupSize = (recovery + passes - 1) / passes;
    report_.passes = passes;

    // The description, known but for the hashes the first pass makes.
    std::vector<Id> ids;
    for (const Source &s : impl.sources)
        ids.push_back(s.id);
    const QByteArray main = mainBody(impl.slice, ids);
    impl.setId = setIdOf(main);

    impl.main = main;
    report_.recoveryFiles = int(impl.volumes.size());
    impl.ready = true;
    return true;
}

bool Creator::run(const std::function<void(double)> &progress)
{
    if ((!impl_ || !impl_->ready) && !plan())
        return false;
    Impl &impl = *impl_;
    impl.ready = false; // made once
    const QByteArray &main = impl.main;
    const int recovery = report_.recoverySlices;
    const int passes = report_.passes;

    // The files to write, each made empty now.
    QStringList paths{command_.output};
    for (const Volume &v : impl.volumes)
        paths << v.path;
    const auto removeOutputs = [&] {
        for (auto &f : impl.outputs) {
            f->close();
            f->remove();
        }
        impl.outputs.clear();
    };
    for (const QString &p : paths) {
        auto f = std::make_unique<QFile>(p);
        if (!f->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            const QString why = f->errorString();
            removeOutputs();
            return impl.fail(u"%1 cannot be written: %2"_s.arg(p, why));
        }
        impl.outputs.push_back(std::move(f));
    }

    const int threads = limits_.threads > 0 ? limits_.threads : int(std::max(1u, std::thread::hardware_concurrency()));
    Pool pool(threads);
    Aligned buf[2] = {Aligned(std::size_t(impl.perBatch) * impl.padded),
                      Aligned(std::size_t(impl.perBatch) * impl.padded)};
    Aligned coeffs[2] = {Aligned(std::size_t(impl.groupSize) * std::size_t(impl.perBatch) * impl.ops.coeffBytes),
                         Aligned(std::size_t(impl.groupSize) * std::size_t(impl.perBatch) * impl.ops.coeffBytes)};
    Aligned rec(std::size_t(impl.groupSize) * impl.padded);
    if (!buf[0] || !buf[1] || !coeffs[0] || !coeffs[1] || !rec) {
        removeOutputs();
        return impl.fail(u"Not enough memory for the recovery files."_s);
    }
    const std::size_t steps = impl.batches.size() * std::size_t(passes);
    std::size_t stepsDone = 0;
    const auto failAndClean = [&](const QString &why) {
        error_ = why;
        removeOutputs();
        return false;
    };

    for (int pass = 0; pass < passes; ++pass) {
        const int firstExponent = pass * impl.groupSize;
        const int count = std::min(impl.groupSize, recovery - firstExponent);
        std::memset(rec.data(), 0, std::size_t(count) * impl.padded);
        const bool hashes = pass == 0;
        const auto prepare = [&](std::size_t b) {
            const std::vector<Slot> &batch = impl.batches[b];
            std::uint8_t *to = buf[b % 2].data();
            if (!impl.load(batch, to, hashes))
                return false;
            impl.ops.toLayout(to, batch.size() * impl.padded);
            impl.prepareCoefficients(batch, firstExponent, count, coeffs[b % 2].data());
            return true;
        };
        if (!prepare(0))
            return failAndClean(error_);
        for (std::size_t b = 0; b < impl.batches.size(); ++b) {
            if (cancelled_)
                return failAndClean(u"Stopped."_s);
            Pool::Group group;
            const int k = int(impl.batches[b].size());
            for (std::size_t at = 0; at < impl.padded; at += kTaskBytes) {
                const std::size_t end = std::min(impl.padded, at + kTaskBytes);
                pool.submit(group, [&, b, k, at, end] {
                    impl.multiply(buf[b % 2].data(), k, coeffs[b % 2].data(), count, rec.data(), at, end);
                });
            }
            // The next batch is read while this one is multiplied.
            const bool ok = b + 1 >= impl.batches.size() || prepare(b + 1);
            pool.wait(group);
            if (!ok)
                return failAndClean(error_);
            ++stepsDone;
            if (progress)
                progress(double(stepsDone) / double(steps));
        }
        // The group's recovery packets, each into its file.
        Pool::Group back;
        for (int g = 0; g < count; ++g)
            pool.submit(back, [&, g] { impl.ops.fromLayout(rec.data() + std::size_t(g) * impl.padded, impl.padded); });
        pool.wait(back);
        std::vector<QByteArray> heads(static_cast<std::size_t>(count));
        std::vector<md5::Message> messages(static_cast<std::size_t>(count));
        for (int g = 0; g < count; ++g) {
            heads[std::size_t(g)] = recoveryHashHead(impl.setId, std::uint32_t(firstExponent + g));
            messages[std::size_t(g)] = {reinterpret_cast<const std::uint8_t *>(heads[std::size_t(g)].constData()),
                                        rec.data() + std::size_t(g) * impl.padded};
        }
        std::vector<md5::Digest> hashes16(static_cast<std::size_t>(count));
        md5::hashMany(messages.data(), count, 36, impl.slice, hashes16.data());
        for (int g = 0; g < count; ++g) {
            QFile &f = *impl.outputs[std::size_t(1 + impl.volumeOf(firstExponent + g))];
            const QByteArray header = recoveryHeader(impl.setId, impl.slice, hashes16[std::size_t(g)]);
            if (!impl.writeAll(f, header.constData(), header.size())
                || !impl.writeAll(f, heads[std::size_t(g)].constData() + 32, 4)
                || !impl.writeAll(f, reinterpret_cast<const char *>(rec.data() + std::size_t(g) * impl.padded),
                                  qint64(impl.slice)))
                return failAndClean(error_);
        }
    }

    // The description, now that every hash is known: in the index file and
    // after the recovery slices of every recovery file.
    for (Source &s : impl.sources) {
        s.hash = s.hasher.finish();
        if (s.hasher.length() != s.size || QFileInfo(s.path).size() != qint64(s.size))
            return failAndClean(u"%1 changed while it was read."_s.arg(s.path));
    }
    QByteArray critical = makePacket(impl.setId, packet::kMain, main);
    for (const Source &s : impl.sources) {
        critical += makePacket(impl.setId, packet::kFileDesc, fileDescBody(s.id, s.hash, s.hash16k, s.size, s.name));
        critical += makePacket(impl.setId, packet::kIfsc, ifscBody(s.id, s.checks));
    }
    critical += makePacket(impl.setId, packet::kCreator,
                           creatorBody(QByteArray("Created by Tessaly Poster version ")
                                       + QByteArray::number(TESSALY_VERSION_MAJOR) + '.'
                                       + QByteArray::number(TESSALY_VERSION_MINOR) + '.'
                                       + QByteArray::number(TESSALY_VERSION_PATCH)));
    for (auto &f : impl.outputs) {
        if (!impl.writeAll(*f, critical.constData(), critical.size()))
            return failAndClean(error_);
        if (!f->flush()) {
            return failAndClean(u"%1 cannot be written: %2"_s.arg(f->fileName(), f->errorString()));
        }
        f->close();
        if (f->error() != QFileDevice::NoError)
            return failAndClean(u"%1 cannot be written: %2"_s.arg(f->fileName(), f->errorString()));
    }
    report_.written = paths;
    return true;
}

} // namespace tessaly::par2
