// Text: the string class CString, the string helpers every part of the
// program uses (operator<< and FormatString), and CStringList.
//
// Texts are bytes in the system's ANSI code page; nothing here interprets
// characters except where a member says so.
#ifndef QUENLAT_FRAMEWORK_TEXT_H
#define QUENLAT_FRAMEWORK_TEXT_H

#include <string>

#include "framework/object.h"

// A growable, zero-terminated byte string. A null text pointer given to any
// member stands for the empty text.
class CString {
 public:
  CString() {}
  CString(const char* psz) : m_str(psz ? psz : "") {}  // NOLINT: converts like a text
  CString(const char* pch, int nLength) : m_str(pch, nLength > 0 ? nLength : 0) {}
  CString(const CString& other) = default;
  CString& operator=(const CString& other) = default;
  CString& operator=(const char* psz);

  // The text, valid until the string is next changed.
  operator const char*() const { return m_str.c_str(); }
  const char* GetString() const { return m_str.c_str(); }

  int GetLength() const { return static_cast<int>(m_str.size()); }
  bool IsEmpty() const { return m_str.empty(); }
  void Empty() { m_str.clear(); }
  char GetAt(int nIndex) const { return m_str[nIndex]; }
  char operator[](int nIndex) const { return m_str[nIndex]; }

  CString& operator+=(const char* psz);
  CString& operator+=(const CString& str);
  CString& operator+=(char ch);

  // Parts of the string, cut at byte positions (clamped to the string).
  CString Left(int nCount) const;
  CString Mid(int nFirst) const;
  CString Mid(int nFirst, int nCount) const;
  CString Right(int nCount) const;
  // Removes leading white space: the characters 9 to 13 and 32.
  void TrimLeft();

  // A writable buffer of at least nMinLength characters plus the terminating
  // zero, holding the current text. After writing into it, call ReleaseBuffer
  // before any other member: with -1 the length is taken from the first zero,
  // otherwise the string is cut to nNewLength characters.
  char* GetBuffer(int nMinLength);
  void ReleaseBuffer(int nNewLength = -1);

  friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
  friend bool operator==(const CString& a, const char* b) { return a.m_str == (b ? b : ""); }
  friend bool operator==(const char* a, const CString& b) { return b == a; }
  friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
  friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
  friend bool operator!=(const char* a, const CString& b) { return !(b == a); }

 private:
  std::string m_str;
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const char* b);
CString operator+(const char* a, const CString& b);

// Appends the text and returns str, so that appends chain left to right:
//   str << "File " << n << ": " << path;
CString& operator<<(CString& str, const char* psz);
// Appends the number in unsigned decimal ("%lu") and returns str.
CString& operator<<(CString& str, unsigned long n);
// Same as the unsigned long form (so that a UINT is not ambiguous).
CString& operator<<(CString& str, unsigned int n);
// Converts n to an unsigned 32-bit value first, then appends it as the
// unsigned long form does: 0 appends "0", -1 appends "4294967295".
CString& operator<<(CString& str, int n);

// Formats the arguments under the printf-style format into a local buffer of
// 512 characters, assigns the result to str (replacing what it held) and
// returns the number of characters stored. Output longer than 511 characters
// is cut there.
int FormatString(CString& str, const char* pszFormat, ...)
    __attribute__((format(printf, 2, 3)));

// Position of an entry in a CStringList; NULL when past the tail.
typedef struct CStringListPosition_* POSITION;

// An ordered list of strings: add at the tail, count, walk from head to
// tail, remove all.
//   for (POSITION pos = list.GetHeadPosition(); pos != NULL;) {
//     const CString& s = list.GetNext(pos);  // moves pos to the next entry
//   }
class CStringList : public CObject {
 public:
  CStringList() {}
  ~CStringList() override;

  // Appends a copy of the text; returns the new entry's position.
  POSITION AddTail(const char* psz);
  int GetCount() const { return m_nCount; }
  bool IsEmpty() const { return m_nCount == 0; }
  void RemoveAll();

  POSITION GetHeadPosition() const;
  // The entry at pos; pos then names the next entry (NULL after the tail).
  CString& GetNext(POSITION& pos);
  const CString& GetNext(POSITION& pos) const;
  CString& GetAt(POSITION pos);
  const CString& GetAt(POSITION pos) const;
  // The first and last entries; the list must not be empty.
  const CString& GetHead() const;
  const CString& GetTail() const;

 private:
  struct Node;
  Node* m_pHead = nullptr;
  Node* m_pTail = nullptr;
  int m_nCount = 0;
};

#endif
