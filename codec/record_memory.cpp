#include "codec/record_memory.h"

#include <cstring>
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

namespace {

// Cache-line aligned: a 128-byte block then spans two lines instead of three, so a progressive
// scan of one component, which reads its blocks scattered between the others', loads a third less.
constexpr std::align_val_t kBlockAlignment{64};

}  // namespace

int16_t* allocateBlocks(size_t blocks) {
  if (blocks == 0 || blocks > kMaxCodecAllocationBytes / (64 * sizeof(int16_t))) return nullptr;
  const size_t bytes = blocks * 64 * sizeof(int16_t);
  void* memory = ::operator new[](bytes, kBlockAlignment, std::nothrow);
  if (memory == nullptr) return nullptr;
  std::memset(memory, 0, bytes);
  return static_cast<int16_t*>(memory);
}

void releaseBlocks(int16_t* blocks) {
  if (blocks != nullptr) ::operator delete[](blocks, kBlockAlignment);
}
