// quenlat_hold_file SHARING PATH: holds an existing file open, as another
// program would, for tests that need a file busy in a process other than
// their own. SHARING is "read" (others may only read the file) or
// "read-write" (others may read and write it, but not delete or rename over
// it). Prints "held" on standard output once the file is open, or "failed N"
// with the system's error number, then keeps the file open until standard
// input delivers a byte or ends (the test is done, or has gone).
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD share = 0;
  if (argc == 3 && std::strcmp(argv[1], "read") == 0) {
    share = FILE_SHARE_READ;
  } else if (argc == 3 && std::strcmp(argv[1], "read-write") == 0) {
    share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  } else {
    const char usage[] = "usage: quenlat_hold_file read|read-write PATH\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), usage, sizeof usage - 1, &written, nullptr);
    return 2;
  }

  // Read access only: a read-only file can be held too.
  HANDLE file = CreateFileA(argv[2], GENERIC_READ, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  char line[32];
  if (file == INVALID_HANDLE_VALUE) {
    std::snprintf(line, sizeof line, "failed %lu\n", static_cast<unsigned long>(GetLastError()));
  } else {
    std::snprintf(line, sizeof line, "held\n");
  }
  DWORD written = 0;
  WriteFile(out, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;

  char c;
  DWORD got = 0;
  ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, nullptr);
  CloseHandle(file);
  return 0;
}
