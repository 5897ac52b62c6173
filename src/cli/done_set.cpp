#include "done_set.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

#include "convert/convert.h"

namespace {

uint64_t Mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  return x ^ (x >> 33);
}

}  // namespace

bool DoneSet::Holds(const Entry& entry, const FileIdentity& identity) const {
#ifdef _WIN32
  if (entry.high != identity.high) return false;
#endif
  return entry.index == identity.index && volumes_[entry.volume] == identity.volume;
}

size_t DoneSet::SlotOf(const FileIdentity& identity) const {
  uint64_t hash = Mix(identity.index) ^ Mix(identity.volume + 0x9e3779b97f4a7c15ULL);
#ifdef _WIN32
  hash ^= Mix(identity.high + 0x632be59bd9b4e019ULL);
#endif
  return static_cast<size_t>(hash & (slots_.size() - 1));
}

void DoneSet::Grow() {
  std::vector<uint32_t>(slots_.empty() ? 64 : slots_.size() * 2, 0).swap(slots_);
  const size_t mask = slots_.size() - 1;
  for (size_t e = 0; e < entries_.size(); ++e) {
    FileIdentity identity;
    identity.index = entries_[e].index;
    identity.volume = volumes_[entries_[e].volume];
#ifdef _WIN32
    identity.high = entries_[e].high;
#endif
    size_t slot = SlotOf(identity);
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = static_cast<uint32_t>(e + 1);
  }
}

void DoneSet::Add(const FileIdentity& identity, const std::string& name) {
  if (names_.size() + name.size() > std::numeric_limits<uint32_t>::max() ||
      entries_.size() >= std::numeric_limits<uint32_t>::max() / 2)
    throw std::length_error("too many files for one run");
  // At most half the slots taken, so that a search soon meets an empty one.
  if ((entries_.size() + 1) * 2 > slots_.size()) Grow();
  // Files mostly lie on one volume or a few: the last used is tried first.
  size_t volume = volumes_.size();
  if (!volumes_.empty() && volumes_.back() == identity.volume) {
    volume = volumes_.size() - 1;
  } else {
    volume = std::find(volumes_.begin(), volumes_.end(), identity.volume) - volumes_.begin();
    if (volume == volumes_.size()) volumes_.push_back(identity.volume);
  }
  names_ += name;
  Entry entry;
  entry.index = identity.index;
#ifdef _WIN32
  entry.high = identity.high;
#endif
  entry.volume = static_cast<uint32_t>(volume);
  entry.nameEnd = static_cast<uint32_t>(names_.size());
  entries_.push_back(entry);
  const size_t mask = slots_.size() - 1;
  size_t slot = SlotOf(identity);
  while (slots_[slot] != 0) slot = (slot + 1) & mask;
  slots_[slot] = static_cast<uint32_t>(entries_.size());
}

bool DoneSet::Find(const FileIdentity& identity, const std::string& target,
                   std::string* name) const {
  if (slots_.empty()) return false;
  const size_t mask = slots_.size() - 1;
  size_t found = 0;  // the entry plus one
  for (size_t slot = SlotOf(identity); slots_[slot] != 0; slot = (slot + 1) & mask) {
    const size_t e = slots_[slot] - 1;
    if (e + 1 <= found || !Holds(entries_[e], identity)) continue;
    const size_t start = e == 0 ? 0 : entries_[e - 1].nameEnd;
    std::string candidate = names_.substr(start, entries_[e].nameEnd - start);
    if (SameFile(target, ResolvePath(candidate))) {
      found = e + 1;
      *name = std::move(candidate);
    }
  }
  return found != 0;
}
