// The command-line splitter against what its tokens must be: non-empty, with
// no separator outside quotes or a double-byte character, and, with the
// quotes put back and the runs of white space between them, the whole text
// again in order.
//
// Input: one control byte choosing the lead bytes (0: no predicate, 1: a
// single-byte code page, 2: code page 932's lead bytes), then the text up to
// its first NUL.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz_check.h"

namespace {

bool IsWhiteSpace(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }

bool IsSeparator(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool NoLeadBytes(unsigned char) { return false; }

bool ShiftJisLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Skips what lies between two tokens: white space, and runs of quotes that
// hold nothing (an even run before a separator or the end, any run at the end).
size_t SkipGap(const std::string& text, size_t at) {
  for (;;) {
    while (at < text.size() && IsWhiteSpace(text[at])) ++at;
    size_t quotes = 0;
    while (at + quotes < text.size() && text[at + quotes] == '"') ++quotes;
    const size_t after = at + quotes;
    if (quotes == 0 || !(after == text.size() || (quotes % 2 == 0 && IsSeparator(text[after])))) {
      return at;
    }
    at = after;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  bool (*isLeadByte)(unsigned char) = NoLeadBytes;
  LeadBytePredicate predicate = NoLeadBytes;
  switch (data[0] % 3) {
    case 0: predicate = nullptr; break;
    case 1: break;
    case 2: isLeadByte = ShiftJisLeadByte; predicate = ShiftJisLeadByte; break;
  }
  const char* begin = reinterpret_cast<const char*>(data) + 1;
  const std::string text(begin, strnlen(begin, size - 1));
  // Exactly the text and its NUL, so a read past the NUL is caught.
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');

  const std::vector<std::string> tokens = SplitCommandLineText(buffer.data(), predicate);

  size_t at = SkipGap(text, 0);
  for (const std::string& token : tokens) {
    FUZZ_CHECK(!token.empty());
    // Character by character through the text: a quote toggles the quoted
    // run and is not in the token, a separator only inside quotes, and no
    // character cut in two.
    bool quoted = false;
    size_t i = 0;
    while (i < token.size()) {
      FUZZ_CHECK(at < text.size());
      const unsigned char c = static_cast<unsigned char>(text[at]);
      if (c == '"') {
        quoted = !quoted;
        ++at;
      } else if (isLeadByte(c) && at + 1 < text.size()) {
        FUZZ_CHECK(text.compare(at, 2, token, i, 2) == 0);
        at += 2;
        i += 2;
      } else {
        FUZZ_CHECK(token[i] == text[at]);
        FUZZ_CHECK(quoted || !IsSeparator(c));
        ++at;
        ++i;
      }
    }
    FUZZ_CHECK(i == token.size());
    while (at < text.size() && text[at] == '"') {
      quoted = !quoted;
      ++at;
    }
    // The token runs up to a separator outside quotes, or the end.
    FUZZ_CHECK(at == text.size() || (!quoted && IsSeparator(text[at])));
    at = SkipGap(text, at);
  }
  FUZZ_CHECK(at == text.size());

  if (text.empty()) FUZZ_CHECK(SplitCommandLineText(nullptr, predicate).empty());
  return 0;
}
