#include "engine/Crc32.h"

#include "engine/CpuFeatures.h"

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

bool supported(Kernel k)
{
    switch (k) {
    case Kernel::Table:
        return true;
    case Kernel::Pclmul:
        return cpu::hasPclmul();
    case Kernel::VpclmulAvx2:
        return cpu::hasVpclmulAvx2();
    }
    return false;
}

UpdateFn functionOf(Kernel k)
{
#if TESSALY_X86
    if (k == Kernel::Pclmul)
        return &updatePclmul;
    if (k == Kernel::VpclmulAvx2)
        return &updateVpclmulAvx2;
#endif
    (void)k;
    return &updateTable;
}

struct Active
{
    Kernel kernel;
    UpdateFn fn;
};

Active &active()
{
    static Active a = [] {
        Kernel k = Kernel::Table;
        const QByteArray forced = qgetenv("TESSALY_CRC_KERNEL").toLower();
        if (supported(Kernel::Pclmul))
            k = Kernel::Pclmul;
        if (supported(Kernel::VpclmulAvx2))
            k = Kernel::VpclmulAvx2;
        for (Kernel f : {Kernel::Table, Kernel::Pclmul, Kernel::VpclmulAvx2})
            if (!forced.isEmpty() && forced == kernelName(f).toLatin1() && supported(f))
                k = f;
        return Active{k, functionOf(k)};
    }();
    return a;
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
    return active().fn(reg, p, n);
}

std::uint32_t updateWith(Kernel kernel, std::uint32_t reg, const std::uint8_t *p, std::size_t n)
{
    return functionOf(supported(kernel) ? kernel : Kernel::Table)(reg, p, n);
}

Kernel activeKernel()
{
    return active().kernel;
}

QString kernelName(Kernel kernel)
{
    switch (kernel) {
    case Kernel::Table:
        return u"table"_s;
    case Kernel::Pclmul:
        return u"pclmul"_s;
    case Kernel::VpclmulAvx2:
        return u"vpclmul-avx2"_s;
    }
    return {};
}

QList<Kernel> availableKernels()
{
    QList<Kernel> list;
    for (Kernel k : {Kernel::Table, Kernel::Pclmul, Kernel::VpclmulAvx2})
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
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() == 0)
        return std::nullopt;
    return CalculateBytes(f.readAll());
}

clsCRC &sharedCrc()
{
    static clsCRC crc;
    return crc;
}

} // namespace tessaly
