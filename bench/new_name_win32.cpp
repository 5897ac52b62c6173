// bench-new-name [COUNT]: what it costs to make a new, empty file in the
// current folder, two ways, COUNT times each (default 200), each file deleted
// again at once:
//   GetTempFileNameA(".", "tmp", 0): a short name, tmpXXXX.tmp, which is how
//                                    quenlat-cli must make its temporary file
//   CreateFileA(NAME.new, CREATE_NEW): a long name, as bench-replace-each's
//                                    plain baseline makes its new file
// Prints the milliseconds per file of each, in that order. Under Wine both scan the whole
// folder for a name that differs only in case; this shows what that costs.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

double Seconds() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 200;
  if (count <= 0) {
    std::fputs("usage: bench-new-name [COUNT]\n", stderr);
    return 2;
  }
  char name[MAX_PATH + 1];
  double start = Seconds();
  for (int i = 0; i < count; ++i) {
    if (!GetTempFileNameA(".", "tmp", 0, name)) return 1;
    DeleteFileA(name);
  }
  const double temp = Seconds() - start;
  start = Seconds();
  for (int i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "new-name-%d.txt.new", i);
    HANDLE h = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(h);
    DeleteFileA(name);
  }
  const double plain = Seconds() - start;
  std::printf("%.2f %.2f\n", temp / count * 1e3, plain / count * 1e3);
  return 0;
}
