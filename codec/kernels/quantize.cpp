#include "codec/kernels/quantize.h"

namespace {

// |c| <= 2^15 and r < 2^16: |c * r| + 2^14 stays below 2^31 for every 16-bit input.
template <typename Reciprocal>
void quantizeWith(int16_t* block, const Reciprocal* reciprocals) {
  for (int i = 0; i < 64; ++i) {
    const int32_t product = int32_t{block[i]} * int32_t{reciprocals[i]};
    block[i] = static_cast<int16_t>((product + 16384) >> 15);
  }
}

}  // namespace

void quantize0(int16_t* block, const int16_t* reciprocals) {
  quantizeWith(block, reciprocals);
}

void quantize1(int16_t* block, const int16_t* reciprocals) {
  quantizeWith(block, reinterpret_cast<const uint16_t*>(reciprocals));
}

void prepareQuantReciprocals(int16_t* table) {
  uint16_t reciprocals[64];
  for (int k = 0; k < 64; ++k) {
    const uint32_t step = static_cast<uint16_t>(table[k]) == 0 ? 1u : static_cast<uint16_t>(table[k]);
    reciprocals[kEncodeZigzagToNatural[k]] = static_cast<uint16_t>(32768u / step);
  }
  for (int i = 0; i < 64; ++i) table[i] = static_cast<int16_t>(reciprocals[i]);
}
