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

// Store the kernel set of the class in members 6..68 (17..21, 24 and 40 null).
void fillKernelTable(KernelTable* table, CpuClass cpuClass);

// Dynamic system functions have no counterpart on this platform: members 1..5 stay null.
void loadSystemFunctions(KernelTable* table);
void releaseSystemFunctions(KernelTable* table);

// Sets copyBytes, zeroBytes, readTimeStamp and formatText.
void setProcessServices();
