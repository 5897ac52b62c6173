#include "app/command_line.h"

namespace {

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsDelimiter(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::vector<std::string> SplitCommandLineText(const char* pszText,
                                              const LeadBytePredicate& isLeadByte) {
  std::vector<std::string> tokens;
  const char* p = pszText != nullptr ? pszText : "";
  // Lead bytes are never white space, so the skips below always stop at the
  // start of a character.
  while (IsWhiteSpace(*p)) ++p;
  while (*p != '\0') {
    const char* token = p;
    while (*p != '\0' && !IsDelimiter(*p)) {
      if (isLeadByte && isLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
        p += 2;
      } else {
        ++p;
      }
    }
    tokens.emplace_back(token, static_cast<size_t>(p - token));
    while (IsWhiteSpace(*p)) ++p;
  }
  return tokens;
}
