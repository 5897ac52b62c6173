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
    std::string token;
    bool quoted = false;
    while (*p != '\0' && (quoted || !IsDelimiter(*p))) {
      if (*p == '"') {
        // The shell quotes a path that holds a blank; a Windows name never
        // holds a quote, so the quote is never part of the name.
        quoted = !quoted;
        ++p;
      } else if (isLeadByte && isLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
        token.append(p, 2);
        p += 2;
      } else {
        token += *p++;
      }
    }
    // Nothing but quotes names no file.
    if (!token.empty()) tokens.push_back(token);
    while (IsWhiteSpace(*p)) ++p;
  }
  return tokens;
}
