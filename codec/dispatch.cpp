#include "codec/dispatch.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define MESHWICK_HAS_CPUID 1
#endif

#include "codec/decode/huffman_decode_block.h"
#include "codec/encode/color_convert_encode.h"
#include "codec/encode/huffman_encode.h"
#include "codec/encode/output_writer.h"
#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/fancy_upsample.h"
#include "codec/kernels/forward_dct.h"
#include "codec/kernels/quantize.h"
#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include "codec/kernels/sse2/decode_kernels.h"
#include "codec/kernels/sse2/encode_kernels.h"
#endif
#if defined(MESHWICK_HAS_AVX2_KERNELS)
#include "codec/kernels/avx2/decode_kernels.h"
#include "codec/kernels/avx2/encode_kernels.h"
#endif

ProcessorInfo processorInfo;

CopyBytesFunction copyBytes = nullptr;
ZeroBytesFunction zeroBytes = nullptr;
ReadTimeStampFunction readTimeStamp = nullptr;
void* messageBox = nullptr;
void* peekMessage = nullptr;
void* postQuitMessage = nullptr;
FormatTextFunction formatText = nullptr;

namespace {

void* copyBytesPortable(void* destination, const void* source, size_t count) {
  return std::memmove(destination, source, count);
}

void zeroBytesPortable(void* destination, size_t count) {
  std::memset(destination, 0, count);
}

uint64_t readNoTimeStamp() {
  return 0;
}

#ifdef MESHWICK_HAS_CPUID
// What the processor says about itself, asked once: cpuid can cost tens of microseconds a
// call under a hypervisor, and the answers do not change while the process runs.
struct CpuidAnswers {
  bool hasLeaf0 = false;
  bool hasLeaf1 = false;
  bool hasLeaf7 = false;
  unsigned int leaf0[4] = {};  // eax, ebx, ecx, edx
  unsigned int leaf1[4] = {};
  unsigned int leaf7Ebx = 0;
  uint64_t xcr0 = 0;  // 0 unless the system enabled XGETBV
};

CpuidAnswers askProcessor() {
  CpuidAnswers answers;
  unsigned int* a = answers.leaf0;
  answers.hasLeaf0 = __get_cpuid(0, &a[0], &a[1], &a[2], &a[3]) != 0;
  const unsigned int highestLeaf = a[0];
  if (!answers.hasLeaf0 || highestLeaf == 0) return answers;
  unsigned int* b = answers.leaf1;
  answers.hasLeaf1 = __get_cpuid(1, &b[0], &b[1], &b[2], &b[3]) != 0;
  if (!answers.hasLeaf1 || highestLeaf < 7) return answers;
  answers.hasLeaf7 = true;
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  answers.leaf7Ebx = ebx;
  constexpr uint32_t kOsXsave = 1u << 27;
  if ((answers.leaf1[2] & kOsXsave) != 0) {  // else XGETBV would fault
    uint32_t xcr0Low = 0, xcr0High = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    answers.xcr0 = (uint64_t{xcr0High} << 32) | xcr0Low;
  }
  return answers;
}

const CpuidAnswers& processorAnswers() {
  static const CpuidAnswers answers = askProcessor();
  return answers;
}
#endif

#ifdef MESHWICK_HAS_CPUID
uint64_t readProcessorTimeStamp() {
  return __rdtsc();
}
#endif

int formatOneText(char* buffer, size_t capacity, const char* format, const char* argument) {
  return std::snprintf(buffer, capacity, format, argument);
}

void finishKernelsPortable() {}

}  // namespace

