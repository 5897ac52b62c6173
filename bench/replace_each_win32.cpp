// bench-replace-each FILE...: the durable per-file baseline on Windows. For
// each file: read it, write its bytes to a new file in the same folder, flush
// that file (FlushFileBuffers), and move it over the original with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool ReplaceOne(const std::string& path, std::vector<char>& buf) {
  HANDLE in = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  std::string data;
  DWORD got = 0;
  while (ReadFile(in, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr) && got > 0)
    data.append(buf.data(), got);
  CloseHandle(in);

  const std::string temp = path + ".new";
  HANDLE out = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
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
  std::vector<char> buf(1 << 20);
  int failed = 0;
  for (int i = 1; i < argc; ++i) {
    if (!ReplaceOne(argv[i], buf)) {
      std::fprintf(stderr, "bench-replace-each: %s failed\n", argv[i]);
      ++failed;
    }
  }
  return failed ? 1 : 0;
}
