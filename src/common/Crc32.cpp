#include "common/Crc32.h"

#include "common/CpuFeatures.h"
#include "common/KernelChoice.h"
#include "platform/SafeFiles.h"

#include <QFile>

#include <array>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace crc {

namespace {

constexpr std::array<std::uint32_t, 256> makeTable()
{
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[i] = c;
    }
    return t;
}

constexpr auto kTable = makeTable();
static_assert(kTable[1] == 0x77073096u && kTable[128] == 0xEDB88320u && kTable[255] == 0x2D02EF8Du);

using UpdateFn = std::uint32_t (*)(std::uint32_t, const std::uint8_t *, std::size_t);

bool always()
{
    return true;
}

auto &kernels()
{
    static KernelChoice choice(std::array<KernelEntry<Kernel, UpdateFn>,
#if TESSALY_X86
                                          4>{{{Kernel::Table, u"table", &always, &updateTable},
                                              {Kernel::Pclmul, u"pclmul", &cpu::hasPclmul, &updatePclmul},
                                              {Kernel::VpclmulAvx2, u"vpclmul-avx2", &cpu::hasVpclmulAvx2,
                                               &updateVpclmulAvx2},
                                              {Kernel::VpclmulAvx512, u"vpclmul-avx512", &cpu::hasVpclmulAvx512,
                                               &updateVpclmulAvx512}}},
#else
                                          1>{{{Kernel::Table, u"table", &always, &updateTable}}},
#endif
                               "TESSALY_CRC_KERNEL");
    return choice;
}

} // namespace

const std::uint32_t *table()
{
    return kTable.data();
}

std::uint32_t updateTable(std::uint32_t reg, const std::uint8_t *p, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        reg = (reg >> 8) ^ kTable[(reg ^ p[i]) & 0xFF];
    return reg;
}

std::uint32_t update(std::uint32_t reg, const std::uint8_t *p, std::size_t n)
{
    return kernels().fn()(reg, p, n);
}

std::uint32_t updateWith(Kernel kernel, std::uint32_t reg, const std::uint8_t *p, std::size_t n)
{
    return kernels().fnFor(kernel)(reg, p, n);
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

bool setKernel(Kernel kernel)
{
    return kernels().set(kernel);
}

} // namespace crc

QByteArray crcHex(std::uint32_t crc)
{
    return QByteArray::number(crc, 16).toUpper();
}

QString crcText(std::int32_t crc)
{
    return QString::fromLatin1(crcHex(static_cast<std::uint32_t>(crc)));
}

std::int32_t clsCRC::AddBytes(const QByteArray &bytes)
{
    reg_ = crc::update(reg_, reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()));
    return static_cast<std::int32_t>(~reg_);
}

std::int32_t clsCRC::AddString(const QString &text)
{
    return AddBytes(text.toUtf8());
}

std::int32_t clsCRC::CalculateBytes(const QByteArray &bytes)
{
    Clear();
    return AddBytes(bytes);
}

std::int32_t clsCRC::CalculateString(const QString &text)
{
    return CalculateBytes(text.toUtf8());
}

std::optional<std::int32_t> clsCRC::CalculateFile(const QString &path)
{
    QFile f;
    QString error;
    if (!openRegularFile(f, path, &error) || f.size() == 0)
        return std::nullopt;
    return CalculateBytes(f.readAll());
}

clsCRC &sharedCrc()
{
    static clsCRC crc;
    return crc;
}

} // namespace tessaly
