// bench-durable-copy SOURCE DESTINATION: copies a file in 1 MiB blocks with
// ReadFile and WriteFile and flushes the copy to the disk before it ends; the
// Windows counterpart of `dd bs=1M conv=fsync`.
#include <windows.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: bench-durable-copy SOURCE DESTINATION\n", stderr);
    return 2;
  }
  HANDLE in = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  HANDLE out = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "bench-durable-copy: cannot open (error %lu)\n", GetLastError());
    return 1;
  }
  std::vector<char> block(1 << 20);
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(in, block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) return 1;
    if (got == 0) break;
    if (!WriteFile(out, block.data(), got, &put, nullptr) || put != got) return 1;
  }
  bool ok = FlushFileBuffers(out) != 0;
  CloseHandle(in);
  return CloseHandle(out) && ok ? 0 : 1;
}
