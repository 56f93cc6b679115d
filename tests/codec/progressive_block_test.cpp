// The progressive block procedures against their one-call-per-bit reference: same block,
// predictor, end-of-band run, status and reader state after every block, over random
// entropy-coded data with stuffed bytes, markers and memory that ends inside the data, for every
// procedure over bands and point transforms, with tables that send end-of-band runs.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "codec/decode/byte_input.h"
#include "codec/decode/huffman_table.h"
#include "codec/decode/progressive_decoder.h"
#include "tests/codec/entropy_test_support.h"
#include "tests/codec/progressive_block_reference.h"

namespace {

using entropy_test::Bytes;
using entropy_test::TablePair;

enum class Procedure { DcFirst, DcRefine, AcFirst, AcRefine };

struct BandCase {
  const char* name;
  Procedure procedure;
  int32_t ss, se, al;
};

const BandCase kBands[] = {
    {"dcFirst", Procedure::DcFirst, 0, 0, 0},          {"dcFirstShifted", Procedure::DcFirst, 0, 0, 1},
    {"dcFirstTopShift", Procedure::DcFirst, 0, 0, 13}, {"dcRefine", Procedure::DcRefine, 0, 0, 0},
    {"dcRefineHigh", Procedure::DcRefine, 0, 0, 12},   {"acFirstLow", Procedure::AcFirst, 1, 5, 2},
    {"acFirstHigh", Procedure::AcFirst, 6, 63, 0},     {"acFirstWhole", Procedure::AcFirst, 1, 63, 1},
    {"acFirstLast", Procedure::AcFirst, 63, 63, 0},    {"acFirstTopShift", Procedure::AcFirst, 1, 1, 13},
    {"acRefineWhole", Procedure::AcRefine, 1, 63, 0},  {"acRefineLow", Procedure::AcRefine, 1, 5, 1},
    {"acRefineHigh", Procedure::AcRefine, 6, 63, 3},   {"acRefineMiddle", Procedure::AcRefine, 10, 20, 13},
    {"acRefineLast", Procedure::AcRefine, 63, 63, 0},
};

// An AC table of the kind progressive encoders write: end-of-band runs of every length, ZRL,
// sign-only codes and some larger categories.
TablePair bandTables() {
  const Bytes acCounts = {0, 1, 2, 3, 4, 6, 6, 4, 3, 0, 0, 0, 0, 0, 0, 0};
  const Bytes acValues = {0x01, 0x00, 0x11, 0x10, 0x21, 0x20, 0x31, 0x30, 0x41, 0x40,
                          0x02, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0,
                          0xE0, 0xF0, 0x51, 0x61, 0x03, 0x12, 0xF1, 0x05, 0x0A};
  return {"bands", stream_builder::kDcLumaCounts, stream_builder::kDcLumaValues, acCounts, acValues};
}

std::vector<TablePair> allTables() {
  std::vector<TablePair> pairs = entropy_test::tablePairs();
  pairs.push_back(bandTables());
  return pairs;
}

// A block as earlier scans leave it for refinement: in the band, zeros and values whose bits
// below al + 1 are clear, and now and then one that already has bit al (corrupt data).
std::array<int16_t, 64> earlierScans(std::mt19937& random, const BandCase& band) {
  std::array<int16_t, 64> block{};
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_int_distribution<int> magnitude(1, 40);
  for (int32_t k = 0; k < 64; ++k)
    block[k] = static_cast<int16_t>(percent(random) < 50 ? 0 : magnitude(random));
  for (int32_t k = band.ss; k <= band.se; ++k) {
    const int32_t roll = percent(random);
    int32_t value = 0;
    if (roll < 40) value = magnitude(random) * (2 << band.al);
    if (roll >= 95) value = magnitude(random) * (2 << band.al) + (1 << band.al);
    if (percent(random) < 50) value = -value;
    block[kNaturalOrder[k]] = static_cast<int16_t>(value);
  }
  return block;
}

int32_t runOurs(const BandCase& band, ByteInput* input, const HuffmanTable& table, int32_t* predictor,
                int16_t* block) {
  switch (band.procedure) {
    case Procedure::DcFirst:
      return decodeDcFirst(input, &table, predictor, band.al, block);
    case Procedure::DcRefine:
      return decodeDcRefine(input, band.al, block);
    case Procedure::AcFirst:
      return decodeAcFirst(input, &table, band.ss, band.se, band.al, block);
    case Procedure::AcRefine:
      return decodeAcRefine(input, &table, band.ss, band.se, band.al, block);
  }
  return 0;
}

int32_t runReference(const BandCase& band, ByteInput* input, const HuffmanTable& table, int32_t* predictor,
                     int16_t* block) {
  switch (band.procedure) {
    case Procedure::DcFirst:
      return progressive_reference::decodeDcFirst(input, &table, predictor, band.al, block);
    case Procedure::DcRefine:
      return progressive_reference::decodeDcRefine(input, band.al, block);
    case Procedure::AcFirst:
      return progressive_reference::decodeAcFirst(input, &table, band.ss, band.se, band.al, block);
    case Procedure::AcRefine:
      return progressive_reference::decodeAcRefine(input, &table, band.ss, band.se, band.al, block);
  }
  return 0;
}

class ProgressiveBlock : public ::testing::TestWithParam<BandCase> {};

TEST_P(ProgressiveBlock, MatchesTheReferenceBlockByBlock) {
  const BandCase& band = GetParam();
  std::mt19937 random(20261208 + band.ss * 64 + band.se + band.al * 4096);
  for (const TablePair& pair : allTables()) {
    SCOPED_TRACE(pair.name);
    const bool dc = band.procedure == Procedure::DcFirst;
    const HuffmanTable table = dc ? entropy_test::derive(pair.dcCounts, pair.dcValues, 0)
                                  : entropy_test::derive(pair.acCounts, pair.acValues, 1);
    for (int stream = 0; stream < 150; ++stream) {
      Bytes data = entropy_test::randomEntropyData(random, 16 + random() % 700);
      ByteInput ours = entropy_test::memoryInput(data);
      ByteInput reference = entropy_test::memoryInput(data);
      int32_t ourPredictor = static_cast<int32_t>(random() % 200) - 100;
      int32_t referencePredictor = ourPredictor;
      for (int block = 0; block < 150; ++block) {
        std::array<int16_t, 64> ourBlock = earlierScans(random, band);
        std::array<int16_t, 64> referenceBlock = ourBlock;
        const int32_t ourStatus = runOurs(band, &ours, table, &ourPredictor, ourBlock.data());
        const int32_t referenceStatus =
            runReference(band, &reference, table, &referencePredictor, referenceBlock.data());
        ASSERT_EQ(ourStatus, referenceStatus) << "stream " << stream << " block " << block;
        ASSERT_EQ(ourPredictor, referencePredictor) << "stream " << stream << " block " << block;
        ASSERT_EQ(ourBlock, referenceBlock) << "stream " << stream << " block " << block;
        ASSERT_EQ(ours.eobRun, reference.eobRun) << "stream " << stream << " block " << block;
        entropy_test::expectSameReader(ours, reference, block);
        if (ourStatus < 0 || testing::Test::HasFailure()) break;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Bands, ProgressiveBlock, ::testing::ValuesIn(kBands),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
