// Arithmetic in GF(2^16) as recovery files use it: the field built on the
// polynomial x^16 + x^12 + x^3 + x + 1, with 2 as its generator, and the
// constant each input slice is multiplied by.
#pragma once

#include <cstdint>

namespace tessaly::par2 {

namespace gf {

inline constexpr unsigned kPolynomial = 0x1100B;
inline constexpr unsigned kOrder = 65535; // of the multiplicative group

std::uint16_t exp(unsigned power); // 2^power (power taken modulo 65535)
unsigned log(std::uint16_t value);   // value != 0
std::uint16_t mul(std::uint16_t a, std::uint16_t b);
std::uint16_t pow(std::uint16_t base, unsigned exponent);

// The logarithm of input slice i's constant (its 2^n): the i-th n, from 1
// up, that shares no factor with 65535, so that every power of the constant
// up to 65534 differs.
unsigned inputLog(unsigned slice);
// The coefficient of input slice i in the recovery slice of `exponent`.
inline std::uint16_t coefficient(unsigned slice, unsigned exponent)
{
    return exp(unsigned((std::uint64_t(inputLog(slice)) * exponent) % kOrder));
}

} // namespace gf

} // namespace tessaly::par2