void queryProcessorInfo() {
  processorInfo = ProcessorInfo{};
  std::memset(processorInfo.vendor, ' ', 12);
  processorInfo.vendor[12] = '\0';
#ifdef MESHWICK_HAS_CPUID
  const CpuidAnswers& answers = processorAnswers();
  if (!answers.hasLeaf0) return;
  std::memcpy(processorInfo.vendor, &answers.leaf0[1], 4);
  std::memcpy(processorInfo.vendor + 4, &answers.leaf0[3], 4);
  std::memcpy(processorInfo.vendor + 8, &answers.leaf0[2], 4);
  if (answers.leaf0[0] == 0 || !answers.hasLeaf1) return;
  const unsigned int eax = answers.leaf1[0], ebx = answers.leaf1[1], edx = answers.leaf1[3];
  processorInfo.brandIndex = ebx & 0xFFu;
  processorInfo.processorType = (eax >> 12) & 0x3u;
  processorInfo.family = (eax >> 8) & 0xFu;
  processorInfo.model = (eax >> 4) & 0xFu;
  processorInfo.stepping = eax & 0xFu;
  processorInfo.featureFlags = edx;
#endif
}

CpuClass classifyProcessor(const ProcessorInfo& info) {
  const bool mmx = (info.featureFlags & kFeatureMmx) != 0;
  const bool sse = (info.featureFlags & kFeatureSse) != 0;
  const bool sse2 = (info.featureFlags & kFeatureSse2) != 0;
  switch (info.family) {
    case 5:
      return mmx ? CpuClass::Family5Mmx : CpuClass::Family5;
    case 6:
      if (mmx && !sse) return CpuClass::Family6Mmx;
      if (mmx && sse) return CpuClass::Family6Sse;
      return CpuClass::Family6;
    case 15:
      return sse2 ? CpuClass::Family15Sse2 : CpuClass::Generic;
    default:
      return CpuClass::Generic;
  }
}

int32_t parseCpuClassOverride(const char* text) {
  if (text == nullptr || *text == '\0') return -1;
  const char* end = text + std::strlen(text);
  int32_t value = -1;
  const auto [stop, error] = std::from_chars(text, end, value);
  if (error != std::errc() || stop != end) return -1;
  return value >= 0 && value < kCpuClassCount ? value : -1;
}

CpuClass detectCpuClass(KernelTable* table) {
  (void)table;
  queryProcessorInfo();
  const int32_t forced = parseCpuClassOverride(std::getenv("MESHWICK_USECPU"));
  if (forced >= 0) return static_cast<CpuClass>(forced);
  return classifyProcessor(processorInfo);
}

void loadSystemFunctions(KernelTable* table) {
  table->user32Module = nullptr;
  table->advapi32Module = nullptr;
  table->regOpenKeyEx = nullptr;
  table->regQueryValueEx = nullptr;
  table->regCloseKey = nullptr;
}

void releaseSystemFunctions(KernelTable* table) {
  loadSystemFunctions(table);
}

void setProcessServices() {
  copyBytes = copyBytesPortable;
  zeroBytes = zeroBytesPortable;
  readTimeStamp = readNoTimeStamp;
#ifdef MESHWICK_HAS_CPUID
  if ((processorInfo.featureFlags & kFeatureTimeStamp) != 0) readTimeStamp = readProcessorTimeStamp;
#endif
  formatText = formatOneText;
}

