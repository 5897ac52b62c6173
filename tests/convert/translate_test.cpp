#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "convert/translate.h"
#include "translate_model.h"

namespace {

// Runs the translator over input cut into blocks of the given size.
std::string Translate(const std::string& input, Direction direction, size_t blockSize) {
  LinebreakTranslator translator(direction);
  std::string result;
  std::vector<unsigned char> out(LinebreakTranslator::OutputCapacity(blockSize));
  const unsigned char* p = reinterpret_cast<const unsigned char*>(input.data());
  for (size_t at = 0; at < input.size(); at += blockSize) {
    size_t n = std::min(blockSize, input.size() - at);
    size_t produced = translator.Translate(p + at, n, out.data());
    result.append(reinterpret_cast<char*>(out.data()), produced);
  }
  size_t produced = translator.Finish(out.data());
  result.append(reinterpret_cast<char*>(out.data()), produced);
  return result;
}

struct Case {
  const char* name;
  std::string input;
  Direction direction;
  std::string expected;
};

const std::string kLong(100, 'x');

const Case kCases[] = {
    {"empty_1", "", DirectionLfToCrLf, ""},
    {"empty_2", "", DirectionCrLfToLf, ""},
    {"lf_to_crlf", "a\nb\n", DirectionLfToCrLf, "a\r\nb\r\n"},
    {"crlf_back_to_lf", "a\r\nb\r\n", DirectionCrLfToLf, "a\nb\n"},
    // Direction 1 never doubles a CR: CR LF stays CR LF.
    {"crlf_kept_by_1", "a\r\nb\r\n", DirectionLfToCrLf, "a\r\nb\r\n"},
    {"mixed_by_1", "x\ny\r\nz\n", DirectionLfToCrLf, "x\r\ny\r\nz\r\n"},
    {"lone_cr_by_1", "x\ry\r", DirectionLfToCrLf, "x\ry\r"},
    {"cr_cr_lf_by_1", "\r\r\n", DirectionLfToCrLf, "\r\r\n"},
    {"leading_lf_by_1", "\n\n", DirectionLfToCrLf, "\r\n\r\n"},
    {"eot_kept_by_1", "a\x1a" "b\n\x1a", DirectionLfToCrLf, "a\x1a" "b\r\n\x1a"},
    {"cr_cr_lf_by_2", "\r\r\n", DirectionCrLfToLf, "\r\n"},
    {"trailing_cr_by_2", "a\r", DirectionCrLfToLf, "a\r"},
    {"lone_cr_and_lf_by_2", "a\rb\nc", DirectionCrLfToLf, "a\rb\nc"},
    {"lf_cr_by_2", "\n\r", DirectionCrLfToLf, "\n\r"},
    // Only a 0x1A that ends the file is dropped; one with bytes after it is kept.
    {"eot_in_middle_by_2", "a\x1a" "b\r\n", DirectionCrLfToLf, "a\x1a" "b\n"},
    {"eot_at_end_by_2", "a\r\n\x1a", DirectionCrLfToLf, "a\n"},
    {"cr_before_eot_by_2", "a\r\x1a", DirectionCrLfToLf, "a\r"},
    {"eot_eot_by_2", "\x1a\x1a", DirectionCrLfToLf, "\x1a"},
    {"eot_alone_by_2", "\x1a", DirectionCrLfToLf, ""},
    {"cr_eot_lf_by_2", "\r\x1a\n", DirectionCrLfToLf, "\r\x1a\n"},
    {"nul_bytes", std::string("a\0\r\n\0", 5), DirectionCrLfToLf, std::string("a\0\n\0", 4)},
    {"high_bytes_by_1", "\xff\x0d\xfe\n\x80", DirectionLfToCrLf, "\xff\x0d\xfe\r\n\x80"},
    {"long_lines_by_1", kLong + "\n" + kLong + "\r\n" + kLong,
     DirectionLfToCrLf, kLong + "\r\n" + kLong + "\r\n" + kLong},
    {"long_lines_by_2", kLong + "\r\n" + kLong + "\r\r\n" + kLong + "\x1a",
     DirectionCrLfToLf, kLong + "\n" + kLong + "\r\n" + kLong},
};

class TranslateTable : public ::testing::TestWithParam<size_t> {};

TEST_P(TranslateTable, EveryCaseAtThisBlockSize) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Translate(c.input, c.direction, GetParam()), c.expected);
    EXPECT_EQ(TranslateModel(c.input, c.direction), c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, TranslateTable, ::testing::Values(1, 2, 3, 17, 65536),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return "block_" + std::to_string(info.param);
                         });

