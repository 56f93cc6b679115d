// SSE2 twins of portable encoder kernels (codec/kernels/forward_dct.h): same contracts, bit-identical results
// on every input.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/kernels/sse2/decode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)

namespace sse2 {

void fdct0(int16_t* block);
void fdct1(int16_t* block);

}  // namespace sse2
#endif
