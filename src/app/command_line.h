// The command line's tokens, split by rules that need no system service: the
// portable core of CLinebreakApp::SplitCommandLine.
#ifndef QUENLAT_APP_COMMAND_LINE_H
#define QUENLAT_APP_COMMAND_LINE_H

#include <functional>
#include <string>
#include <vector>

// Tells whether a byte is the lead byte of a double-byte character.
typedef std::function<bool(unsigned char)> LeadBytePredicate;

// The tokens of pszText (NUL-terminated; NULL counts as empty), in order.
// Tokens are separated by runs of white space (codes 9 to 13 and 32) and end
// at a space, tab, carriage return or line feed outside quotes. A double
// quote starts or ends a quoted run, in which white space does not separate
// (an unclosed one runs to the end of the text); the quotes themselves are
// dropped. Nothing else is special, and no token is empty (a token of nothing
// but quotes is left out). Where isLeadByte (when given) calls
// a byte inside a token a lead byte, it and the byte after it are one
// character, so that second byte is never taken for a separator; a lead byte
// just before the terminating NUL is a character of its own. isLeadByte must
// be false for white space, as it is in every code page.
std::vector<std::string> SplitCommandLineText(const char* pszText,
                                              const LeadBytePredicate& isLeadByte = nullptr);

#endif
