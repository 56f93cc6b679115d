// Forward DCT kernels of the encoder, portable set.
// Both work in place on one 8x8 block of level-shifted samples (-128..128) in natural order.
#pragma once

#include <cstdint>

// Variant 0: AAN factorisation without descaling. out(u,v) ~ 8*a(u)*a(v)*F(u,v), with
// a(0) = 1 and a(k) = sqrt(2)*cos(k*pi/16); the scale is folded into the variant-0 quantiser
// reciprocals. A constant block s gives out(0,0) = 64*s.
void fdct0(int16_t* block);

// Variant 1: direct fixed-point DCT giving F(u,v) as ITU T.81 defines it (constant block s
// gives 8*s).
void fdct1(int16_t* block);
