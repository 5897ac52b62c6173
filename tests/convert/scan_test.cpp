#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "convert/scan.h"

namespace {

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// Scans input cut into blocks of the given size. *early is set when
// WillChange(mode) said yes after some block.
LinebreakCounts Scan(const std::string& input, size_t blockSize,
                     TranslationMode mode = ModeAutomatic, bool* early = nullptr) {
  LinebreakScanner scanner;
  if (early) *early = false;
  for (size_t at = 0; at < input.size(); at += blockSize) {
    scanner.Feed(Bytes(input) + at, std::min(blockSize, input.size() - at));
    if (early && scanner.WillChange(mode)) *early = true;
  }
  return scanner.Finish();
}

std::string Translated(const std::string& input, Direction direction,
                       Encoding encoding = EncodingBytes) {
  LinebreakTranslator translator(direction, encoding);
  std::vector<unsigned char> out(LinebreakTranslator::OutputCapacity(input.size()));
  size_t n = translator.Translate(Bytes(input), input.size(), out.data());
  n += translator.Finish(out.data() + n);
  return std::string(reinterpret_cast<char*>(out.data()), n);
}

struct ScanCase {
  const char* name;
  std::string input;
  uint64_t crLf, loneLf, loneCr;
  bool endOfText, nul, dropsEndOfText, firstCrIsCrLf;
  // What automatic mode, LF to CR-LF and CR-LF to LF do to it.
  ModeEffect automatic, toCrLf, toLf;
};

const std::string kPad(40, 'x');  // moves the interesting bytes across 16-byte chunks

const ScanCase kCases[] = {
    {"empty", "", 0, 0, 0, false, false, false, false,
     EffectUnchanged, EffectUnchanged, EffectUnchanged},
    {"no_breaks", "abc", 0, 0, 0, false, false, false, false,
     EffectUnchanged, EffectUnchanged, EffectUnchanged},
    {"lf_file", "a\nb\n", 0, 2, 0, false, false, false, false,
     EffectToCrLf, EffectToCrLf, EffectUnchanged},
    {"crlf_file", "a\r\nb\r\n", 2, 0, 0, false, false, false, true,
     EffectToLf, EffectUnchanged, EffectToLf},
    {"cr_cr_lf", "\r\r\n", 1, 0, 1, false, false, false, false,
     EffectUnchanged, EffectUnchanged, EffectToLf},
    {"trailing_cr", "a\nb\r", 0, 1, 1, false, false, false, false,
     EffectToCrLf, EffectToCrLf, EffectUnchanged},
    {"lf_cr", "\n\r", 0, 1, 1, false, false, false, false,
     EffectToCrLf, EffectToCrLf, EffectUnchanged},
    // The first CR decides automatic mode; later pairs do not.
    {"first_cr_alone", "x\ry\r\n", 1, 0, 1, false, false, false, false,
     EffectUnchanged, EffectUnchanged, EffectToLf},
    {"first_cr_pairs_later_lf", "x\r\ny\nz", 1, 1, 0, false, false, false, true,
     EffectToLf, EffectToCrLf, EffectToLf},
    // A final 0x1A is dropped by direction 2; one with bytes after it is kept.
    {"final_eot", "a\x1a", 0, 0, 0, true, false, true, false,
     EffectUnchanged, EffectUnchanged, EffectToLf},
    {"inner_eot", "a\x1a" "b\n", 0, 1, 0, true, false, false, false,
     EffectToCrLf, EffectToCrLf, EffectUnchanged},
    // Two at the end are both kept: a file that a first run left so is done.
    {"final_eot_eot", "a\x1a\x1a", 0, 0, 0, true, false, false, false,
     EffectUnchanged, EffectUnchanged, EffectUnchanged},
    {"nul", std::string("a\0\r\n", 4), 1, 0, 0, false, true, false, true,
     EffectToLf, EffectUnchanged, EffectToLf},
    {"across_chunks", kPad + "\r\n" + kPad + "\r" + kPad + "\n" + kPad + "\x1a", 1, 1, 1,
     true, false, true, true, EffectToLf, EffectToCrLf, EffectToLf},
    {"pair_on_chunk_edge", std::string(15, 'x') + "\r\n" + std::string(14, 'x') + "\r", 1, 0, 1,
     false, false, false, true, EffectToLf, EffectUnchanged, EffectToLf},
};

class ScanTable : public ::testing::TestWithParam<size_t> {};

TEST_P(ScanTable, EveryCaseAtThisBlockSize) {
  for (const ScanCase& c : kCases) {
    SCOPED_TRACE(c.name);
    LinebreakCounts counts = Scan(c.input, GetParam());
    EXPECT_EQ(counts.crLf, c.crLf);
    EXPECT_EQ(counts.loneLf, c.loneLf);
    EXPECT_EQ(counts.loneCr, c.loneCr);
    EXPECT_EQ(counts.hasEndOfText, c.endOfText);
    EXPECT_EQ(counts.hasNul, c.nul);
    EXPECT_EQ(counts.dropsEndOfText, c.dropsEndOfText);
    EXPECT_EQ(counts.firstCrIsCrLf, c.firstCrIsCrLf);
    EXPECT_EQ(EffectOf(counts, ModeAutomatic), c.automatic);
    EXPECT_EQ(EffectOf(counts, ModeLfToCrLf), c.toCrLf);
    EXPECT_EQ(EffectOf(counts, ModeCrLfToLf), c.toLf);
  }
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, ScanTable, ::testing::Values(1, 2, 3, 17, 65536),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return "block_" + std::to_string(info.param);
                         });

