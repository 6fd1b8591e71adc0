// MD5, as recovery files name everything by it: one message at a time, and
// many at once where they can go side by side (slices of equal length, the
// files of a set read in step), 8 or 16 messages to a vector register.
#pragma once

#include <QList>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

namespace tessaly::par2::md5 {

using Digest = std::array<std::uint8_t, 16>;

struct State
{
    std::uint32_t v[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
};

enum class Kernel { Scalar, Avx2, Avx512 };

// Runs nblocks 64-byte blocks of each message through its state: lane i
// reads data[i], data[i] + 64, ...
void compress(State *states, const std::uint8_t *const *data, int lanes, std::size_t nblocks);
void compressWith(Kernel kernel, State *states, const std::uint8_t *const *data, int lanes, std::size_t nblocks);
void compressScalar(State &state, const std::uint8_t *data, std::size_t nblocks);

Kernel activeKernel();
bool setKernel(Kernel kernel);
QString kernelName(Kernel kernel);
QList<Kernel> availableKernels();

// One message, fed in pieces of any size.
class Hasher
{
public:
    void update(const std::uint8_t *p, std::size_t n);
    Digest finish() const;
    std::uint64_t length() const { return length_; }

    // Feeds each hasher its piece (pieces may differ in size); the whole
    // blocks they have in common go through the vector kernel together.
    static void updateMany(Hasher *const *hashers, const std::uint8_t *const *data, const std::size_t *sizes,
                           int count);

private:
    State state_;
    std::uint8_t carry_[64] = {};
    std::size_t carried_ = 0;
    std::uint64_t length_ = 0;
};

Digest of(const std::uint8_t *p, std::size_t n);

// Many messages of one shape: headBytes (at most 64) from each head, then
// bodyBytes from each body. Heads may be null when headBytes is 0.
struct Message
{
    const std::uint8_t *head = nullptr;
    const std::uint8_t *body = nullptr;
};
void hashMany(const Message *messages, int count, std::size_t headBytes, std::size_t bodyBytes, Digest *out);

// The 64 additive constants of the rounds.
const std::uint32_t *roundConstants();

// Kernels in their own files, built with their own instruction-set flags:
// 8 and 16 lanes; fewer are filled up with copies of the first.
void compressAvx2(State *states, const std::uint8_t *const *data, int lanes, std::size_t nblocks);
void compressAvx512(State *states, const std::uint8_t *const *data, int lanes, std::size_t nblocks);

} // namespace tessaly::par2::md5
