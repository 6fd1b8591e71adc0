#include "engine/yEnc.h"

#include "engine/CpuFeatures.h"
#include "engine/yEncScalar.h"

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

constexpr EncodeTableType makeTable()
{
    EncodeTableType t{};
    for (int b = 0; b < 256; ++b) {
        const int c = (b + 42) % 256;
        EncodeEntry &e = t[std::size_t(b)];
        if (c == 0 || c == 9 || c == 10 || c == 13 || c == 61) {
            e.value = std::uint8_t((c + 64) % 256);
        } else if (c == 46) {
            e.value = std::uint8_t(c);
            e.lineStartEscape = true;
            e.escapedValue = std::uint8_t((c + 64) % 256);
        } else {
            e.value = std::uint8_t(c);
            e.safe = true;
        }
    }
    return t;
}

constexpr EncodeTableType kTable = makeTable();
static_assert(kTable[214].value == 64 && !kTable[214].safe);
static_assert(kTable[4].lineStartEscape && kTable[4].escapedValue == 110);

using EncodeFn = std::size_t (*)(const std::uint8_t *, std::size_t, std::uint8_t *);

EncodeFn functionOf(yenc::Kernel k)
{
    switch (k) {
    case yenc::Kernel::Scalar:
        return &yenc::encodeScalar;
#if TESSALY_X86
    case yenc::Kernel::Sse2:
        return &yenc::encodeSse2;
    case yenc::Kernel::Avx2:
        return &yenc::encodeAvx2;
#else
    default:
        break;
#endif
    }
    return &yenc::encodeScalar;
}

bool supported(yenc::Kernel k)
{
    switch (k) {
    case yenc::Kernel::Scalar:
        return true;
    case yenc::Kernel::Sse2:
        return cpu::hasSse2();
    case yenc::Kernel::Avx2:
        return cpu::hasAvx2();
    }
    return false;
}

yenc::Kernel bestKernel()
{
    const QByteArray forced = qgetenv("TESSALY_YENC_KERNEL").toLower();
    for (yenc::Kernel k : {yenc::Kernel::Scalar, yenc::Kernel::Sse2, yenc::Kernel::Avx2})
        if (!forced.isEmpty() && forced == yenc::kernelName(k).toLatin1() && supported(k))
            return k;
    if (supported(yenc::Kernel::Avx2))
        return yenc::Kernel::Avx2;
    if (supported(yenc::Kernel::Sse2))
        return yenc::Kernel::Sse2;
    return yenc::Kernel::Scalar;
}

struct Active
{
    yenc::Kernel kernel;
    EncodeFn fn;
};

Active &active()
{
    static Active a = [] {
        const yenc::Kernel k = bestKernel();
        return Active{k, functionOf(k)};
    }();
    return a;
}

} // namespace

const EncodeTableType &EncodeTable()
{
    return kTable;
}

namespace yenc {

std::size_t encodeScalar(const std::uint8_t *in, std::size_t n, std::uint8_t *out)
{
    std::uint8_t *const start = out;
    int col = 0;
    for (std::size_t i = 0; i < n; ++i)
        col = detail::encodeByte(kTable, in[i], col, out);
    return std::size_t(out - start);
}

std::size_t encode(const std::uint8_t *in, std::size_t n, std::uint8_t *out)
{
    return active().fn(in, n, out);
}

std::size_t encodeWith(Kernel kernel, const std::uint8_t *in, std::size_t n, std::uint8_t *out)
{
    return functionOf(supported(kernel) ? kernel : Kernel::Scalar)(in, n, out);
}

Kernel activeKernel()
{
    return active().kernel;
}

QString kernelName(Kernel kernel)
{
    switch (kernel) {
    case Kernel::Scalar:
        return u"scalar"_s;
    case Kernel::Sse2:
        return u"sse2"_s;
    case Kernel::Avx2:
        return u"avx2"_s;
    }
    return {};
}

QList<Kernel> availableKernels()
{
    QList<Kernel> list;
    for (Kernel k : {Kernel::Scalar, Kernel::Sse2, Kernel::Avx2})
        if (supported(k))
            list << k;
    return list;
}

bool setKernel(Kernel kernel)
{
    if (!supported(kernel))
        return false;
    active() = Active{kernel, functionOf(kernel)};
    return true;
}

} // namespace yenc

QByteArray yEncode(const QByteArray &bytes)
{
    const auto n = std::size_t(bytes.size());
    QByteArray out(qsizetype(yenc::maxEncodedSize(n)), Qt::Uninitialized);
    const std::size_t len = yenc::encode(reinterpret_cast<const std::uint8_t *>(bytes.constData()), n,
                                         reinterpret_cast<std::uint8_t *>(out.data()));
    out.resize(qsizetype(len));
    return out;
}

} // namespace tessaly
