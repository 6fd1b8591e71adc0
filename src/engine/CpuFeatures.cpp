#include "engine/CpuFeatures.h"

#if TESSALY_X86 && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#endif

namespace tessaly::cpu {

#if TESSALY_X86 && (defined(__GNUC__) || defined(__clang__))
namespace {
struct Features
{
    bool sse2 = false, avx2 = false, pclmul = false, vpclmul = false;
};

const Features &features()
{
    static const Features f = [] {
        Features r;
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d))
            return r;
        r.sse2 = d & bit_SSE2;
        const bool sse41 = c & bit_SSE4_1;
        const bool pclmul = c & bit_PCLMUL;
        const bool osxsave = c & bit_OSXSAVE;
        const bool avx = c & bit_AVX;
        r.pclmul = sse41 && pclmul;
        bool ymmEnabled = false;
        if (osxsave && avx) {
            unsigned lo = 0, hi = 0;
            __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
            ymmEnabled = (lo & 0x6) == 0x6; // SSE and AVX state saved by the OS
        }
        if (ymmEnabled && __get_cpuid_count(7, 0, &a, &b, &c, &d)) {
            r.avx2 = b & bit_AVX2;
            r.vpclmul = r.avx2 && r.pclmul && (c & (1u << 10));
        }
        return r;
    }();
    return f;
}
} // namespace

bool hasSse2() { return features().sse2; }
bool hasAvx2() { return features().avx2; }
bool hasPclmul() { return features().pclmul; }
bool hasVpclmulAvx2() { return features().vpclmul; }
#else
bool hasSse2() { return false; }
bool hasAvx2() { return false; }
bool hasPclmul() { return false; }
bool hasVpclmulAvx2() { return false; }
#endif

} // namespace tessaly::cpu