TEST(Translate, LfToCrLfIsIdempotent) {
  const std::string once = Translate("a\nb\r\nc\rd\n\n", DirectionLfToCrLf, 3);
  EXPECT_EQ(Translate(once, DirectionLfToCrLf, 2), once);
}

TEST(Translate, FinishStartsANewStream) {
  LinebreakTranslator translator(DirectionCrLfToLf);
  unsigned char out[64];
  const unsigned char first[] = {'a', '\r'};
  translator.Translate(first, 2, out);
  EXPECT_EQ(translator.Finish(out), 1u);
  EXPECT_EQ(out[0], '\r');
  const unsigned char second[] = {'\n'};
  EXPECT_EQ(translator.Translate(second, 1, out), 1u);  // not paired with the old CR
  EXPECT_EQ(out[0], '\n');
}

// Random inputs made mostly of the bytes that matter, cut into random blocks,
// against the byte-at-a-time model.
TEST(Translate, RandomBlocksMatchTheModel) {
  std::mt19937 rng(20261210);
  const char alphabet[] = {'\r', '\n', '\x1a', 'a', '\0', '\r', '\n'};
  for (int round = 0; round < 3000; ++round) {
    std::string input(rng() % 300, ' ');
    for (char& c : input) c = alphabet[rng() % sizeof alphabet];
    for (Direction direction : {DirectionLfToCrLf, DirectionCrLfToLf}) {
      LinebreakTranslator translator(direction);
      std::string result;
      std::vector<unsigned char> out(LinebreakTranslator::OutputCapacity(input.size()));
      size_t at = 0;
      while (at < input.size()) {
        size_t n = std::min<size_t>(1 + rng() % 40, input.size() - at);
        size_t produced = translator.Translate(
            reinterpret_cast<const unsigned char*>(input.data()) + at, n, out.data());
        result.append(reinterpret_cast<char*>(out.data()), produced);
        at += n;
      }
      result.append(reinterpret_cast<char*>(out.data()), translator.Finish(out.data()));
      ASSERT_EQ(result, TranslateModel(input, direction))
          << "round " << round << " direction " << direction;
    }
  }
}

// Text as files hold it: lines of random lengths (none, short, longer than 16
// bytes) ended by assorted breaks, in blocks large enough for the 16-byte
// stretches, so that a stretch holds no break, one, or several, and breaks
// fall on every offset of a stretch and across its edges.
TEST(Translate, LinesInLargeBlocksMatchTheModel) {
  std::mt19937 rng(20261211);
  const char* const breaks[] = {"\n", "\r\n", "\r", "\r\r\n", "\n\r", "\x1a", "\r\n\x1a"};
  for (int round = 0; round < 2000; ++round) {
    std::string input;
    const size_t size = rng() % 3000;
    const unsigned longest = 1 + rng() % 60;
    while (input.size() < size) {
      input.append(rng() % (longest + 1), static_cast<char>('a' + rng() % 26));
      input += breaks[rng() % 3 == 0 ? rng() % 7 : rng() % 2];
    }
    for (Direction direction : {DirectionLfToCrLf, DirectionCrLfToLf}) {
      const size_t blockSize = 1 + rng() % 700;
      ASSERT_EQ(Translate(input, direction, blockSize), TranslateModel(input, direction))
          << "round " << round << " direction " << direction << " block " << blockSize;
    }
  }
}

TEST(FindEither, FindsTheFirstOfTwoBytesAtEveryOffset) {
  std::string s(70, 'x');
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  EXPECT_EQ(FindEither(p, p + s.size(), '\r', '\n'), p + s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = '\n';
    if (i + 1 < s.size()) s[i + 1] = '\r';
    EXPECT_EQ(FindEither(p, p + s.size(), '\r', '\n'), p + i) << i;
    EXPECT_EQ(FindEither(p, p + i, '\r', '\n'), p + i) << i;  // never reads past end
    s[i] = 'x';
    if (i + 1 < s.size()) s[i + 1] = 'x';
  }
}

}  // namespace
