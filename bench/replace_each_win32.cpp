// bench-replace-each [--temp-name] FILE...: the durable per-file baseline on
// Windows. For each file: read it, write its bytes to a new file in the same
// folder (FILE.new, or with --temp-name one that GetTempFileNameA makes, as
// quenlat-cli must), flush that file (FlushFileBuffers), and move it over the
// original with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

bool ReplaceOne(const std::string& path, bool tempName, std::vector<char>& buf) {
  HANDLE in = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  std::string data;
  DWORD got = 0;
  while (ReadFile(in, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr) && got > 0)
    data.append(buf.data(), got);
  CloseHandle(in);

  std::string temp = path + ".new";
  DWORD creation = CREATE_NEW;
  if (tempName) {
    char name[MAX_PATH + 1];
    if (!GetTempFileNameA(FolderOf(path).c_str(), "tmp", 0, name)) return false;
    temp = name;
    creation = TRUNCATE_EXISTING;
  }
  HANDLE out = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, creation,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = (data.empty() ||
             (WriteFile(out, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) &&
              put == data.size())) &&
            FlushFileBuffers(out);
  ok = CloseHandle(out) && ok;
  return ok && MoveFileExA(temp.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

}  // namespace

int main(int argc, char** argv) {
  bool tempName = argc > 1 && std::strcmp(argv[1], "--temp-name") == 0;
  std::vector<char> buf(1 << 20);
  int failed = 0;
  for (int i = tempName ? 2 : 1; i < argc; ++i) {
    if (!ReplaceOne(argv[i], tempName, buf)) {
      std::fprintf(stderr, "bench-replace-each: %s failed\n", argv[i]);
      ++failed;
    }
  }
  return failed ? 1 : 0;
}
