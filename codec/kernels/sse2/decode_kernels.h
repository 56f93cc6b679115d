// SSE2 twins of portable decoder kernels (codec/kernels/decode_kernels.h): same contracts,
// bit-identical results. Built where the compiler targets SSE2 (every x86-64 build).
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#define MESHWICK_HAS_SSE2_KERNELS 1

namespace sse2 {

void idct0Full(int16_t* block);
void idct1Full(int16_t* block);

}  // namespace sse2
#endif