namespace {

void fillPortableSet(KernelTable* table) {
  table->finishKernels = finishKernelsPortable;
  table->fdct0 = fdct0;
  table->fdct1 = fdct1;
  table->idct0Full = idct0Full;
  table->idct0Half = idct0Half;
  table->idct0Quarter = idct0Quarter;
  table->idct0Eighth = idct0Eighth;
  table->idct1Full = idct1Full;
  table->idct1Half = idct1Half;
  table->idct1Quarter = idct1Quarter;
  table->idct1Eighth = idct1Eighth;
  table->forwardDct = nullptr;
  table->idctFull = nullptr;
  table->idctHalf = nullptr;
  table->idctQuarter = nullptr;
  table->idctEighth = nullptr;
  table->initOutput = initOutput;
  table->putBytes = putBytes;
  table->convertMcu = nullptr;

  table->levelShift1 = levelShift1;
  table->convertRgbToH1V1 = convertRgbToH1V1;
  table->convertRgbToH2V1 = convertRgbToH2V1;
  table->convertRgbToH2V2 = convertRgbToH2V2;
  table->convertBgrToH1V1 = convertBgrToH1V1;
  table->convertBgrToH2V1 = convertBgrToH2V1;
  table->convertBgrToH2V2 = convertBgrToH2V2;
  table->levelShift3H1V1 = levelShift3H1V1;
  table->levelShift3H2V1 = levelShift3H2V1;
  table->levelShift3H2V2 = levelShift3H2V2;
  table->unpackYCbCrH2V1 = unpackYCbCrH2V1;
  table->convertCmykToH1V1 = convertCmykToH1V1;
  table->convertCmykToH2V1K = convertCmykToH2V1K;
  table->convertCmykToH2V2K = convertCmykToH2V2K;
  table->levelShift4H1V1 = levelShift4H1V1;

  table->storeMcu = nullptr;

  table->copyGray = copyGray;
  table->convertH1V1ToRgb = convertH1V1ToRgb;
  table->convertH2V1ToRgb = convertH2V1ToRgb;
  table->convertH2V2ToRgb = convertH2V2ToRgb;
  table->convertH1V1ToBgr = convertH1V1ToBgr;
  table->convertH2V1ToBgr = convertH2V1ToBgr;
  table->convertH2V2ToBgr = convertH2V2ToBgr;
  table->convertH1V1ToRgbx = convertH1V1ToRgbx;
  table->convertH2V1ToRgbx = convertH2V1ToRgbx;
  table->convertH2V2ToRgbx = convertH2V2ToRgbx;
  table->copy3To3 = copy3To3;
  table->upsampleH2V1Copy = upsampleH2V1Copy;
  table->upsampleH2V2Copy = upsampleH2V2Copy;
  table->copy3To4 = copy3To4;
  table->packH2V1 = packH2V1;
  table->convertH1V1YcckToCmyk = convertH1V1YcckToCmyk;
  table->convertH2V1YcckToCmyk = convertH2V1YcckToCmyk;
  table->convertH2V2YcckToCmyk = convertH2V2YcckToCmyk;
  table->copy4To4 = copy4To4;

  table->encodeBlock = encodeBlock;
  table->huffmanDecodeBlock = huffmanDecodeBlock;
  table->huffmanDecodeDcOnly = huffmanDecodeDcOnly;
  table->quantize0 = quantize0;
  table->quantize1 = quantize1;
  table->quantize = quantize0;
  table->dequantize0 = dequantize0;
  table->dequantize1 = dequantize1;
  table->dequantize = dequantize0;
  table->upsampleFancyH2V1Row = upsampleFancyH2V1Row;
  table->upsampleFancyH2V2Row = upsampleFancyH2V2Row;
  table->keepBlockSamples = keepBlockSamples;
  table->convertRgbToGray = convertRgbToGray;
  table->convertBgrToGray = convertBgrToGray;
  table->huffmanDecodeMcu = huffmanDecodeMcu;
  table->convertScaledYcc = convertScaledYcc;
  table->idct0FullToRows = idct0FullToRows;
  table->idct1FullToRows = idct1FullToRows;
  table->encodeMcuBlocks = encodeMcuBlocks;
  table->copyGrayTo3 = copyGrayTo3;
}

// The SSE2 twins over the portable set; kernels without a twin stay portable.
void fillSse2Set(KernelTable* table) {
  fillPortableSet(table);
#if defined(MESHWICK_HAS_SSE2_KERNELS)
  table->fdct0 = sse2::fdct0;
  table->fdct1 = sse2::fdct1;
  table->convertRgbToH1V1 = sse2::convertRgbToH1V1;
  table->convertRgbToH2V1 = sse2::convertRgbToH2V1;
  table->convertRgbToH2V2 = sse2::convertRgbToH2V2;
  table->convertBgrToH1V1 = sse2::convertBgrToH1V1;
  table->convertBgrToH2V1 = sse2::convertBgrToH2V1;
  table->convertBgrToH2V2 = sse2::convertBgrToH2V2;
  table->encodeBlock = sse2::encodeBlock;
  table->quantize0 = sse2::quantize0;
  table->quantize1 = sse2::quantize1;
  table->quantize = sse2::quantize0;
  table->idct0Full = sse2::idct0Full;
  table->idct1Full = sse2::idct1Full;
  table->idct1Half = sse2::idct1Half;
  table->idct1Quarter = sse2::idct1Quarter;
  table->dequantize0 = sse2::dequantize0;
  table->dequantize1 = sse2::dequantize1;
  table->dequantize = sse2::dequantize0;
  table->upsampleFancyH2V1Row = sse2::upsampleFancyH2V1Row;
  table->upsampleFancyH2V2Row = sse2::upsampleFancyH2V2Row;
  table->keepBlockSamples = sse2::keepBlockSamples;
  table->convertRgbToGray = sse2::convertRgbToGray;
  table->convertBgrToGray = sse2::convertBgrToGray;
  table->convertH1V1ToRgb = sse2::convertH1V1ToRgb;
  table->convertH2V1ToRgb = sse2::convertH2V1ToRgb;
  table->convertH2V2ToRgb = sse2::convertH2V2ToRgb;
  table->convertH1V1ToBgr = sse2::convertH1V1ToBgr;
  table->convertH2V1ToBgr = sse2::convertH2V1ToBgr;
  table->convertH2V2ToBgr = sse2::convertH2V2ToBgr;
  table->convertH1V1ToRgbx = sse2::convertH1V1ToRgbx;
  table->convertH2V1ToRgbx = sse2::convertH2V1ToRgbx;
  table->convertH2V2ToRgbx = sse2::convertH2V2ToRgbx;
  table->convertH1V1YcckToCmyk = sse2::convertH1V1YcckToCmyk;
  table->convertH2V1YcckToCmyk = sse2::convertH2V1YcckToCmyk;
  table->convertH2V2YcckToCmyk = sse2::convertH2V2YcckToCmyk;
  table->convertScaledYcc = sse2::convertScaledYcc;
  table->idct0FullToRows = sse2::idct0FullToRows;
  table->idct1FullToRows = sse2::idct1FullToRows;
  table->encodeMcuBlocks = sse2::encodeMcuBlocks;
  table->copyGrayTo3 = sse2::copyGrayTo3;
#endif
}

// The AVX2 twins over the SSE2 set; kernels without an AVX2 twin keep their SSE2 or portable one.
void fillAvx2Set(KernelTable* table) {
  fillSse2Set(table);
#if defined(MESHWICK_HAS_AVX2_KERNELS)
  table->dequantize0 = avx2::dequantize0;
  table->dequantize1 = avx2::dequantize1;
  table->dequantize = avx2::dequantize0;
  table->idct0Full = avx2::idct0Full;
  table->idct1Full = avx2::idct1Full;
  table->idct0FullToRows = avx2::idct0FullToRows;
  table->idct1FullToRows = avx2::idct1FullToRows;
  table->convertH1V1ToRgb = avx2::convertH1V1ToRgb;
  table->convertH2V1ToRgb = avx2::convertH2V1ToRgb;
  table->convertH2V2ToRgb = avx2::convertH2V2ToRgb;
  table->convertH1V1ToBgr = avx2::convertH1V1ToBgr;
  table->convertH2V1ToBgr = avx2::convertH2V1ToBgr;
  table->convertH2V2ToBgr = avx2::convertH2V2ToBgr;
  table->convertH1V1ToRgbx = avx2::convertH1V1ToRgbx;
  table->convertH2V1ToRgbx = avx2::convertH2V1ToRgbx;
  table->convertH2V2ToRgbx = avx2::convertH2V2ToRgbx;
  table->convertH1V1YcckToCmyk = avx2::convertH1V1YcckToCmyk;
  table->convertH2V1YcckToCmyk = avx2::convertH2V1YcckToCmyk;
  table->convertH2V2YcckToCmyk = avx2::convertH2V2YcckToCmyk;
  table->fdct0 = avx2::fdct0;
  table->convertScaledYcc = avx2::convertScaledYcc;
  table->upsampleFancyH2V1Row = avx2::upsampleFancyH2V1Row;
  table->upsampleFancyH2V2Row = avx2::upsampleFancyH2V2Row;
  table->fdct1 = avx2::fdct1;
  table->quantize0 = avx2::quantize0;
  table->quantize1 = avx2::quantize1;
  table->quantize = avx2::quantize0;
  table->convertRgbToH1V1 = avx2::convertRgbToH1V1;
  table->convertRgbToH2V1 = avx2::convertRgbToH2V1;
  table->convertRgbToH2V2 = avx2::convertRgbToH2V2;
  table->convertBgrToH1V1 = avx2::convertBgrToH1V1;
  table->convertBgrToH2V1 = avx2::convertBgrToH2V1;
  table->convertBgrToH2V2 = avx2::convertBgrToH2V2;
  table->convertRgbToGray = avx2::convertRgbToGray;
  table->convertBgrToGray = avx2::convertBgrToGray;
  table->copyGrayTo3 = avx2::copyGrayTo3;
  table->encodeMcuBlocks = avx2::encodeMcuBlocks;
#endif
}

bool sse2Built() {
#if defined(MESHWICK_HAS_SSE2_KERNELS)
  return true;
#else
  return false;
#endif
}

bool avx2Built() {
#if defined(MESHWICK_HAS_AVX2_KERNELS)
  return true;
#else
  return false;
#endif
}

// From the processor's own answers, not from what jpegInit stored: the answer must not depend
// on whether jpegInit ran before.
bool processorRunsAvx2() {
#ifdef MESHWICK_HAS_CPUID
  const CpuidAnswers& answers = processorAnswers();
  if (!answers.hasLeaf7) return false;
  return avx2Usable(answers.leaf1[2], answers.leaf7Ebx, answers.xcr0);
#else
  return false;
#endif
}

}  // namespace

