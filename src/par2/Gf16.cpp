#include "par2/Gf16.h"

#include <array>
#include <memory>
#include <vector>

namespace tessaly::par2::gf {

namespace {

struct Tables
{
    std::array<std::uint16_t, 2 * kOrder> exp{};
    std::array<std::uint32_t, kOrder + 1> log{};
    std::vector<std::uint32_t> inputLogs; // grown on demand, below 32768 slices

    Tables()
    {
        unsigned x = 1;
        for (unsigned i = 0; i < kOrder; ++i) {
            exp[i] = exp[i + kOrder] = std::uint16_t(x);
            log[x] = i;
            x <<= 1;
            if (x & 0x10000)
                x ^= kPolynomial;
        }
        for (unsigned n = 1; inputLogs.size() < 32768; ++n)
            if (n % 3 && n % 5 && n % 17 && n % 257)
                inputLogs.push_back(n);
    }
};

const Tables &tables()
{
    static const auto t = std::make_unique<Tables>();
    return *t;
}

} // namespace

std::uint16_t exp(unsigned power)
{
    return tables().exp[power % kOrder];
}

unsigned log(std::uint16_t value)
{
    return tables().log[value];
}

std::uint16_t mul(std::uint16_t a, std::uint16_t b)
{
    if (a == 0 || b == 0)
        return 0;
    const Tables &t = tables();
    return t.exp[t.log[a] + t.log[b]];
}

std::uint16_t pow(std::uint16_t base, unsigned exponent)
{
    if (exponent == 0)
        return 1;
    if (base == 0)
        return 0;
    return exp(unsigned((std::uint64_t(log(base)) * exponent) % kOrder));
}

unsigned inputLog(unsigned slice)
{
    const Tables &t = tables();
    if (slice < t.inputLogs.size())
        return t.inputLogs[slice];
    // Beyond what a recovery set may hold; counted on for completeness.
    unsigned n = t.inputLogs.back();
    for (unsigned i = unsigned(t.inputLogs.size()) - 1; i < slice;)
        if (++n % 3 && n % 5 && n % 17 && n % 257)
            ++i;
    return n;
}

} // namespace tessaly::par2::gf
