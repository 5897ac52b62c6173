// The stream filter against streams cut at every place: the result must not
// depend on where a pipe's reads end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream_filter.h"

namespace {

struct Filtered {
  std::string out;
  std::vector<size_t> pieces;  // the size of each output piece
  bool passed = false;
  bool lateNul = false;
};

// Feeds input in pieces that end at the offsets in cuts.
Filtered Filter(TranslationMode mode, bool force, size_t window, const std::string& input,
           const std::vector<size_t>& cuts) {
  Filtered run;
  StreamFilter filter(
      mode, force,
      [&run](const unsigned char* p, size_t n) {
        run.out.append(reinterpret_cast<const char*>(p), n);
        run.pieces.push_back(n);
        return true;
      },
      window);
  size_t from = 0;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(input.data());
  for (size_t cut : cuts) {
    EXPECT_TRUE(filter.Feed(bytes + from, cut - from));
    from = cut;
  }
  EXPECT_TRUE(filter.Feed(bytes + from, input.size() - from));
  EXPECT_TRUE(filter.Finish());
  run.passed = filter.passedThrough();
  run.lateNul = filter.lateNul();
  return run;
}

struct Case {
  const char* name;
  TranslationMode mode;
  bool force;
  std::string input;
  std::string out;
  bool passed;
  bool lateNul;
};

const size_t kWindow = 8;

TEST(StreamFilter, SameResultHoweverCut) {
  const Case cases[] = {
      {"auto_first_cr_then_lf", ModeAutomatic, false, "a\nb\r\nc\x1a", "a\nb\nc", false, false},
      {"auto_first_cr_alone", ModeAutomatic, false, "a\nb\rc\r\n", "a\r\nb\rc\r\n", false, false},
      {"auto_cr_as_last_byte", ModeAutomatic, false, "ab\n\r", "ab\r\n\r", false, false},
      {"auto_no_cr", ModeAutomatic, false, "a\nb\n", "a\r\nb\r\n", false, false},
      // The first CR after the window is not waited for.
      {"auto_cr_past_the_window", ModeAutomatic, false, "a\nbcdefgh\r\n", "a\r\nbcdefgh\r\n",
       false, false},
      {"auto_cr_last_in_the_window", ModeAutomatic, false, "a\nbcdef\r\nx\n", "a\nbcdef\nx\n",
       false, false},
      {"to_crlf", ModeLfToCrLf, false, "\r\n\n\r", "\r\n\r\n\r", false, false},
      {"to_lf", ModeCrLfToLf, false, "\r\r\n\x1a\r\n\x1a", "\r\n\x1a\n", false, false},
      {"empty", ModeAutomatic, false, "", "", false, false},
      {"nul_in_the_window", ModeCrLfToLf, false, std::string("a\r\nb\0\r\n", 7),
       std::string("a\r\nb\0\r\n", 7), true, false},
      {"nul_first", ModeLfToCrLf, false, std::string("\0\n", 2), std::string("\0\n", 2), true, false},
      {"nul_past_the_window", ModeCrLfToLf, false, std::string("a\r\nbcdefgh\0\r\n", 13),
       std::string("a\nbcdefgh\0\n", 11), false, true},
      // UTF-16 in whole units, however a unit is split between pieces.
      {"utf16le_to_crlf", ModeLfToCrLf, false, std::string("\xff\xfe" "a\0\n\0", 6),
       std::string("\xff\xfe" "a\0\r\0\n\0", 8), false, false},
      {"utf16le_auto_first_cr_then_lf", ModeAutomatic, false,
       std::string("\xff\xfe" "\n\0\n\r\r\0\n\0", 10),
       std::string("\xff\xfe" "\n\0\n\r\n\0", 8), false, false},
      {"utf16be_auto_lone_cr", ModeAutomatic, true,
       std::string("\xfe\xff" "\0\n\0\r\0\r\0\n", 10),
       std::string("\xfe\xff" "\0\r\0\n\0\r\0\r\0\n", 12), false, false},
      {"utf16le_to_lf_odd_last_byte", ModeCrLfToLf, true, std::string("\xff\xfe" "\r\0\n\0x", 7),
       std::string("\xff\xfe" "\n\0x", 5), false, false},
      {"forced", ModeCrLfToLf, true, std::string("\0\r\n", 3), std::string("\0\n", 2), false,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::vector<size_t>> cuttings = {{}};
    for (size_t i = 1; i < c.input.size(); ++i) cuttings.push_back({i});
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < c.input.size(); ++i) everyByte.push_back(i);
    cuttings.push_back(everyByte);
    for (const auto& cuts : cuttings) {
      SCOPED_TRACE(::testing::PrintToString(cuts));
      const Filtered run = Filter(c.mode, c.force, kWindow, c.input, cuts);
      EXPECT_EQ(run.out, c.out);
      EXPECT_EQ(run.passed, c.passed);
      EXPECT_EQ(run.lateNul, c.lateNul);
    }
  }
}

// Only what the decision needs is held back: with a known mode and --force
// every piece goes out as it comes; in automatic mode the bytes before the
// first line break do too; and nothing waits past the window.
TEST(StreamFilter, HoldsBackOnlyWhatItMust) {
  EXPECT_EQ(Filter(ModeCrLfToLf, true, 1024, "ab\r\ncd", {3}).pieces,
            (std::vector<size_t>{2, 3}));  // the CR waits for its follower
  EXPECT_EQ(Filter(ModeAutomatic, true, 1024, "abc\nd\r\n", {3, 4}).pieces,
            (std::vector<size_t>{3, 3}));
  // Unforced, the window decides whether the stream is binary first.
  EXPECT_EQ(Filter(ModeCrLfToLf, false, 4, "abcdefgh", {2, 5}).pieces,
            (std::vector<size_t>{5, 3}));
}

TEST(StreamFilter, BinaryVerdictOfAFile) {
  const unsigned char le[] = {0xFF, 0xFE}, be[] = {0xFE, 0xFF}, other[] = {'a', 0};
  EXPECT_FALSE(IsBinaryContent(false, other, 2, 10));
  EXPECT_TRUE(IsBinaryContent(true, other, 2, 10));
  EXPECT_FALSE(IsBinaryContent(true, le, 2, 10));
  EXPECT_FALSE(IsBinaryContent(true, be, 2, 10));
  EXPECT_TRUE(IsBinaryContent(true, le, 2, 11));  // an odd length is no UTF-16
  EXPECT_TRUE(IsBinaryContent(true, le, 1, 1));
}

}  // namespace
