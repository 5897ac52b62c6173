#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "convert/translate.h"
#include "translate_model.h"

namespace {

// Runs the translator over input cut into blocks of the given size.
std::string Translate(const std::string& input, Direction direction, size_t blockSize,
                      Encoding encoding = EncodingBytes) {
  LinebreakTranslator translator(direction, encoding);
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
    // Several 0x1A at the end are kept: a second run must change nothing.
    {"eot_eot_by_2", "\x1a\x1a", DirectionCrLfToLf, "\x1a\x1a"},
    {"crlf_eot_eot_by_2", "a\r\n\x1a\x1a", DirectionCrLfToLf, "a\n\x1a\x1a"},
    {"eot_x_eot_by_2", "\x1a" "a\x1a", DirectionCrLfToLf, "\x1a" "a"},
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

// A second run changes nothing, in either direction; the one exception the
// rules leave is a CR-LF pair that direction 2 makes out of CR CR LF.
TEST(Translate, ASecondRunChangesNothing) {
  std::mt19937 rng(20261212);
  const char alphabet[] = {'\r', '\n', '\x1a', 'a', '\x1a'};
  for (int round = 0; round < 3000; ++round) {
    std::string input(rng() % 12, ' ');
    for (char& c : input) c = alphabet[rng() % sizeof alphabet];
    for (Direction direction : {DirectionLfToCrLf, DirectionCrLfToLf}) {
      const std::string once = Translate(input, direction, 1 + rng() % 5);
      if (direction == DirectionCrLfToLf && once.find("\r\n") != std::string::npos) continue;
      ASSERT_EQ(Translate(once, direction, 1 + rng() % 5), once)
          << "round " << round << " direction " << direction;
    }
  }
}

// UTF-16 text with its byte-order mark, in either byte order: the rules apply
// to whole units, so that bytes 0D and 0A inside other characters stay, and a
// unit split between blocks is still one unit.
std::string Utf16(const std::vector<unsigned>& units, bool bigEndian) {
  std::string bytes;
  for (unsigned u : units) {
    char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    bytes += bigEndian ? hi : lo;
    bytes += bigEndian ? lo : hi;
  }
  return bytes;
}

struct UnitCase {
  const char* name;
  std::vector<unsigned> input;
  Direction direction;
  std::vector<unsigned> expected;
};

const unsigned kBom = 0xFEFF;
const UnitCase kUnitCases[] = {
    {"lf_to_crlf", {kBom, 'a', 0x0A, 'b', 0x0A}, DirectionLfToCrLf,
     {kBom, 'a', 0x0D, 0x0A, 'b', 0x0D, 0x0A}},
    {"crlf_kept_by_1", {kBom, 'a', 0x0D, 0x0A, 0x0D}, DirectionLfToCrLf,
     {kBom, 'a', 0x0D, 0x0A, 0x0D}},
    {"crlf_to_lf", {kBom, 'a', 0x0D, 0x0A, 'b', 0x0D, 0x0A}, DirectionCrLfToLf,
     {kBom, 'a', 0x0A, 'b', 0x0A}},
    {"lone_cr_and_cr_cr_lf_by_2", {kBom, 0x0D, 'x', 0x0D, 0x0D, 0x0A, 0x0D}, DirectionCrLfToLf,
     {kBom, 0x0D, 'x', 0x0D, 0x0A, 0x0D}},
    // Characters whose bytes are 0D or 0A are text, not breaks.
    {"break_bytes_inside_units_by_1", {kBom, 0x0A0D, 0x0D00, 0x0A00, 0x0A}, DirectionLfToCrLf,
     {kBom, 0x0A0D, 0x0D00, 0x0A00, 0x0D, 0x0A}},
    {"break_bytes_inside_units_by_2", {kBom, 0x0D0A, 0x0A0D, 0x0D00, 0x0A00}, DirectionCrLfToLf,
     {kBom, 0x0D0A, 0x0A0D, 0x0D00, 0x0A00}},
    {"final_eot_by_2", {kBom, 'a', 0x0D, 0x0A, 0x1A}, DirectionCrLfToLf, {kBom, 'a', 0x0A}},
    {"eot_eot_by_2", {kBom, 'a', 0x1A, 0x1A}, DirectionCrLfToLf, {kBom, 'a', 0x1A, 0x1A}},
    {"cr_eot_by_2", {kBom, 0x0D, 0x1A}, DirectionCrLfToLf, {kBom, 0x0D}},
    {"inner_eot_by_2", {kBom, 0x1A, 0x0D, 0x0A}, DirectionCrLfToLf, {kBom, 0x1A, 0x0A}},
    {"eot_byte_in_unit_by_2", {kBom, 'a', 0x1A00}, DirectionCrLfToLf, {kBom, 'a', 0x1A00}},
    {"eot_kept_by_1", {kBom, 0x1A}, DirectionLfToCrLf, {kBom, 0x1A}},
    {"mark_alone", {kBom}, DirectionCrLfToLf, {kBom}},
};

class Utf16Table : public ::testing::TestWithParam<size_t> {};

TEST_P(Utf16Table, EveryCaseInBothByteOrdersAtThisBlockSize) {
  for (const UnitCase& c : kUnitCases) {
    for (bool bigEndian : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (bigEndian ? " big-endian" : " little-endian"));
      const Encoding encoding = bigEndian ? EncodingUtf16Be : EncodingUtf16Le;
      const std::string input = Utf16(c.input, bigEndian);
      const std::string expected = Utf16(c.expected, bigEndian);
      EXPECT_EQ(Translate(input, c.direction, GetParam(), encoding), expected);
      EXPECT_EQ(TranslateModel(input, c.direction, encoding), expected);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, Utf16Table, ::testing::Values(1, 2, 3, 17, 65536),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return "block_" + std::to_string(info.param);
                         });

TEST(DetectEncoding, AByteOrderMarkAndAnEvenSizeMakeUtf16) {
  struct Case {
    std::string start;
    unsigned long long size;
    Encoding expected;
  } cases[] = {
      {"\xff\xfe", 2, EncodingUtf16Le},      {"\xff\xfe" "a", 1000, EncodingUtf16Le},
      {"\xfe\xff", 8, EncodingUtf16Be},      {"\xff\xfe", 9, EncodingBytes},
      {"\xfe\xff" "a", 3, EncodingBytes},    {"\xef\xbb\xbf" "a", 4, EncodingBytes},
      {"\xff", 1, EncodingBytes},            {"", 0, EncodingBytes},
      {"a\r\n", 4, EncodingBytes},          {"\xfe\xfe", 2, EncodingBytes},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DetectEncoding(reinterpret_cast<const unsigned char*>(c.start.data()),
                             c.start.size(), c.size),
              c.expected)
        << c.start.size() << " bytes, size " << c.size;
  }
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
// against the unit-at-a-time model, as bytes and as UTF-16 (where these bytes
// pair into breaks, characters and odd sizes).
TEST(Translate, RandomBlocksMatchTheModel) {
  std::mt19937 rng(20261210);
  const char alphabet[] = {'\r', '\n', '\x1a', 'a', '\0', '\r', '\n'};
  for (int round = 0; round < 3000; ++round) {
    std::string input(rng() % 300, ' ');
    for (char& c : input) c = alphabet[rng() % sizeof alphabet];
    for (int k = 0; k < 6; ++k) {
      const Direction direction = k % 2 == 0 ? DirectionLfToCrLf : DirectionCrLfToLf;
      const Encoding encoding = static_cast<Encoding>(k / 2);
      LinebreakTranslator translator(direction, encoding);
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
      ASSERT_EQ(result, TranslateModel(input, direction, encoding))
          << "round " << round << " direction " << direction << " encoding " << encoding;
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
