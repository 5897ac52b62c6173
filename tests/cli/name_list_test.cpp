// A list of names read a block at a time: names, CR-LF pairs and (on
// Windows) UTF-16 characters that straddle the blocks come out whole.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "name_list.h"
#include "support.h"

namespace {

// Names of many lengths, so that the blocks' ends fall everywhere in them.
std::vector<std::string> ManyNames() {
  std::vector<std::string> names;
  for (size_t i = 0; i < 20000; ++i) names.push_back("n" + std::string(i % 23, 'x') + std::to_string(i));
  return names;
}

std::vector<std::string> ReadAll(const std::string& path, bool nullSeparated,
                                 std::error_code* error) {
  NameList list;
  std::vector<std::string> names;
  *error = list.Open(path, nullSeparated);
  if (*error) return names;
  for (std::string name; list.Next(&name, error);) names.push_back(name);
  return names;
}

TEST(NameList, NamesAcrossBlocksComeOutWhole) {
  ScratchDir folder;
  const std::vector<std::string> names = ManyNames();
  struct Form {
    const char* end;
    bool nullSeparated;
  } const forms[] = {{"\n", false}, {"\r\n", false}, {"\0", true}};
  for (const Form& form : forms) {
    SCOPED_TRACE(form.nullSeparated ? "NUL" : form.end);
    std::string text;
    for (const std::string& name : names) {
      text += name;
      text.append(form.end, form.nullSeparated ? 1 : std::char_traits<char>::length(form.end));
      if (name.size() % 7 == 0) text.append(form.nullSeparated ? std::string(1, '\0') : "\n");  // empty ones
    }
    text.resize(text.size() - (form.nullSeparated ? 1 : std::char_traits<char>::length(form.end)));
    WriteBytes(folder / "list", text);  // the last name without its end
    std::error_code error = Errno(EIO);
    EXPECT_EQ(ReadAll(folder / "list", form.nullSeparated, &error), names);
    EXPECT_EQ(error, std::error_code());
  }
}

#ifdef _WIN32
TEST(NameList, Utf16CharactersAcrossBlocksComeOutWhole) {
  ScratchDir folder;
  // A character outside the BMP (a surrogate pair) in every name: some pair
  // falls across the blocks' end.
  const std::string smile = "\xF0\x9F\x98\x80";
  std::vector<std::string> names;
  std::string units = "\xFF\xFE";
  for (size_t i = 0; i < 20000; ++i) {
    const std::string ascii = std::to_string(i) + (i % 2 ? "a" : "");
    names.push_back(ascii + smile);
    for (char c : ascii) units += std::string(1, c) + '\0';
    units += std::string("\x3D\xD8\x00\xDE\r\0\n\0", 8);
  }
  WriteBytes(folder / "list", units);
  std::error_code error = Errno(EIO);
  EXPECT_EQ(ReadAll(folder / "list", false, &error), names);
  EXPECT_EQ(error, std::error_code());

  // Half a unit at the end: refused before any name is read.
  WriteBytes(folder / "odd", units + "x");
  NameList odd;
  EXPECT_EQ(odd.Open(folder / "odd", false), Errno(EILSEQ));
}
#endif

}  // namespace
