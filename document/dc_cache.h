// Process-wide cache of four memory drawing contexts shared by all pictures. Slots are
// touched only through atomic exchanges, so no lock is needed.
#pragma once

#include "platform/drawing.h"

namespace DcCache {

inline constexpr int kSlots = 4;

// A cached context, or a new one when every slot is empty.
platform::DrawingContext* Take();
// Puts a context back; one more than the slots can hold is deleted.
void GiveBack(platform::DrawingContext* dc);
// How many contexts the cache holds now (for tests).
int CachedCount();

}  // namespace DcCache
