// The string entries of QUENLAT.EXE's version resource, as the file's
// properties and the About box show them.
#ifndef QUENLAT_TESTS_VERSION_ENTRIES_H
#define QUENLAT_TESTS_VERSION_ENTRIES_H

struct VersionEntry {
  const char* name;
  const char* value;  // NULL: any text that is not empty
};

const VersionEntry kProgramVersionEntries[] = {
    {"ProductName", "Quenlat"},       {"ProductVersion", "1.1"},
    {"FileDescription", "Quenlat"},   {"FileVersion", "1, 0, 0, 1"},
    {"InternalName", "QUENLAT"},      {"OriginalFilename", "QUENLAT.exe"},
    {"LegalCopyright", NULL},         {"CompanyName", NULL},
};

#endif
