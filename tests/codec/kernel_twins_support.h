// The twins under test: every member of the kernel set this run chose that differs from the
// portable set's, paired with the portable kernel.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "codec/dispatch.h"
#include "codec/kernel_table.h"

namespace twins {

// The set this run's environment selects (MESHWICK_USECPU, MESHWICK_SIMD and the processor).
inline KernelSet kernelSetUnderTest() {
  static const KernelSet set = [] {
    KernelTable table{};
    return chooseKernelSet(detectCpuClass(&table));
  }();
  return set;
}

inline const KernelTable& tableOf(KernelSet set) {
  static KernelTable tables[kKernelSetCount];
  static const bool filled = [] {
    for (int32_t i = 0; i < kKernelSetCount; ++i) fillKernelSet(&tables[i], static_cast<KernelSet>(i));
    return true;
  }();
  (void)filled;
  return tables[static_cast<int32_t>(set)];
}

inline const KernelTable& portableTable() {
  return tableOf(KernelSet::Portable);
}

// The portable kernel and this run's twin at `member`, when the run's set replaces it.
template <class Kernel>
std::optional<std::pair<Kernel, Kernel>> twinAt(Kernel KernelTable::*member) {
  const Kernel portable = portableTable().*member;
  const Kernel twin = tableOf(kernelSetUnderTest()).*member;
  if (twin == portable) return std::nullopt;
  return std::make_pair(portable, twin);
}

inline std::string twinName(const char* member) {
  return std::string(kernelSetName(kernelSetUnderTest())) + " set's " + member;
}

// Collects the twins of `members` ({name, member} pairs) as Twin{twin name, member name, portable,
// twin}.
template <class Twin, class Kernel>
std::vector<Twin> twinsOf(std::initializer_list<std::pair<const char*, Kernel KernelTable::*>> members) {
  std::vector<Twin> found;
  for (const auto& [name, member] : members) {
    if (const auto kernels = twinAt(member))
      found.push_back({twinName(name), name, kernels->first, kernels->second});
  }
  return found;
}

}  // namespace twins
