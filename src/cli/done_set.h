// The files a run of the console tool has dealt with, by identity, with the
// name each was given: a second name for one of them (another spelling, a
// link) is not converted again, which in automatic mode would turn it back.
#ifndef QUENLAT_CLI_DONE_SET_H
#define QUENLAT_CLI_DONE_SET_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/folder.h"
#include "platform.h"

// Kept compact, for a run may deal with many files: the names in one block
// of characters, the identities in one array (the volume as its place in a
// short table of volumes) with an open-addressed index of 32-bit slots, and
// no allocation for each file: about 16 bytes a file beside its name (24 on
// Windows), and the index's 8 to 16.
class DoneSet {
 public:
  // Notes that the file with identity (quick, as KindOf tells it) was dealt
  // with under name.
  void Add(const FileIdentity& identity, const std::string& name);

  // The name given to the file done last whose quick identity is identity
  // and that is the file at target (SameFile on the names resolved); false
  // when there is none.
  bool Find(const FileIdentity& identity, const std::string& target, std::string* name) const;

 private:
  struct Entry {
    uint64_t index;
#ifdef _WIN32
    uint64_t high;
#endif
    uint32_t volume;   // its place in volumes_
    uint32_t nameEnd;  // where its name ends in names_; it starts where the one before ends
  };

  // Whether the entry holds identity.
  bool Holds(const Entry& entry, const FileIdentity& identity) const;
  size_t SlotOf(const FileIdentity& identity) const;
  void Grow();

  std::vector<uint64_t> volumes_;
  std::vector<Entry> entries_;
  std::string names_;
  std::vector<uint32_t> slots_;  // 0 for none, else an index in entries_ plus one
};

#endif
