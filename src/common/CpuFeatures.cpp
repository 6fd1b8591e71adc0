#include "common/CpuFeatures.h"

#if TESSALY_X86 && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#endif

namespace tessaly::cpu {

#if TESSALY_X86 && (defined(__GNUC__) || defined(__clang__))
namespace {
struct Features
{
    bool sse2 = false, ssse3 = false, avx2 = false, pclmul = false, vpclmul = false, vpclmul512 = false,
         avx512vbmi2 = false, avx512bw = false, gfni = false, gfni512 = false;
};

const Features &features()
{
    static const Features f = [] {
        Features r;
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d))
            return r;
        r.sse2 = d & bit_SSE2;
        r.ssse3 = r.sse2 && (c & bit_SSSE3);
        const bool sse41 = c & bit_SSE4_1;
        const bool pclmul = c & bit_PCLMUL;
        const bool osxsave = c & bit_OSXSAVE;
        const bool avx = c & bit_AVX;
        const bool popcnt = c & bit_POPCNT;
        r.pclmul = sse41 && pclmul;
        bool ymmEnabled = false, zmmEnabled = false;
        if (osxsave && avx) {
            unsigned lo = 0, hi = 0;
            __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
            ymmEnabled = (lo & 0x6) == 0x6;   // SSE and AVX state saved by the OS
            zmmEnabled = (lo & 0xE6) == 0xE6; // and the opmask and upper ZMM state
        }
        if (ymmEnabled && __get_cpuid_count(7, 0, &a, &b, &c, &d)) {
            const bool bmi1 = b & bit_BMI, bmi2 = b & bit_BMI2;
            r.avx2 = (b & bit_AVX2) && bmi1 && popcnt;
            r.vpclmul = (b & bit_AVX2) && r.pclmul && (c & bit_VPCLMULQDQ);
            r.vpclmul512 = r.vpclmul && zmmEnabled && (b & bit_AVX512F);
            r.avx512bw = zmmEnabled && (b & bit_AVX512F) && (b & bit_AVX512BW);
            r.gfni = (b & bit_AVX2) && (c & bit_GFNI);
            r.gfni512 = r.gfni && r.avx512bw;
            r.avx512vbmi2 = zmmEnabled && (b & bit_AVX512F) && (b & bit_AVX512BW) && (c & bit_AVX512VBMI)
                            && (c & bit_AVX512VBMI2) && bmi1 && bmi2 && popcnt;
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
bool hasVpclmulAvx512() { return features().vpclmul512; }
bool hasAvx512Vbmi2() { return features().avx512vbmi2; }
bool hasSsse3() { return features().ssse3; }
bool hasAvx512Bw() { return features().avx512bw; }
bool hasGfniAvx2() { return features().gfni; }
bool hasGfniAvx512() { return features().gfni512; }
#else
bool hasSse2() { return false; }
bool hasAvx2() { return false; }
bool hasPclmul() { return false; }
bool hasVpclmulAvx2() { return false; }
bool hasVpclmulAvx512() { return false; }
bool hasAvx512Vbmi2() { return false; }
bool hasSsse3() { return false; }
bool hasAvx512Bw() { return false; }
bool hasGfniAvx2() { return false; }
bool hasGfniAvx512() { return false; }
#endif

} // namespace tessaly::cpu
