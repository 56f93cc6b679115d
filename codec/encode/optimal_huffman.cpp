#include "codec/encode/optimal_huffman.h"

#include <array>

namespace {

constexpr int32_t kReservedSymbol = 256;
constexpr int32_t kMaxCodeLength = 16;
// Every merge lengthens a symbol's code by at most one bit, and 257 symbols merge 256 times:
// no code size exceeds 256, whatever the distribution.
constexpr int32_t kMaxTreeDepth = kFrequencySymbols - 1;
constexpr int32_t kNoSymbol = -1;

// Working weights: sums of up to 2^32 * 257 counts, far below 2^64.
using Weights = std::array<uint64_t, kFrequencySymbols>;
using SymbolInts = std::array<int32_t, kFrequencySymbols>;
using SizeCounts = std::array<int32_t, kMaxTreeDepth + 1>;

// The symbol of smallest nonzero weight other than `excluded`; ties go to the larger symbol.
int32_t lightestSymbol(const Weights& weights, int32_t excluded) {
  int32_t found = kNoSymbol;
  uint64_t lightest = 0;
  for (int32_t i = 0; i < kFrequencySymbols; ++i) {
    if (weights[i] == 0 || i == excluded) continue;
    if (found == kNoSymbol || weights[i] <= lightest) {
      lightest = weights[i];
      found = i;
    }
  }
  return found;
}

// Huffman's construction as chains of symbols: merging two subtrees adds one bit to the code
// of every symbol in both.
SymbolInts treeCodeSizes(Weights weights) {
  SymbolInts codeSize{};
  SymbolInts next;
  next.fill(kNoSymbol);
  for (;;) {
    const int32_t s1 = lightestSymbol(weights, kNoSymbol);
    const int32_t s2 = lightestSymbol(weights, s1);
    if (s2 == kNoSymbol) break;
    weights[s1] += weights[s2];
    weights[s2] = 0;
    int32_t last = s1;
    ++codeSize[last];
    while (next[last] != kNoSymbol) {
      last = next[last];
      ++codeSize[last];
    }
    next[last] = s2;
    for (int32_t i = s2; i != kNoSymbol; i = next[i]) ++codeSize[i];
  }
  return codeSize;
}

// Moves codes longer than 16 bits up the tree (T.81 figure K.3): two codes of the longest
// size become one code a bit shorter and two codes below a shorter leaf, keeping the tree full.
void limitCodeLengths(SizeCounts& sizes) {
  for (int32_t i = kMaxTreeDepth; i > kMaxCodeLength; --i) {
    while (sizes[i] > 0) {
      // A full tree with more than 16 levels and at most 257 leaves always has a leaf at
      // least two levels above its deepest one; the bound only keeps the index in range.
      int32_t j = i - 2;
      while (j > 1 && sizes[j] == 0) --j;
      sizes[i] -= 2;
      sizes[i - 1] += 1;
      sizes[j + 1] += 2;
      sizes[j] -= 1;
    }
  }
}

// The reserved symbol has the longest code of all: drop one code of the longest length.
void removeReservedCode(SizeCounts& sizes) {
  for (int32_t i = kMaxCodeLength; i > 0; --i) {
    if (sizes[i] > 0) {
      --sizes[i];
      return;
    }
  }
}

}  // namespace

int32_t buildOptimalTable(const uint32_t* frequencies, uint8_t* counts, uint8_t* symbols) {
  Weights weights{};
  for (int32_t i = 0; i < kReservedSymbol; ++i) weights[i] = frequencies[i];
  weights[kReservedSymbol] = 1;
  const SymbolInts codeSize = treeCodeSizes(weights);

  SizeCounts sizes{};
  for (int32_t i = 0; i < kFrequencySymbols; ++i) {
    if (codeSize[i] > 0) ++sizes[codeSize[i]];
  }
  limitCodeLengths(sizes);
  removeReservedCode(sizes);
  for (int32_t i = 1; i <= kMaxCodeLength; ++i) counts[i - 1] = static_cast<uint8_t>(sizes[i]);

  // Shorter tree codes first, so the limited lengths keep the order of the frequencies.
  int32_t listed = 0;
  for (int32_t size = 1; size <= kMaxTreeDepth; ++size) {
    for (int32_t symbol = 0; symbol < kReservedSymbol; ++symbol) {
      if (codeSize[symbol] == size) symbols[listed++] = static_cast<uint8_t>(symbol);
    }
  }
  return listed;
}
