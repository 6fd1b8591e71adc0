// A set of interchangeable kernels (the portable reference first), the one
// chosen once from what the processor offers, and a way to ask and change
// which one runs. An environment variable can force a kernel by name.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>

namespace tessaly {

template <typename Kernel, typename Fn>
struct KernelEntry
{
    Kernel kernel;
    const char16_t *name;
    bool (*supported)();
    Fn fn;
};

template <typename Kernel, typename Fn, std::size_t N>
class KernelChoice
{
public:
    // The entries form a ladder: the last supported one is the best; entry 0
    // must always be supported.
    KernelChoice(const std::array<KernelEntry<Kernel, Fn>, N> &entries, const char *forcedBy)
        : entries_(entries)
    {
        const QByteArray forced = qgetenv(forcedBy).toLower();
        for (const auto &e : entries_)
            if (e.supported())
                active_ = &e;
        for (const auto &e : entries_)
            if (!forced.isEmpty() && forced == QString::fromUtf16(e.name).toLatin1() && e.supported())
                active_ = &e;
    }

    Kernel active() const { return active_->kernel; }
    Fn fn() const { return active_->fn; }
    // The kernel's function, or the reference when the processor lacks it.
    Fn fnFor(Kernel k) const
    {
        const auto *e = find(k);
        return e && e->supported() ? e->fn : entries_[0].fn;
    }
    bool set(Kernel k)
    {
        const auto *e = find(k);
        if (!e || !e->supported())
            return false;
        active_ = e;
        return true;
    }
    QString name(Kernel k) const
    {
        const auto *e = find(k);
        return e ? QString::fromUtf16(e->name) : QString();
    }
    QList<Kernel> available() const
    {
        QList<Kernel> list;
        for (const auto &e : entries_)
            if (e.supported())
                list << e.kernel;
        return list;
    }

    QList<Kernel> all() const
    {
        QList<Kernel> list;
        for (const auto &e : entries_)
            list << e.kernel;
        return list;
    }

private:
    const KernelEntry<Kernel, Fn> *find(Kernel k) const
    {
        for (const auto &e : entries_)
            if (e.kernel == k)
                return &e;
        return nullptr;
    }
    std::array<KernelEntry<Kernel, Fn>, N> entries_;
    const KernelEntry<Kernel, Fn> *active_ = &entries_[0];
};

} // namespace tessaly
