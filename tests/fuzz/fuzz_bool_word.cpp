// The boolean and switch word lookups against their word lists written out:
// the whole text, exactly as given, must be one of the words.
//
// Input: the text up to its first NUL.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "settings/bool_words.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* begin = reinterpret_cast<const char*>(data);
  const std::string text(begin, strnlen(begin, size));
  // Exactly the text and its NUL, so a read past the NUL is caught.
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');

  int expected = 0;
  if (text == "yes" || text == "on" || text == "1") expected = 1;
  FUZZ_CHECK(LookupLowerCaseBoolWord(buffer.data()) == expected);
  FUZZ_CHECK(LookupLowerCaseSwitchWord(buffer.data()) == (text == "on" || text == "1"));
  return 0;
}