// Random streams cut into random blocks, as bytes and as UTF-16: the counts
// match a unit-at-a-time count, a mode is said to change a stream exactly when
// translating it gives other bytes, and an early yes is never wrong.
TEST(Scan, AgreesWithTheTranslator) {
  std::mt19937 rng(7);
  const char alphabet[] = {'\r', '\n', '\x1a', 'a', '\0', '\r', '\n', 'b', 'c'};
  for (int round = 0; round < 3000; ++round) {
    std::string input(rng() % 200, ' ');
    for (char& c : input) c = alphabet[rng() % sizeof alphabet];
    const Encoding encoding = static_cast<Encoding>(round % 3);

    // The units, as the translator reads them.
    std::vector<unsigned> units;
    const size_t width = encoding == EncodingBytes ? 1 : 2;
    for (size_t i = 0; i + width <= input.size(); i += width) {
      unsigned a = static_cast<unsigned char>(input[i]);
      unsigned b = width == 2 ? static_cast<unsigned char>(input[i + 1]) : 0;
      units.push_back(width == 1 ? a : encoding == EncodingUtf16Be ? a << 8 | b : b << 8 | a);
    }
    LinebreakCounts want;
    bool firstCrSeen = false;
    for (size_t i = 0; i < units.size(); ++i) {
      bool next_is_lf = i + 1 < units.size() && units[i + 1] == '\n';
      if (units[i] == '\r') {
        (next_is_lf ? want.crLf : want.loneCr)++;
        if (!firstCrSeen) want.firstCrIsCrLf = next_is_lf;
        firstCrSeen = true;
      }
      if (units[i] == '\n' && (i == 0 || units[i - 1] != '\r')) want.loneLf++;
      if (units[i] == 0) want.hasNul = true;
    }

    LinebreakScanner scanner(encoding);
    std::vector<bool> early(3, false);
    std::vector<std::optional<Direction>> settled(3);  // the first settled direction
    for (size_t at = 0; at < input.size();) {
      size_t n = std::min<size_t>(1 + rng() % 40, input.size() - at);
      scanner.Feed(Bytes(input) + at, n);
      at += n;
      for (TranslationMode mode : {0, 1, 2}) {
        early[mode] = early[mode] || scanner.WillChange(mode);
        if (!settled[mode] && scanner.DirectionSettled(mode))
          settled[mode] = scanner.DirectionFor(mode);
      }
    }
    LinebreakCounts got = scanner.Finish();
    SCOPED_TRACE("round " + std::to_string(round) + " encoding " + std::to_string(encoding));
    ASSERT_EQ(got.crLf, want.crLf);
    ASSERT_EQ(got.loneLf, want.loneLf);
    ASSERT_EQ(got.loneCr, want.loneCr);
    ASSERT_EQ(got.firstCrIsCrLf, want.firstCrIsCrLf);
    ASSERT_EQ(got.hasNul, want.hasNul);

    for (TranslationMode mode : {0, 1, 2}) {
      Direction direction =
          mode == ModeCrLfToLf || (mode == ModeAutomatic && want.firstCrIsCrLf)
              ? DirectionCrLfToLf
              : DirectionLfToCrLf;
      bool changes = Translated(input, direction, encoding) != input;
      ModeEffect effect = EffectOf(got, mode);
      ASSERT_EQ(effect != EffectUnchanged, changes) << "mode " << mode;
      if (changes) {
        ASSERT_EQ(effect, direction == DirectionCrLfToLf ? EffectToLf : EffectToCrLf);
      }
      if (early[mode]) {
        ASSERT_TRUE(changes) << "mode " << mode;
      }
      if (settled[mode]) {
        ASSERT_EQ(*settled[mode], direction) << "round " << round << " mode " << mode;
      }
      ASSERT_EQ(ResolveDirection(mode, got.firstCrIsCrLf), direction);
    }
  }
}

TEST(Scan, EarlyAnswerComesWithTheFirstProof) {
  const std::string lfFile = "a\n" + std::string(1000, 'x') + "\r\n";
  bool early = false;
  Scan(lfFile.substr(0, 2), 2, ModeLfToCrLf, &early);
  EXPECT_TRUE(early);
  Scan("a\r", 2, ModeAutomatic, &early);  // the first CR's follower is not known yet
  EXPECT_FALSE(early);
  Scan("a\r\n", 2, ModeAutomatic, &early);
  EXPECT_TRUE(early);
}

}  // namespace
