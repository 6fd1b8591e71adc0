// What the processor offers, asked once.
#pragma once

#if defined(__x86_64__) || defined(_M_X64)
#define TESSALY_X86 1
#else
#define TESSALY_X86 0
#endif

namespace tessaly::cpu {

bool hasSse2();
bool hasAvx2();           // AVX2, BMI1 and POPCNT, with OS support for the wide registers
bool hasPclmul();         // PCLMULQDQ with SSE4.1
bool hasVpclmulAvx2();    // VPCLMULQDQ on 256-bit registers
bool hasVpclmulAvx512();  // VPCLMULQDQ on 512-bit registers (AVX-512 F), with OS support for them
bool hasAvx512Vbmi2();   // AVX-512 F, BW, VBMI and VBMI2, BMI1, BMI2 and POPCNT, with OS support
bool hasSsse3();
bool hasAvx512Bw();       // AVX-512 F and BW, with OS support for the opmask and 512-bit registers
bool hasGfniAvx2();       // GFNI on 256-bit registers (with AVX2)
bool hasGfniAvx512();     // GFNI on 512-bit registers (with AVX-512 F and BW)    // AVX-512 F, BW and VBMI2, BMI2 and POPCNT, with OS support for the opmask and 512-bit registers

} // namespace tessaly::cpu
