#include "engine/yEnc.h"

#include "common/CpuFeatures.h"
#include "common/KernelChoice.h"
#include "engine/yEncScalar.h"

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

bool always()
{
    return true;
}

auto &kernels()
{
    static KernelChoice choice(std::array<KernelEntry<yenc::Kernel, EncodeFn>,
#if TESSALY_X86
                                          4>{{{yenc::Kernel::Scalar, u"scalar", &always, &yenc::encodeScalar},
                                              {yenc::Kernel::Sse2, u"sse2", &cpu::hasSse2, &yenc::encodeSse2},
                                              {yenc::Kernel::Avx2, u"avx2", &cpu::hasAvx2, &yenc::encodeAvx2},
                                              {yenc::Kernel::Avx512, u"avx512", &cpu::hasAvx512Vbmi2,
                                               &yenc::encodeAvx512}}},
#else
                                          1>{{{yenc::Kernel::Scalar, u"scalar", &always, &yenc::encodeScalar}}},
#endif
                               "TESSALY_YENC_KERNEL");
    return choice;
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
    return kernels().fn()(in, n, out);
}

std::size_t encodeWith(Kernel kernel, const std::uint8_t *in, std::size_t n, std::uint8_t *out)
{
    return kernels().fnFor(kernel)(in, n, out);
}

Kernel activeKernel()
{
    return kernels().active();
}

QString kernelName(Kernel kernel)
{
    return kernels().name(kernel);
}

QList<Kernel> availableKernels()
{
    return kernels().available();
}

QList<Kernel> allKernels()
{
    return kernels().all();
}

bool setKernel(Kernel kernel)
{
    return kernels().set(kernel);
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
