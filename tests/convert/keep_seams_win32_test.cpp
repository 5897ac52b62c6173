// What a converted file keeps on Windows where Wine cannot show it: named
// streams, extended attributes, encryption, compression, privileges and the
// mandatory label; and a sparse file refused. This program is linked so that the engine's calls of the
// system come here first (--wrap of the import pointers; what the engine
// looks up with GetProcAddress is handed out from here), and the system is
// made to report what Wine has not. The lookup also hides Wine, so that the
// engine takes its Windows path throughout. Each open by name is recorded:
// nothing the conversion made is opened by name again.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "file.h"
#include "support.h"

namespace {

// One CreateFileW call.
struct Open {
  std::wstring name;
  DWORD share;
  DWORD disposition;
  DWORD flags;
  bool security;         // a descriptor was given
  bool owner;            // it names an owner
  bool group;            // it names a group
  bool daclProtected;    // its DACL takes nothing from the folder
};
std::vector<Open> g_opens;
// While set, the next creation of a temporary file fails once with it.
DWORD g_failTempCreation = 0;

// What the system is made to report.
std::vector<std::wstring> g_streams;  // FindFirstStreamW's answers; none: the real one
DWORD g_streamListError = 0;          // FindFirstStreamW fails with it
DWORD g_sourceAttributes = 0;         // added to the file's attribute flags
DWORD g_tempAttributes = 0;           // added to the temporary file's
std::vector<char> g_eaList;           // the file's extended attributes
LONG g_setEaStatus = 0;               // what NtSetEaFile answers
std::vector<char> g_eaWritten;        // what NtSetEaFile was given for a temporary file
bool g_labelReported = false;         // the file's descriptor shows a mandatory label
BOOL g_compressionResult = TRUE;      // what FSCTL_SET_COMPRESSION answers
std::vector<int> g_compressionFormats;
std::vector<std::wstring> g_privileges;  // enabled, by name
std::vector<SECURITY_INFORMATION> g_securitySet;

std::wstring LastPart(const std::wstring& name) {
  const size_t slash = name.find_last_of(L"\\/");
  return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

bool IsTempName(const std::wstring& name) { return LastPart(name).compare(0, 3, L"tmp") == 0; }

// The Unix-side test of a wide name: the program's form of a name.
std::string Narrow(const std::wstring& name) {
  std::string out;
  for (wchar_t c : name) out += static_cast<char>(c);
  return out.compare(0, 4, "\\\\?\\") == 0 ? out.substr(4) : out;
}

void ResetSeams() {
  g_opens.clear();
  g_failTempCreation = 0;
  g_streams.clear();
  g_streamListError = 0;
  g_sourceAttributes = g_tempAttributes = 0;
  g_eaList.clear();
  g_setEaStatus = 0;
  g_eaWritten.clear();
  g_labelReported = false;
  g_compressionResult = TRUE;
  g_compressionFormats.clear();
  g_securitySet.clear();
}

typedef LONG(WINAPI* InformationCall)(HANDLE, void*, void*, ULONG, int);
InformationCall g_realQueryInformation = nullptr;

// The name of the file open as h, as the system keeps it.
std::wstring NameOfHandle(HANDLE h) {
  std::vector<char> buffer(4096);
  ULONG_PTR io[2];
  if (!g_realQueryInformation || g_realQueryInformation(h, io, buffer.data(),
                                                        static_cast<ULONG>(buffer.size()),
                                                        9 /* FileNameInformation */) != 0)
    return std::wstring();
  ULONG length;
  memcpy(&length, buffer.data(), sizeof length);
  return std::wstring(reinterpret_cast<wchar_t*>(buffer.data() + 4), length / sizeof(wchar_t));
}

}  // namespace

#define QUENLAT_WRAP(NAME, RET, PARAMS, FN)                                               \
  extern "C" RET(WINAPI* const g_real##NAME) PARAMS __asm__(QUENLAT_REAL_##NAME);         \
  extern "C" RET(WINAPI* const g_wrapped##NAME) PARAMS __asm__(QUENLAT_WRAPPED_##NAME); \
  RET(WINAPI* const g_wrapped##NAME) PARAMS = FN;

extern "C" HANDLE WINAPI RecordedCreate(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                        HANDLE);
QUENLAT_WRAP(CreateFileW, HANDLE,
             (LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE), RecordedCreate)

extern "C" HANDLE WINAPI RecordedCreate(LPCWSTR name, DWORD access, DWORD share,
                                        LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                        DWORD flags, HANDLE model) {
  Open open = {name, share, disposition, flags, security != nullptr, false, false, false};
  if (security && security->lpSecurityDescriptor) {
    PSECURITY_DESCRIPTOR sd = security->lpSecurityDescriptor;
    PSID sid = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    PACL acl = nullptr;
    open.owner = GetSecurityDescriptorOwner(sd, &sid, &defaulted) && sid;
    open.group = GetSecurityDescriptorGroup(sd, &sid, &defaulted) && sid;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    open.daclProtected = GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted) && present &&
                         GetSecurityDescriptorControl(sd, &control, &revision) &&
                         (control & SE_DACL_PROTECTED);
  }
  g_opens.push_back(open);
  if (g_failTempCreation && disposition == CREATE_NEW && IsTempName(name) &&
      std::wstring(name).find(L':', 6) == std::wstring::npos) {
    SetLastError(g_failTempCreation);
    g_failTempCreation = 0;
    return INVALID_HANDLE_VALUE;
  }
  return g_realCreateFileW(name, access, share, security, disposition, flags, model);
}

namespace {

// FindFirstStreamW and FindNextStreamW: the streams of g_streams, through a
// search of the system's own (which FindClose ends).
struct StreamData {
  LARGE_INTEGER size;
  WCHAR name[MAX_PATH + 36];
};
size_t g_nextStream = 0;

bool NextStream(void* data) {
  if (g_nextStream >= g_streams.size()) {
    SetLastError(ERROR_HANDLE_EOF);
    return false;
  }
  StreamData* found = static_cast<StreamData*>(data);
  found->size.QuadPart = 0;
  wcscpy(found->name, g_streams[g_nextStream++].c_str());
  return true;
}

typedef HANDLE(WINAPI* FindFirstStreamCall)(LPCWSTR, int, void*, DWORD);
typedef BOOL(WINAPI* FindNextStreamCall)(HANDLE, void*);
FindFirstStreamCall g_realFindFirstStream = nullptr;
FindNextStreamCall g_realFindNextStream = nullptr;

extern "C" HANDLE WINAPI ReportedFindFirstStream(LPCWSTR name, int level, void* data, DWORD flags) {
  if (g_streamListError) {
    SetLastError(g_streamListError);
    return INVALID_HANDLE_VALUE;
  }
  if (g_streams.empty()) return g_realFindFirstStream(name, level, data, flags);
  WIN32_FIND_DATAW any;
  HANDLE search = FindFirstFileW(L"C:\\*", &any);
  g_nextStream = 0;
  if (search != INVALID_HANDLE_VALUE && !NextStream(data)) {
    FindClose(search);
    return INVALID_HANDLE_VALUE;
  }
  return search;
}

extern "C" BOOL WINAPI ReportedFindNextStream(HANDLE search, void* data) {
  if (g_streams.empty()) return g_realFindNextStream(search, data);
  return NextStream(data);
}

// NtQueryInformationFile: the attribute flags of g_sourceAttributes and
// g_tempAttributes added to what the system says.
extern "C" LONG WINAPI ReportedQueryInformation(HANDLE h, void* io, void* out, ULONG size,
                                                int what) {
  LONG status = g_realQueryInformation(h, io, out, size, what);
  if (status == 0 && what == 4 /* FileBasicInformation */ && size >= 36 &&
      (g_sourceAttributes || g_tempAttributes)) {
    ULONG attributes;
    memcpy(&attributes, static_cast<char*>(out) + 32, sizeof attributes);
    attributes |= IsTempName(NameOfHandle(h)) ? g_tempAttributes : g_sourceAttributes;
    memcpy(static_cast<char*>(out) + 32, &attributes, sizeof attributes);
  }
  return status;
}

extern "C" LONG WINAPI ReportedQueryEa(HANDLE h, void* io, void* out, ULONG size, BOOLEAN,
                                       void*, ULONG, ULONG*, BOOLEAN) {
  if (g_eaList.empty() || IsTempName(NameOfHandle(h))) return static_cast<LONG>(0xC0000052);
  if (size < g_eaList.size()) return static_cast<LONG>(0x80000005);
  memcpy(out, g_eaList.data(), g_eaList.size());
  static_cast<ULONG_PTR*>(io)[1] = g_eaList.size();
  return 0;
}

extern "C" LONG WINAPI ReportedSetEa(HANDLE h, void*, void* list, ULONG size) {
  if (IsTempName(NameOfHandle(h)))
    g_eaWritten.assign(static_cast<char*>(list), static_cast<char*>(list) + size);
  return g_setEaStatus;
}

}  // namespace

extern "C" FARPROC WINAPI ReportedLookup(HMODULE module, LPCSTR name);
QUENLAT_WRAP(GetProcAddress, FARPROC, (HMODULE, LPCSTR), ReportedLookup)

extern "C" FARPROC WINAPI ReportedLookup(HMODULE module, LPCSTR name) {
  FARPROC real = g_realGetProcAddress(module, name);
  // A name below 0x10000 is an ordinal.
  if (reinterpret_cast<uintptr_t>(name) <= 0xFFFF) return real;
  const std::string wanted = name;
  if (wanted == "wine_get_version") return nullptr;
  const auto instead = [real](void* fake, void* realSlot) {
    if (!real) return static_cast<FARPROC>(nullptr);
    memcpy(realSlot, &real, sizeof real);
    return reinterpret_cast<FARPROC>(fake);
  };
  if (wanted == "FindFirstStreamW")
    return instead(reinterpret_cast<void*>(ReportedFindFirstStream), &g_realFindFirstStream);
  if (wanted == "FindNextStreamW")
    return instead(reinterpret_cast<void*>(ReportedFindNextStream), &g_realFindNextStream);
  if (wanted == "NtQueryInformationFile")
    return instead(reinterpret_cast<void*>(ReportedQueryInformation), &g_realQueryInformation);
  if (wanted == "NtQueryEaFile")
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(ReportedQueryEa));
  if (wanted == "NtSetEaFile") return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(ReportedSetEa));
  return real;
}

extern "C" BOOL WINAPI RecordedIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                                         LPOVERLAPPED);
QUENLAT_WRAP(DeviceIoControl, BOOL,
             (HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED),
             RecordedIoControl)

