// The per-byte step of the encoder, shared by the reference and by the vector
// kernels for the bytes they leave to it.
#pragma once

#include "engine/yEnc.h"

namespace tessaly::yenc::detail {

// Internal linkage on purpose: each kernel file compiles its own copy with its
// own instruction-set flags, and none may stand in for another.
namespace {

// Encodes one byte at column col; returns the new column (0 after a line end).
inline int encodeByte(const EncodeTableType &table, std::uint8_t b, int col, std::uint8_t *&out)
{
    const EncodeEntry &e = table[b];
    if (e.safe) {
        *out++ = e.value;
        ++col;
    } else if (!e.lineStartEscape) {
        *out++ = '=';
        *out++ = e.value;
        col += 2;
    } else if (col != 0) {
        *out++ = e.value;
        ++col;
    } else {
        *out++ = '=';
        *out++ = e.escapedValue;
        col += 2;
    }
    if (col >= LineLength) {
        *out++ = '\r';
        *out++ = '\n';
        col = 0;
    }
    return col;
}

} // namespace
} // namespace tessaly::yenc::detail
