#include "codec/record_memory.h"

#include <sys/mman.h>

#include <cstdint>
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

// In front of every block buffer, one cache line that tells the release how the memory came.
struct BufferHeader {
  size_t mappedBytes;  // 0: from operator new
};
constexpr size_t kHeaderBytes = 64;
static_assert(sizeof(BufferHeader) <= kHeaderBytes);

// From this size on the pages come straight from the kernel: they are zero already, so the
// decoder does not write tens of MiB of zeros over zeros before every progressive frame.
constexpr size_t kMappedFromBytes = size_t{1} << 20;
constexpr uintptr_t kHugePageBytes = uintptr_t{2} << 20;

// A progressive frame's buffer runs to tens of MiB and its one-component scans stride through
// it: in 4 KiB pages every decode took thousands of page faults and the strided reads missed the
// TLB. Asking for huge pages over the 2 MiB-aligned interior keeps every huge page inside the
// buffer, so nothing beyond it becomes resident. Only a hint: refusal changes nothing.
void preferHugePages(void* memory, size_t bytes) {
  const uintptr_t start = reinterpret_cast<uintptr_t>(memory);
  const uintptr_t first = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  const uintptr_t end = (start + bytes) & ~(kHugePageBytes - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

// Fresh zeroed pages; null on failure.
void* mapZeroedPages(size_t bytes) {
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  preferHugePages(memory, bytes);  // before the header's write touches the first page
  return memory;
}

void* newZeroedBytes(size_t bytes) {
  void* memory = ::operator new[](bytes, kBlockAlignment, std::nothrow);
  if (memory != nullptr) std::memset(memory, 0, bytes);
  return memory;
}

}  // namespace

int16_t* allocateBlocks(size_t blocks) {
  if (blocks == 0 || blocks > kMaxCodecAllocationBytes / (64 * sizeof(int16_t))) return nullptr;
  const size_t bytes = kHeaderBytes + blocks * 64 * sizeof(int16_t);
  const bool mapped = bytes >= kMappedFromBytes;
  void* memory = mapped ? mapZeroedPages(bytes) : newZeroedBytes(bytes);
  if (memory == nullptr) return nullptr;
  static_cast<BufferHeader*>(memory)->mappedBytes = mapped ? bytes : 0;
  return reinterpret_cast<int16_t*>(static_cast<uint8_t*>(memory) + kHeaderBytes);
}

void releaseBlocks(int16_t* blocks) {
  if (blocks == nullptr) return;
  void* memory = reinterpret_cast<uint8_t*>(blocks) - kHeaderBytes;
  const size_t mappedBytes = static_cast<const BufferHeader*>(memory)->mappedBytes;
  if (mappedBytes != 0) {
    munmap(memory, mappedBytes);
  } else {
    ::operator delete[](memory, kBlockAlignment);
  }
}
