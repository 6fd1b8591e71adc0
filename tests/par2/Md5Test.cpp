#include "par2/Md5.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <vector>

using namespace tessaly::par2;

namespace {

QByteArray hex(const md5::Digest &d)
{
    return QByteArray(reinterpret_cast<const char *>(d.data()), 16).toHex();
}

QByteArray expected(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

QByteArray randomBytes(qsizetype n, QRandomGenerator &rng)
{
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char(rng.generate());
    return b;
}

const std::uint8_t *bytes(const QByteArray &b)
{
    return reinterpret_cast<const std::uint8_t *>(b.constData());
}

} // namespace

// One message in pieces of every size, many of one shape side by side, and
// many fed pieces of different sizes: each kernel, against a second MD5.
TEST(Md5, EveryKernelAndEveryWayOfFeedingAgree)
{
    QRandomGenerator rng(5);
    EXPECT_EQ(hex(md5::of(nullptr, 0)), QByteArray("d41d8cd98f00b204e9800998ecf8427e"));
    const QByteArray abc("abc");
    EXPECT_EQ(hex(md5::of(bytes(abc), 3)), QByteArray("900150983cd24fb0d6963f7d28e17f72"));
    for (const md5::Kernel kernel : md5::availableKernels()) {
        SCOPED_TRACE(qPrintable(md5::kernelName(kernel)));
        ASSERT_TRUE(md5::setKernel(kernel));
        // One message, every length around the block and padding edges.
        for (const qsizetype n : {0, 1, 55, 56, 63, 64, 65, 119, 120, 128, 1000, 70001}) {
            const QByteArray data = randomBytes(n, rng);
            md5::Hasher h;
            for (qsizetype at = 0; at < n;) {
                const qsizetype piece = std::min<qsizetype>(n - at, 1 + rng.bounded(200));
                h.update(bytes(data) + at, std::size_t(piece));
                at += piece;
            }
            EXPECT_EQ(hex(h.finish()), expected(data)) << n;
        }
        // Messages of one shape, 1 to 37 of them, with and without a head.
        for (const int count : {1, 3, 16, 37}) {
            for (const auto &[head, body] : {std::pair{0, 71680}, std::pair{36, 1000}, std::pair{36, 20},
                                            std::pair{0, 60}, std::pair{64, 64}}) {
                std::vector<QByteArray> heads, bodies;
                std::vector<md5::Message> messages;
                for (int i = 0; i < count; ++i) {
                    heads.push_back(randomBytes(head, rng));
                    bodies.push_back(randomBytes(body, rng));
                }
                for (int i = 0; i < count; ++i)
                    messages.push_back({bytes(heads[std::size_t(i)]), bytes(bodies[std::size_t(i)])});
                std::vector<md5::Digest> out(static_cast<std::size_t>(count));
                md5::hashMany(messages.data(), count, std::size_t(head), std::size_t(body), out.data());
                for (int i = 0; i < count; ++i)
                    ASSERT_EQ(hex(out[std::size_t(i)]), expected(heads[std::size_t(i)] + bodies[std::size_t(i)]))
                        << count << " messages of " << head << " + " << body;
            }
        }
        // Streams fed side by side in pieces of different sizes (files of a
        // set read slice by slice, one ending early).
        std::vector<QByteArray> streams;
        std::vector<md5::Hasher> hashers(19);
        for (int i = 0; i < 19; ++i)
            streams.push_back(randomBytes(i == 4 ? 5000 : 40000 + 3 * i, rng));
        for (qsizetype at = 0; at < 41000; at += 6004) {
            std::vector<md5::Hasher *> hs;
            std::vector<const std::uint8_t *> ps;
            std::vector<std::size_t> ns;
            for (int i = 0; i < 19; ++i) {
                const QByteArray &s = streams[std::size_t(i)];
                if (at >= s.size())
                    continue;
                hs.push_back(&hashers[std::size_t(i)]);
                ps.push_back(bytes(s) + at);
                ns.push_back(std::size_t(std::min<qsizetype>(6004, s.size() - at)));
            }
            md5::Hasher::updateMany(hs.data(), ps.data(), ns.data(), int(hs.size()));
        }
        for (int i = 0; i < 19; ++i)
            EXPECT_EQ(hex(hashers[std::size_t(i)].finish()), expected(streams[std::size_t(i)])) << i;
    }
    md5::setKernel(md5::availableKernels().last());
}
