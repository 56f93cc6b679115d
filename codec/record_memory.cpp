#include "codec/record_memory.h"

#include <new>

ScanRecord* allocateScanRecord(int32_t componentCount) {
  if (componentCount < 1 || componentCount > 4) return nullptr;
  ScanRecord* scan = new (std::nothrow) ScanRecord{};
  if (scan == nullptr) return nullptr;
  scan->components = new (std::nothrow) ScanComponent[static_cast<size_t>(componentCount)]{};
  if (scan->components == nullptr) {
    delete scan;
    return nullptr;
  }
  scan->componentCount = componentCount;
  return scan;
}

void releaseScanRecord(ScanRecord* scan) {
  if (scan == nullptr) return;
  delete[] scan->components;
  delete scan;
}

int16_t* allocateBlocks(size_t blocks) {
  if (blocks == 0 || blocks > kMaxCodecAllocationBytes / (64 * sizeof(int16_t))) return nullptr;
  return new (std::nothrow) int16_t[blocks * 64]{};
}

void releaseBlocks(int16_t* blocks) {
  delete[] blocks;
}
