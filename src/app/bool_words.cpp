#include "app/bool_words.h"

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

}  // namespace

int LookupLowerCaseBoolWord(const char* pszText) {
  if (pszText == nullptr) return 0;
  for (const BoolWord* p = kBoolWords; p->pszWord != nullptr; ++p) {
    if (std::strcmp(pszText, p->pszWord) == 0) return p->nValue;
  }
  return 0;
}
