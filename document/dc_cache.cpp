#include "document/dc_cache.h"

#include <array>
#include <atomic>

namespace DcCache {

namespace {

class Slots {
 public:
  Slots() {
    for (auto& slot : m_slots) slot.store(nullptr);
  }
  // Every context still cached when the process ends is deleted, once.
  ~Slots() {
    for (auto& slot : m_slots) delete slot.exchange(nullptr);
  }
  std::atomic<platform::DrawingContext*>& operator[](int i) { return m_slots[static_cast<std::size_t>(i)]; }

 private:
  std::array<std::atomic<platform::DrawingContext*>, kSlots> m_slots;
};

Slots& TheSlots() {
  static Slots cache;
  return cache;
}

}  // namespace

platform::DrawingContext* Take() {
  for (int i = 0; i < kSlots; ++i) {
    if (platform::DrawingContext* dc = TheSlots()[i].exchange(nullptr)) return dc;
  }
  return platform::CreateCompatibleDC().release();
}

void GiveBack(platform::DrawingContext* dc) {
  for (int i = 0; i < kSlots && dc; ++i) dc = TheSlots()[i].exchange(dc);
  delete dc;
}

int CachedCount() {
  int count = 0;
  for (int i = 0; i < kSlots; ++i) count += TheSlots()[i].load() != nullptr;
  return count;
}

}  // namespace DcCache
