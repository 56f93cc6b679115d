#include "codec/dispatch.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec/jpeg.h"
#include "tests/codec/codec_test_support.h"

namespace {

// The 69 named members and the internal huffmanDecodeMcu.
constexpr int kKernelTableSlots = 70;

// Restores MESHWICK_USECPU as the test found it.
class UseCpuEnvironment {
 public:
  UseCpuEnvironment() {
    const char* value = std::getenv("MESHWICK_USECPU");
    hadValue_ = value != nullptr;
    if (hadValue_) saved_ = value;
  }
  ~UseCpuEnvironment() {
    if (hadValue_) {
      setenv("MESHWICK_USECPU", saved_.c_str(), 1);
    } else {
      unsetenv("MESHWICK_USECPU");
    }
  }
  void set(const char* value) { setenv("MESHWICK_USECPU", value, 1); }
  void clear() { unsetenv("MESHWICK_USECPU"); }

 private:
  bool hadValue_ = false;
  std::string saved_;
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
    void* members[kKernelTableSlots];
    static_assert(sizeof members == sizeof table);
    std::memcpy(members, &table, sizeof table);
    void* filler;
    std::memset(&filler, 0xAB, sizeof filler);
    for (int i = 6; i < kKernelTableSlots; ++i) EXPECT_NE(members[i], filler) << "member " << i;
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

TEST(CpuDispatch, KernelTableHasSixtyNineNamedMembersFirst) {
  // The internal kernels follow the named members.
  EXPECT_EQ(offsetof(KernelTable, huffmanDecodeMcu), 69 * sizeof(void*));
  EXPECT_EQ(sizeof(KernelTable), kKernelTableSlots * sizeof(void*));
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
