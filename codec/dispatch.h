// Processor identification, the class override and the filling of the kernel table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/kernel_table.h"

// Process-wide processor information, refreshed at every jpegInit.
struct ProcessorInfo {
  uint32_t brandIndex;     // EBX bits 0..7 of leaf 1
  uint32_t processorType;  // EAX bits 12..13 of leaf 1
  uint32_t family;         // EAX bits 8..11 of leaf 1
  uint32_t model;          // EAX bits 4..7 of leaf 1
  uint32_t stepping;       // EAX bits 0..3 of leaf 1
  uint32_t featureFlags;   // EDX of leaf 1
  char vendor[13];         // EBX, EDX, ECX of leaf 0
};

inline constexpr uint32_t kFeatureTimeStamp = 1u << 4;
inline constexpr uint32_t kFeatureMmx = 1u << 23;
inline constexpr uint32_t kFeatureSse = 1u << 25;
inline constexpr uint32_t kFeatureSse2 = 1u << 26;

extern ProcessorInfo processorInfo;

// Process-wide services set at every jpegInit. The user-interface functions have no
// counterpart here and stay null; formatText stays valid for the life of the process.
using CopyBytesFunction = void* (*)(void* destination, const void* source, size_t count);
using ZeroBytesFunction = void (*)(void* destination, size_t count);
using ReadTimeStampFunction = uint64_t (*)();
using FormatTextFunction = int (*)(char* buffer, size_t capacity, const char* format, const char* argument);

extern CopyBytesFunction copyBytes;  // overlap-safe
extern ZeroBytesFunction zeroBytes;
extern ReadTimeStampFunction readTimeStamp;
extern void* messageBox;
extern void* peekMessage;
extern void* postQuitMessage;
extern FormatTextFunction formatText;

// Clears and refills `processorInfo` from the identification instruction (cleared state on
// processors without it).
void queryProcessorInfo();

// Class by the detection rules alone.
CpuClass classifyProcessor(const ProcessorInfo& info);

// The override text of MESHWICK_USECPU: its value when it is exactly an integer 0..6, else -1.
int32_t parseCpuClassOverride(const char* text);

// Refresh the processor information, then the MESHWICK_USECPU override, then the rules.
CpuClass detectCpuClass(KernelTable* table);

// Kernel sets, each a superset of the one before: the AVX2 set starts as the SSE2 set and
// replaces members, the SSE2 set does the same over the portable one.
enum class KernelSet : int32_t { Portable = 0, Sse2 = 1, Avx2 = 2 };

inline constexpr int32_t kKernelSetCount = 3;

// "portable", "sse2" or "avx2".
const char* kernelSetName(KernelSet set);

// AVX2 is usable when leaf 7 reports it (EBX bit 5) and the operating system saves the YMM
// registers: leaf 1 ECX reports OSXSAVE (bit 27) and AVX (bit 28), and XCR0 has bits 1 and 2.
bool avx2Usable(uint32_t leaf1Ecx, uint32_t leaf7Ebx, uint64_t xcr0);

// Whether this build holds the set and this processor can run it.
bool kernelSetAvailable(KernelSet set);

// The text of MESHWICK_SIMD: "sse2" limits the choice to the SSE2 set, "avx2" allows up to the
// AVX2 set (the default). Anything else, or no text, gives the default.
KernelSet parseSimdLimit(const char* text);

// The set a class gets: portable for classes 0..4, else the best available set within the
// MESHWICK_SIMD limit.
KernelSet chooseKernelSet(CpuClass cpuClass);

// Store the set in members 6..68 (17..21, 24 and 40 null); an unavailable set is stored as the
// best available one below it.
void fillKernelSet(KernelTable* table, KernelSet set);

// Store the kernel set of the class in members 6..68 (17..21, 24 and 40 null).
void fillKernelTable(KernelTable* table, CpuClass cpuClass);

// Dynamic system functions have no counterpart on this platform: members 1..5 stay null.
void loadSystemFunctions(KernelTable* table);
void releaseSystemFunctions(KernelTable* table);

// Sets copyBytes, zeroBytes, readTimeStamp and formatText.
void setProcessServices();
