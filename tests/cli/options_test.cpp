// The console tool's command line: short options bundled as getopt reads
// them, and the help printed from the options' table.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "options.h"

namespace {

struct ParseCase {
  std::vector<std::string> args;
  std::string error;  // empty when the arguments are good
  bool recursive;
  bool nullSeparated;
  std::string filesFrom;
  std::vector<std::string> files;
};

TEST(Options, ShortOptionsBundle) {
  const ParseCase cases[] = {
      {{"-r0", "a"}, "", true, true, "", {"a"}},
      {{"-0r", "a"}, "", true, true, "", {"a"}},
      {{"-rr0", "--", "-0r"}, "", true, true, "", {"-0r"}},
      {{"-r", "-", "x"}, "'-' (standard input) cannot be given with other files", true, false, "", {}},
      {{"-rq", "a"}, "unknown option '-q'", true, false, "", {}},
      {{"--files-from=list", "-0"}, "", false, true, "list", {}},
      {{"--files-from", "-r0"}, "", false, false, "-r0", {}},
      {{"--files-from="}, "option '--files-from' needs a file", false, false, "", {}},
      {{"--quiet=yes"}, "unknown option '--quiet=yes'", false, false, "", {}},
      {{"--recursive0"}, "unknown option '--recursive0'", false, false, "", {}},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    CliOptions options;
    std::string error;
    const bool parsed = ParseOptions(c.args, true, &options, &error);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(parsed, c.error.empty());
    if (!parsed) continue;
    EXPECT_EQ(options.recursive, c.recursive);
    EXPECT_EQ(options.nullSeparated, c.nullSeparated);
    EXPECT_EQ(options.filesFrom, c.filesFrom);
    EXPECT_EQ(options.files, c.files);
  }
}

// Every option's entry in the help: its names, then its lines in one column;
// and each name the help shows is one the parser takes.
TEST(Options, HelpListsTheTable) {
  std::istringstream help(HelpText());
  std::vector<std::string> lines;
  for (std::string line; std::getline(help, line);) lines.push_back(line);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0] + "\n", kUsageLine);

  size_t at = 0;  // where the last entry ended
  for (size_t k = 0; k < kOptionCount; ++k) {
    const OptionSpec& option = kOptionTable[k];
    const std::string longName = std::string("--") + option.longName;
    std::string names = option.shortName ? std::string("-") + option.shortName + ", " + longName
                                         : longName;
    if (option.argument) names += std::string(" ") + option.argument;
    SCOPED_TRACE(names);
    size_t line = at;
    while (line < lines.size() && lines[line].compare(0, names.size() + 3, "  " + names + " ") != 0)
      ++line;
    ASSERT_LT(line, lines.size()) << "not in the help, or not in the table's order";
    const size_t first = line;
    std::istringstream text(option.help);
    size_t column = std::string::npos;
    for (std::string helpLine; std::getline(text, helpLine); ++line) {
      ASSERT_LT(line, lines.size());
      const size_t found = lines[line].find(helpLine);
      ASSERT_NE(found, std::string::npos) << lines[line];
      EXPECT_EQ(lines[line].size(), found + helpLine.size()) << lines[line];
      if (column == std::string::npos) column = found;
      EXPECT_EQ(found, column) << lines[line];
      EXPECT_EQ(lines[line].find_first_not_of(' ', 2), line == first ? 2 : column);
      at = line;
    }
    EXPECT_EQ(column, 21u);
    ++at;

    // Spelled as the help shows it, with an argument where it takes one.
    for (const std::string& spelled :
         {longName, option.shortName ? std::string("-") + option.shortName : std::string()}) {
      if (spelled.empty() || spelled == "--") continue;
      std::vector<std::string> args = {spelled};
      if (option.argument) args.push_back("value");
      CliOptions options;
      std::string error;
      EXPECT_TRUE(ParseOptions(args, false, &options, &error)) << spelled << ": " << error;
    }
  }
}

}  // namespace
