#include "codec/dispatch.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec/jpeg.h"
#include "tests/codec/codec_test_support.h"

namespace {

// Restores an environment variable as the test found it.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const char* name) : name_(name) {
    const char* value = std::getenv(name);
    hadValue_ = value != nullptr;
    if (hadValue_) saved_ = value;
  }
  ~ScopedEnvironment() {
    if (hadValue_) {
      setenv(name_.c_str(), saved_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  void set(const char* value) { setenv(name_.c_str(), value, 1); }
  void clear() { unsetenv(name_.c_str()); }

 private:
  std::string name_;
  bool hadValue_ = false;
  std::string saved_;
};

class UseCpuEnvironment : public ScopedEnvironment {
 public:
  UseCpuEnvironment() : ScopedEnvironment("MESHWICK_USECPU") {}
};

TEST(CpuDispatch, OverrideAcceptsExactlyZeroToSix) {
  const std::pair<const char*, int32_t> cases[] = {
      {"0", 0}, {"3", 3},   {"6", 6},   {"7", -1},   {"-1", -1},
      {"", -1}, {"3x", -1}, {" 3", -1}, {"abc", -1}, {"99999999999999", -1},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parseCpuClassOverride(text), expected) << text;
  EXPECT_EQ(parseCpuClassOverride(nullptr), -1);
}

TEST(CpuDispatch, DetectionRules) {
  struct Case {
    uint32_t family;
    uint32_t features;
    CpuClass expected;
  };
  const Case cases[] = {
      {5, kFeatureMmx, CpuClass::Family5Mmx},
      {5, 0, CpuClass::Family5},
      {6, kFeatureMmx, CpuClass::Family6Mmx},
      {6, kFeatureMmx | kFeatureSse, CpuClass::Family6Sse},
      {6, kFeatureSse, CpuClass::Family6},
      {6, 0, CpuClass::Family6},
      {15, kFeatureSse2 | kFeatureMmx, CpuClass::Family15Sse2},
      {15, kFeatureMmx | kFeatureSse, CpuClass::Generic},
      {4, kFeatureMmx, CpuClass::Generic},
      {0, 0, CpuClass::Generic},
  };
  for (const Case& c : cases) {
    ProcessorInfo info{};
    info.family = c.family;
    info.featureFlags = c.features;
    EXPECT_EQ(classifyProcessor(info), c.expected) << c.family << " " << c.features;
  }
}

TEST(CpuDispatch, EnvironmentForcesTheClassRegardlessOfTheProcessor) {
  UseCpuEnvironment environment;
  environment.set("3");
  {
    TestRecord record;
    EXPECT_EQ(record->state.input.cpuClass, 3);
  }
  environment.clear();
  int32_t detected = -1;
  {
    TestRecord record;
    detected = record->state.input.cpuClass;
  }
  EXPECT_EQ(detected, static_cast<int32_t>(classifyProcessor(processorInfo)));
  for (const char* ignored : {"7", "-1", "two"}) {
    environment.set(ignored);
    TestRecord record;
    EXPECT_EQ(record->state.input.cpuClass, detected) << ignored;
  }
}

// Named members and the internal kernels appended after them.
constexpr int kTableMembers = static_cast<int>(sizeof(KernelTable) / sizeof(void*));
static_assert(sizeof(KernelTable) % sizeof(void*) == 0);

// Every class writes every member (a slot left as the 0xAB filler would be called), keeps the
// working slots empty, and the classes without processor-specific kernels get the portable set.
TEST(CpuDispatch, EveryClassFillsEveryMemberWithEmptyWorkingSlots) {
  KernelTable portable{};
  fillKernelTable(&portable, CpuClass::Generic);
  for (int32_t cpuClass = 0; cpuClass < kCpuClassCount; ++cpuClass) {
    KernelTable table{};
    std::memset(&table, 0xAB, sizeof table);
    table.lastScanHeaderSize = 0;
    table.user32Module = table.advapi32Module = table.regOpenKeyEx = table.regQueryValueEx =
        table.regCloseKey = nullptr;
    fillKernelTable(&table, static_cast<CpuClass>(cpuClass));
    SCOPED_TRACE(cpuClass);
    void* members[kTableMembers];
    static_assert(sizeof members == sizeof table);
    std::memcpy(members, &table, sizeof table);
    void* filler;
    std::memset(&filler, 0xAB, sizeof filler);
    for (int i = 6; i < kTableMembers; ++i) EXPECT_NE(members[i], filler) << "member " << i;
    EXPECT_NE(table.finishKernels, nullptr);
    EXPECT_NE(table.idct1Full, nullptr);
    EXPECT_NE(table.huffmanDecodeBlock, nullptr);
    EXPECT_EQ(table.quantize, table.quantize0);
    EXPECT_EQ(table.dequantize, table.dequantize0);
    EXPECT_EQ(table.forwardDct, nullptr);
    EXPECT_EQ(table.idctFull, nullptr);
    EXPECT_EQ(table.idctEighth, nullptr);
    EXPECT_EQ(table.convertMcu, nullptr);
    EXPECT_EQ(table.storeMcu, nullptr);
    if (cpuClass <= static_cast<int32_t>(CpuClass::Family6Mmx)) {
      const size_t first = offsetof(KernelTable, finishKernels);
      EXPECT_EQ(std::memcmp(reinterpret_cast<const char*>(&table) + first,
                            reinterpret_cast<const char*>(&portable) + first, sizeof table - first),
                0);
    }
  }
}

TEST(CpuDispatch, KernelTableHasSixtyNineNamedMembersThenTheAppendedOnes) {
  // The internal kernels come after the 69 named members.
  EXPECT_EQ(offsetof(KernelTable, upsampleFancyH2V1Row), 69 * sizeof(void*));
  EXPECT_EQ(offsetof(KernelTable, idct0FullToRows), offsetof(KernelTable, convertScaledYcc) + sizeof(void*));
  EXPECT_EQ(offsetof(KernelTable, encodeMcuBlocks), offsetof(KernelTable, idct1FullToRows) + sizeof(void*));
  EXPECT_EQ(offsetof(KernelTable, copyGrayTo3), offsetof(KernelTable, encodeMcuBlocks) + sizeof(void*));
  EXPECT_EQ(sizeof(KernelTable), offsetof(KernelTable, copyGrayTo3) + sizeof(void*));
  EXPECT_EQ(offsetof(KernelTable, finishKernels), 6 * sizeof(void*));
  EXPECT_EQ(offsetof(KernelTable, storeMcu), 40 * sizeof(void*));
  EXPECT_EQ(offsetof(KernelTable, encodeBlock), 60 * sizeof(void*));
  EXPECT_EQ(offsetof(KernelTable, dequantize), 68 * sizeof(void*));
}

TEST(CpuDispatch, ProcessServicesAreSetAndTheFormatterOutlivesRecords) {
  { TestRecord record; }
  ASSERT_NE(copyBytes, nullptr);
  ASSERT_NE(zeroBytes, nullptr);
  ASSERT_NE(readTimeStamp, nullptr);
  ASSERT_NE(formatText, nullptr);
  char buffer[32];
  EXPECT_EQ(formatText(buffer, sizeof buffer, "a %s b", "xyz"), 7);
  EXPECT_STREQ(buffer, "a xyz b");
  char overlap[] = "abcdef";
  copyBytes(overlap + 1, overlap, 4);
  EXPECT_STREQ(overlap, "aabcdf");
  EXPECT_EQ(messageBox, nullptr);
}

}  // namespace

namespace {

// The kernel table a fresh record gets under the current environment.
KernelTable recordTable() {
  TestRecord record;
  return *record->state.input.kernels;
}

KernelTable setTable(KernelSet set) {
  KernelTable table{};
  fillKernelSet(&table, set);
  return table;
}

bool sameKernels(const KernelTable& a, const KernelTable& b) {
  const size_t first = offsetof(KernelTable, finishKernels);
  return std::memcmp(reinterpret_cast<const char*>(&a) + first, reinterpret_cast<const char*>(&b) + first,
                     sizeof a - first) == 0;
}

TEST(CpuDispatch, Avx2NeedsTheProcessorAndTheOperatingSystem) {
  constexpr uint32_t kOsXsave = 1u << 27, kAvx = 1u << 28, kAvx2 = 1u << 5;
  constexpr uint64_t kYmmState = 0x7;  // x87, SSE and YMM state saved
  struct Case {
    uint32_t leaf1Ecx;
    uint32_t leaf7Ebx;
    uint64_t xcr0;
    bool usable;
  };
  const Case cases[] = {
      {kOsXsave | kAvx, kAvx2, kYmmState, true},
      {kOsXsave | kAvx, kAvx2, 0xE7, true},  // AVX-512 state as well
      {kOsXsave | kAvx, 0, kYmmState, false},
      {kAvx, kAvx2, kYmmState, false},
      {kOsXsave, kAvx2, kYmmState, false},
      {kOsXsave | kAvx, kAvx2, 0x3, false},  // the system does not save YMM
      {kOsXsave | kAvx, kAvx2, 0x5, false},  // nor SSE state
      {0, 0, 0, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(avx2Usable(c.leaf1Ecx, c.leaf7Ebx, c.xcr0), c.usable)
        << c.leaf1Ecx << " " << c.leaf7Ebx << " " << c.xcr0;
}

TEST(CpuDispatch, SimdLimitAcceptsSse2AndIgnoresEverythingElse) {
  EXPECT_EQ(parseSimdLimit("sse2"), KernelSet::Sse2);
  for (const char* ignored : {"avx2", "", "SSE2", "sse", "sse2 ", "portable", "0", "avx512"})
    EXPECT_EQ(parseSimdLimit(ignored), KernelSet::Avx2) << ignored;
  EXPECT_EQ(parseSimdLimit(nullptr), KernelSet::Avx2);
}

TEST(CpuDispatch, SetsBuildOnEachOtherAndFillEveryMember) {
  EXPECT_TRUE(kernelSetAvailable(KernelSet::Portable));
  for (int32_t i = 0; i < kKernelSetCount; ++i) {
    const auto set = static_cast<KernelSet>(i);
    SCOPED_TRACE(kernelSetName(set));
    KernelTable table{};
    std::memset(&table, 0xAB, sizeof table);
    fillKernelSet(&table, set);
    void* members[kTableMembers];
    std::memcpy(members, &table, sizeof table);
    void* filler;
    std::memset(&filler, 0xAB, sizeof filler);
    for (int m = 6; m < kTableMembers; ++m) EXPECT_NE(members[m], filler) << "member " << m;
    // A set the build or the processor lacks falls back to the best one below it.
    if (!kernelSetAvailable(set)) {
      EXPECT_TRUE(sameKernels(table, setTable(static_cast<KernelSet>(i - 1))));
    }
  }
  if (kernelSetAvailable(KernelSet::Avx2)) {
    const KernelTable sse2 = setTable(KernelSet::Sse2);
    const KernelTable avx2 = setTable(KernelSet::Avx2);
    EXPECT_NE(avx2.idct1Full, sse2.idct1Full);
    EXPECT_NE(avx2.idct0Full, sse2.idct0Full);
    EXPECT_NE(avx2.idct0FullToRows, sse2.idct0FullToRows);
    EXPECT_NE(avx2.idct1FullToRows, sse2.idct1FullToRows);
    EXPECT_NE(avx2.fdct0, sse2.fdct0);
    EXPECT_NE(avx2.fdct1, sse2.fdct1);
    EXPECT_NE(avx2.copyGrayTo3, sse2.copyGrayTo3);
    EXPECT_NE(avx2.encodeMcuBlocks, sse2.encodeMcuBlocks);
    EXPECT_EQ(avx2.huffmanDecodeBlock, sse2.huffmanDecodeBlock);
  }
}

TEST(CpuDispatch, SimdVariableRestrictsTheChoiceToSse2) {
  UseCpuEnvironment useCpu;
  ScopedEnvironment simd("MESHWICK_SIMD");
  useCpu.set("6");
  simd.clear();
  const KernelTable best = recordTable();
  EXPECT_TRUE(
      sameKernels(best, setTable(kernelSetAvailable(KernelSet::Avx2) ? KernelSet::Avx2 : KernelSet::Sse2)));

  simd.set("sse2");
  EXPECT_TRUE(sameKernels(recordTable(), setTable(KernelSet::Sse2)));
  EXPECT_EQ(chooseKernelSet(CpuClass::Family6Sse), KernelSet::Sse2);

  for (const char* ignored : {"avx2", "bogus", "", "SSE2", "sse2,avx2"}) {
    simd.set(ignored);
    EXPECT_TRUE(sameKernels(recordTable(), best)) << ignored;
  }

  // The class still rules: a forced portable class stays portable whatever the variable says.
  for (const char* value : {"sse2", "avx2"}) {
    simd.set(value);
    useCpu.set("0");
    EXPECT_TRUE(sameKernels(recordTable(), setTable(KernelSet::Portable))) << value;
    EXPECT_EQ(chooseKernelSet(CpuClass::Family6Mmx), KernelSet::Portable) << value;
  }
}

}  // namespace