const char* kernelSetName(KernelSet set) {
  switch (set) {
    case KernelSet::Sse2:
      return "sse2";
    case KernelSet::Avx2:
      return "avx2";
    case KernelSet::Portable:
      break;
  }
  return "portable";
}

bool avx2Usable(uint32_t leaf1Ecx, uint32_t leaf7Ebx, uint64_t xcr0) {
  constexpr uint32_t kOsXsaveAndAvx = (1u << 27) | (1u << 28);
  constexpr uint32_t kAvx2 = 1u << 5;
  constexpr uint64_t kSseAndYmmState = (1u << 1) | (1u << 2);
  return (leaf1Ecx & kOsXsaveAndAvx) == kOsXsaveAndAvx && (leaf7Ebx & kAvx2) != 0 &&
         (xcr0 & kSseAndYmmState) == kSseAndYmmState;
}

bool kernelSetAvailable(KernelSet set) {
  switch (set) {
    case KernelSet::Portable:
      return true;
    case KernelSet::Sse2:
      return sse2Built();
    case KernelSet::Avx2:
      return avx2Built() && processorRunsAvx2();
  }
  return false;
}

KernelSet parseSimdLimit(const char* text) {
  if (text != nullptr && std::strcmp(text, "sse2") == 0) return KernelSet::Sse2;
  return KernelSet::Avx2;
}

KernelSet chooseKernelSet(CpuClass cpuClass) {
  // Processor-specific kernels give bit-identical results, so the set only changes speed. The
  // SSE class of family 6 gets the SSE2 set too: every x86-64 processor has SSE2, and a build
  // that cannot assume it has no SSE2 kernels to offer.
  if (cpuClass != CpuClass::Family6Sse && cpuClass != CpuClass::Family15Sse2) return KernelSet::Portable;
  const KernelSet limit = parseSimdLimit(std::getenv("MESHWICK_SIMD"));
  for (int32_t set = static_cast<int32_t>(limit); set > 0; --set) {
    if (kernelSetAvailable(static_cast<KernelSet>(set))) return static_cast<KernelSet>(set);
  }
  return KernelSet::Portable;
}

void fillKernelSet(KernelTable* table, KernelSet set) {
  if (set == KernelSet::Avx2 && kernelSetAvailable(KernelSet::Avx2)) {
    fillAvx2Set(table);
  } else if (set != KernelSet::Portable) {
    fillSse2Set(table);
  } else {
    fillPortableSet(table);
  }
}

void fillKernelTable(KernelTable* table, CpuClass cpuClass) {
  fillKernelSet(table, chooseKernelSet(cpuClass));
}