extern "C" BOOL WINAPI RecordedIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                         DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
  if (code != 0x9C040 /* FSCTL_SET_COMPRESSION */)
    return g_realDeviceIoControl(h, code, in, inSize, out, outSize, returned, overlapped);
  USHORT format = 0;
  memcpy(&format, in, sizeof format);
  g_compressionFormats.push_back(format);
  if (!g_compressionResult) SetLastError(ERROR_INVALID_FUNCTION);
  return g_compressionResult;
}

extern "C" BOOL WINAPI RecordedAdjust(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES,
                                      PDWORD);
QUENLAT_WRAP(AdjustTokenPrivileges, BOOL,
             (HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD), RecordedAdjust)

extern "C" BOOL WINAPI RecordedAdjust(HANDLE token, BOOL none, PTOKEN_PRIVILEGES wanted, DWORD size,
                                      PTOKEN_PRIVILEGES before, PDWORD need) {
  for (DWORD i = 0; i < wanted->PrivilegeCount; ++i) {
    wchar_t name[64];
    DWORD length = 64;
    if (LookupPrivilegeNameW(nullptr, &wanted->Privileges[i].Luid, name, &length))
      g_privileges.push_back(name);
  }
  // As a token that holds them: enabled.
  g_realAdjustTokenPrivileges(token, none, wanted, size, before, need);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

extern "C" BOOL WINAPI RecordedSetSecurity(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
QUENLAT_WRAP(SetKernelObjectSecurity, BOOL, (HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR),
             RecordedSetSecurity)

extern "C" BOOL WINAPI RecordedSetSecurity(HANDLE h, SECURITY_INFORMATION info,
                                           PSECURITY_DESCRIPTOR sd) {
  g_securitySet.push_back(info);
  // Wine keeps neither a label nor an audit list.
  if (info & (0x10 | SACL_SECURITY_INFORMATION)) return TRUE;
  return g_realSetKernelObjectSecurity(h, info, sd);
}

extern "C" BOOL WINAPI ReportedFileSecurity(LPCWSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR,
                                            DWORD, LPDWORD);
QUENLAT_WRAP(GetFileSecurityW, BOOL,
             (LPCWSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD),
             ReportedFileSecurity)

// The file's descriptor, with a mandatory label (low, no write up) in its
// SACL while g_labelReported is set; without an audit list, which Wine does
// not keep.
extern "C" BOOL WINAPI ReportedFileSecurity(LPCWSTR name, SECURITY_INFORMATION info,
                                            PSECURITY_DESCRIPTOR out, DWORD size, LPDWORD need) {
  info &= ~static_cast<SECURITY_INFORMATION>(SACL_SECURITY_INFORMATION | 0x10);
  if (!g_labelReported) return g_realGetFileSecurityW(name, info, out, size, need);
  std::vector<char> real(4096);
  DWORD got = 0;
  if (!g_realGetFileSecurityW(name, info, real.data(), static_cast<DWORD>(real.size()), &got))
    return FALSE;
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(real.data(), &present, &dacl, &defaulted);
  SetSecurityDescriptorDacl(&sd, present, dacl, FALSE);
  // A SACL holding one label: S-1-16-4096 (low), no write up.
  char aclBuffer[64];
  PACL sacl = reinterpret_cast<PACL>(aclBuffer);
  InitializeAcl(sacl, sizeof aclBuffer, ACL_REVISION);
  struct {
    ACE_HEADER header;
    DWORD mask;
    SID sid;
  } label = {{0x11, 0, sizeof label}, 1, {SID_REVISION, 1, {{0, 0, 0, 0, 0, 16}}, {0x1000}}};
  AddAce(sacl, ACL_REVISION, MAXDWORD, &label, sizeof label);
  SetSecurityDescriptorSacl(&sd, TRUE, sacl, FALSE);
  DWORD length = size;
  if (!MakeSelfRelativeSD(&sd, out, &length)) {
    *need = length;
    return FALSE;
  }
  return TRUE;
}

namespace {

class KeepSeams : public ::testing::Test {
 protected:
  void SetUp() override { ResetSeams(); }
  void TearDown() override { ResetSeams(); }

  // A case of its own: the seams reset, no report, and the file f.txt in
  // scratch holding "a\n"; its path.
  std::string FreshCase(const ScratchDir& scratch) {
    ResetSeams();
    reporter_.reports.clear();
    const std::string path = scratch / "f.txt";
    WriteBytes(path, "a\n");
    return path;
  }

  // The CreateFileW calls that created a temporary file's content.
  std::vector<Open> TempCreations() const {
    std::vector<Open> found;
    for (const Open& open : g_opens) {
      if (open.disposition == CREATE_NEW && IsTempName(open.name) &&
          LastPart(open.name).find(L':') == std::wstring::npos)
        found.push_back(open);
    }
    return found;
  }

  ScratchDir scratch_;
  CollectingReporter reporter_;
};

// A file converted alone, a batch and a file large enough to be flushed while
// it is written: each temporary file is created with the file's security
// (its DACL kept from the folder's), shared with readers only, and never
// opened by its name again, not for the flush, the flags, the rename or the
// delete.
TEST_F(KeepSeams, NothingTheProgramMadeIsOpenedByName) {
  std::string big;
  while (big.size() < kBackgroundFlushBytes + (1 << 20)) big += "line\n";
  WriteBytes(scratch_ / "big.txt", big);
  WriteBytes(scratch_ / "one.txt", "a\n");
  ASSERT_TRUE(ConvertWithMode(scratch_ / "big.txt", ModeLfToCrLf, reporter_));
  ASSERT_TRUE(ConvertWithMode(scratch_ / "one.txt", ModeLfToCrLf, reporter_));
  ConversionBatch batch;
  ConvertOptions options;
  options.reporter = &reporter_;
  options.mode = ModeLfToCrLf;
  for (const char* name : {"b1.txt", "b2.txt", "b3.txt"}) {
    WriteBytes(scratch_ / name, "b\n");
    ASSERT_TRUE(batch.Add(scratch_ / name, options));
  }
  batch.Commit([](bool converted) { EXPECT_TRUE(converted); });
  EXPECT_TRUE(reporter_.reports.empty());
  EXPECT_EQ(ReadBytes(scratch_ / "b3.txt"), "b\r\n");

  const std::vector<Open> made = TempCreations();
  ASSERT_EQ(made.size(), 5u);
  for (const Open& temp : made) {
    SCOPED_TRACE(Narrow(temp.name));
    EXPECT_EQ(temp.share, static_cast<DWORD>(FILE_SHARE_READ));
    EXPECT_TRUE(temp.security && temp.owner && temp.group && temp.daclProtected);
    size_t opens = 0;
    for (const Open& open : g_opens) opens += open.name == temp.name;
    EXPECT_EQ(opens, 1u) << "opened by name again";
  }
  EXPECT_EQ(ListFolder(scratch_.path()),
            (std::vector<std::string>{"b1.txt", "b2.txt", "b3.txt", "big.txt", "one.txt"}));
}

// Named streams, the mark of the web first, are written to the temporary
// file's ":name" before the replace. One that cannot be read, or a list the
// system cannot give, refuses the file, which keeps its content.
TEST_F(KeepSeams, NamedStreams) {
  const struct {
    const char* name;
    std::vector<std::wstring> streams;
    DWORD listError;
    bool converted;
  } kCases[] = {
      {"two_streams", {L"::$DATA", L":Zone.Identifier:$DATA", L":notes:$DATA"}, 0, true},
      {"stream_that_cannot_be_read", {L"::$DATA", L":gone:$DATA"}, 0, false},
      {"list_refused", {}, ERROR_ACCESS_DENIED, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    const std::string path = FreshCase(scratch);
    // Wine keeps a stream's name as a file of its own.
    WriteBytes(path + ":Zone.Identifier:$DATA", "[ZoneTransfer]\r\nZoneId=3\r\n");
    WriteBytes(path + ":notes:$DATA", "n");
    g_streams = c.streams;
    g_streamListError = c.listError;
    EXPECT_EQ(ConvertWithMode(path, ModeLfToCrLf, reporter_), c.converted);
    EXPECT_EQ(ReadBytes(path), c.converted ? "a\r\n" : "a\n");
    if (!c.converted) {
      ASSERT_EQ(reporter_.reports.size(), 1u);
      EXPECT_EQ(reporter_.reports[0], std::make_pair(path, std::error_code(kErrorAttributesNotKept)));
      EXPECT_EQ(ListFolder(scratch.path()),
                (std::vector<std::string>{"f.txt", "f.txt:Zone.Identifier:$DATA",
                                          "f.txt:notes:$DATA"}));
      continue;
    }
    const std::vector<Open> made = TempCreations();
    ASSERT_EQ(made.size(), 1u);
    for (const std::wstring stream : {L":Zone.Identifier:$DATA", L":notes:$DATA"}) {
      const std::wstring copy = made[0].name + stream;
      bool created = false;
      for (const Open& open : g_opens)
        created = created || (open.name == copy && open.disposition == CREATE_NEW);
      EXPECT_TRUE(created) << Narrow(copy);
      EXPECT_EQ(ReadBytes(Narrow(copy)), ReadBytes(path + Narrow(stream)));
    }
  }
}

// Extended attributes are copied to the temporary file, through its handle;
// a copy the system refuses refuses the file.
TEST_F(KeepSeams, ExtendedAttributes) {
  // One entry: "LXMOD" = 4 bytes.
  const char kEntry[] = {0, 0, 0, 0, 0, 5, 4, 0, 'L', 'X', 'M', 'O', 'D', 0, '\xA4', 1, 0, 0};
  for (LONG status : {0L, static_cast<LONG>(0xC0000022) /* access denied */}) {
    SCOPED_TRACE(status);
    ScratchDir scratch;
    const std::string path = FreshCase(scratch);
    g_eaList.assign(kEntry, kEntry + sizeof kEntry);
    g_setEaStatus = status;
    EXPECT_EQ(ConvertWithMode(path, ModeLfToCrLf, reporter_), status == 0);
    EXPECT_EQ(g_eaWritten, g_eaList);
    EXPECT_EQ(ReadBytes(path), status == 0 ? "a\r\n" : "a\n");
    if (status != 0) {
      ASSERT_EQ(reporter_.reports.size(), 1u);
      EXPECT_EQ(reporter_.reports[0].second, kErrorAttributesNotKept);
    }
    EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
  }
}

// An encrypted file's temporary file is created encrypted, and the file is
// refused when the system made it plain; a compressed file's is compressed
// before it is written, and a plain file's temporary file that took its
// folder's compression is made plain again; refused when the system cannot.
TEST_F(KeepSeams, EncryptionAndCompression) {
  const struct {
    const char* name;
    DWORD source, temp;  // the flags the system reports for each
    BOOL compressionResult;
    bool converted;
    std::vector<int> formats;  // FSCTL_SET_COMPRESSION asked for
  } kCases[] = {
      {"encrypted", FILE_ATTRIBUTE_ENCRYPTED, FILE_ATTRIBUTE_ENCRYPTED, TRUE, true, {}},
      {"encryption_not_made", FILE_ATTRIBUTE_ENCRYPTED, 0, TRUE, false, {}},
      {"compressed", FILE_ATTRIBUTE_COMPRESSED, 0, TRUE, true, {1}},
      {"compression_refused", FILE_ATTRIBUTE_COMPRESSED, 0, FALSE, false, {1}},
      {"plain_in_compressed_folder", 0, FILE_ATTRIBUTE_COMPRESSED, TRUE, true, {0}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    const std::string path = FreshCase(scratch);
    g_sourceAttributes = c.source;
    g_tempAttributes = c.temp;
    g_compressionResult = c.compressionResult;
    EXPECT_EQ(ConvertWithMode(path, ModeLfToCrLf, reporter_), c.converted);
    g_sourceAttributes = g_tempAttributes = 0;
    EXPECT_EQ(ReadBytes(path), c.converted ? "a\r\n" : "a\n");
    EXPECT_EQ(g_compressionFormats, c.formats);
    const std::vector<Open> made = TempCreations();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ((made[0].flags & FILE_ATTRIBUTE_ENCRYPTED) != 0,
              (c.source & FILE_ATTRIBUTE_ENCRYPTED) != 0);
    if (!c.converted) {
      ASSERT_EQ(reporter_.reports.size(), 1u);
      EXPECT_EQ(reporter_.reports[0].second, kErrorAttributesNotKept);
    }
    EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
  }
}

// A sparse file is refused, untouched and with nothing made beside it, unless
// its holes may be filled.
TEST_F(KeepSeams, SparseFile) {
  for (bool fill : {false, true}) {
    SCOPED_TRACE(fill ? "filled" : "refused");
    ScratchDir scratch;
    const std::string path = FreshCase(scratch);
    g_sourceAttributes = FILE_ATTRIBUTE_SPARSE_FILE;
    ConvertOptions options;
    options.reporter = &reporter_;
    options.mode = ModeLfToCrLf;
    options.fillSparse = fill;
    EXPECT_EQ(ConvertFileInPlace(path, options), fill);
    g_sourceAttributes = 0;
    EXPECT_EQ(ReadBytes(path), fill ? "a\r\n" : "a\n");
    EXPECT_EQ(TempCreations().size(), fill ? 1u : 0u);
    if (!fill) {
      ASSERT_EQ(reporter_.reports.size(), 1u);
      EXPECT_EQ(reporter_.reports[0], std::make_pair(path, std::error_code(kErrorSparse)));
    }
    EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
  }
}

// The privileges that keep any owner and the audit list are asked for; the
// file's owner and group are given at the creation, its label before its
// DACL. Where the system refuses the owner, the new file is the caller's and
// the conversion goes on.
TEST_F(KeepSeams, OwnerGroupAndLabelBeforeTheDacl) {
  for (bool ownerRefused : {false, true}) {
    SCOPED_TRACE(ownerRefused ? "owner refused" : "owner kept");
    ScratchDir scratch;
    const std::string path = FreshCase(scratch);
    g_labelReported = true;
    if (ownerRefused) g_failTempCreation = ERROR_INVALID_OWNER;
    EXPECT_TRUE(ConvertWithMode(path, ModeLfToCrLf, reporter_));
    EXPECT_TRUE(reporter_.reports.empty());
    EXPECT_EQ(ReadBytes(path), "a\r\n");
    const std::vector<Open> made = TempCreations();
    ASSERT_EQ(made.size(), ownerRefused ? 2u : 1u);
    EXPECT_TRUE(made[0].owner && made[0].group && made[0].daclProtected);
    if (ownerRefused) {
      EXPECT_TRUE(!made[1].owner && made[1].group && made[1].daclProtected);
    }
    EXPECT_EQ(g_securitySet, (std::vector<SECURITY_INFORMATION>{0x10, DACL_SECURITY_INFORMATION}));
    EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
  }
  // Asked for once, by the first conversion of the process.
  EXPECT_EQ(g_privileges, (std::vector<std::wstring>{L"SeRestorePrivilege",
                                                     L"SeSecurityPrivilege"}));
}

}  // namespace
