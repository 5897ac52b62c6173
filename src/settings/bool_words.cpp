#include "settings/bool_words.h"

#include <cstring>

namespace {

struct BoolWord {
  const char* pszWord;
  int nValue;
};

// Searched from the top; the words are lower case.
const BoolWord kBoolWords[] = {
    {"yes", 1}, {"on", 1}, {"1", 1}, {"no", 0}, {"off", 0}, {"0", 0}, {nullptr, 0},
};

// The switch knows fewer words: "yes" does not turn it on.
const BoolWord kSwitchWords[] = {{"on", 1}, {"1", 1}, {nullptr, 0}};

int Lookup(const BoolWord* pTable, const char* pszText) {
  if (pszText == nullptr) return 0;
  for (const BoolWord* p = pTable; p->pszWord != nullptr; ++p) {
    if (std::strcmp(pszText, p->pszWord) == 0) return p->nValue;
  }
  return 0;
}

}  // namespace

int LookupLowerCaseBoolWord(const char* pszText) { return Lookup(kBoolWords, pszText); }

int LookupLowerCaseSwitchWord(const char* pszText) { return Lookup(kSwitchWords, pszText); }
