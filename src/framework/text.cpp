#include "framework/text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

CString& CString::operator=(const char* psz) {
  m_str.assign(psz ? psz : "");
  return *this;
}

CString& CString::operator+=(const char* psz) {
  if (psz) m_str.append(psz);
  return *this;
}

CString& CString::operator+=(const CString& str) {
  m_str.append(str.m_str);
  return *this;
}

CString& CString::operator+=(char ch) {
  m_str.push_back(ch);
  return *this;
}

CString CString::Left(int nCount) const {
  if (nCount < 0) nCount = 0;
  return CString(m_str.substr(0, static_cast<size_t>(nCount)).c_str());
}

CString CString::Mid(int nFirst) const { return Mid(nFirst, GetLength()); }

CString CString::Mid(int nFirst, int nCount) const {
  if (nFirst < 0) nFirst = 0;
  if (nCount < 0 || nFirst >= GetLength()) return CString();
  CString result;
  result.m_str = m_str.substr(static_cast<size_t>(nFirst), static_cast<size_t>(nCount));
  return result;
}

CString CString::Right(int nCount) const {
  if (nCount <= 0) return CString();
  if (nCount >= GetLength()) return *this;
  return Mid(GetLength() - nCount);
}

void CString::TrimLeft() {
  size_t i = 0;
  while (i < m_str.size() && (m_str[i] == ' ' || (m_str[i] >= 9 && m_str[i] <= 13))) ++i;
  m_str.erase(0, i);
}

char* CString::GetBuffer(int nMinLength) {
  if (nMinLength > GetLength()) m_str.resize(static_cast<size_t>(nMinLength));
  return &m_str[0];  // the terminating zero follows the last character
}

void CString::ReleaseBuffer(int nNewLength) {
  if (nNewLength < 0) nNewLength = static_cast<int>(std::strlen(m_str.c_str()));
  if (static_cast<size_t>(nNewLength) < m_str.size()) m_str.resize(static_cast<size_t>(nNewLength));
}

CString operator+(const CString& a, const CString& b) {
  CString result(a);
  result += b;
  return result;
}

CString operator+(const CString& a, const char* b) {
  CString result(a);
  result += b;
  return result;
}

CString operator+(const char* a, const CString& b) {
  CString result(a);
  result += b;
  return result;
}

CString& operator<<(CString& str, const char* psz) {
  str += psz;
  return str;
}

CString& operator<<(CString& str, unsigned long n) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%lu", n);
  str += buffer;
  return str;
}

CString& operator<<(CString& str, unsigned int n) { return str << static_cast<unsigned long>(n); }

CString& operator<<(CString& str, int n) {
  return str << static_cast<unsigned long>(static_cast<uint32_t>(n));
}

int FormatString(CString& str, const char* pszFormat, ...) {
  char buffer[512];
  va_list args;
  va_start(args, pszFormat);
  int n = std::vsnprintf(buffer, sizeof buffer, pszFormat, args);
  va_end(args);
  if (n < 0) {
    buffer[0] = '\0';
    n = 0;
  } else if (n >= static_cast<int>(sizeof buffer)) {
    n = static_cast<int>(sizeof buffer) - 1;
  }
  str = buffer;
  return n;
}

struct CStringList::Node {
  Node* pNext;
  CString data;
};

CStringList::~CStringList() { RemoveAll(); }

POSITION CStringList::AddTail(const char* psz) {
  Node* node = new Node{nullptr, CString(psz)};
  if (m_pTail) {
    m_pTail->pNext = node;
  } else {
    m_pHead = node;
  }
  m_pTail = node;
  ++m_nCount;
  return reinterpret_cast<POSITION>(node);
}

void CStringList::RemoveAll() {
  Node* node = m_pHead;
  while (node) {
    Node* next = node->pNext;
    delete node;
    node = next;
  }
  m_pHead = m_pTail = nullptr;
  m_nCount = 0;
}

POSITION CStringList::GetHeadPosition() const { return reinterpret_cast<POSITION>(m_pHead); }

CString& CStringList::GetNext(POSITION& pos) {
  Node* node = reinterpret_cast<Node*>(pos);
  pos = reinterpret_cast<POSITION>(node->pNext);
  return node->data;
}

const CString& CStringList::GetNext(POSITION& pos) const {
  const Node* node = reinterpret_cast<const Node*>(pos);
  pos = reinterpret_cast<POSITION>(node->pNext);
  return node->data;
}

CString& CStringList::GetAt(POSITION pos) { return reinterpret_cast<Node*>(pos)->data; }

const CString& CStringList::GetAt(POSITION pos) const {
  return reinterpret_cast<const Node*>(pos)->data;
}

const CString& CStringList::GetHead() const { return m_pHead->data; }

const CString& CStringList::GetTail() const { return m_pTail->data; }
