// bench-replace-each [--sync-folder] FILE...: the durable per-file baseline.
// For each file: read it, write its bytes to a new file in the same folder,
// fsync that file, rename it over the original; with --sync-folder also fsync
// the folder after the rename, as quenlat-cli does.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool ReplaceOne(const std::string& path, bool syncFolder, std::vector<char>& buf) {
  int in = open(path.c_str(), O_RDONLY);
  if (in < 0) return false;
  std::string data;
  for (ssize_t got; (got = read(in, buf.data(), buf.size())) > 0;) data.append(buf.data(), got);
  close(in);

  std::string temp = FolderOf(path) + "tmpXXXXXX";
  int out = mkstemp(&temp[0]);
  if (out < 0) return false;
  bool ok = write(out, data.data(), data.size()) == static_cast<ssize_t>(data.size()) &&
            fsync(out) == 0;
  ok = close(out) == 0 && ok;
  ok = ok && rename(temp.c_str(), path.c_str()) == 0;
  if (ok && syncFolder) {
    std::string folder = FolderOf(path);
    int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    ok = dir >= 0 && fsync(dir) == 0;
    if (dir >= 0) close(dir);
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  bool syncFolder = argc > 1 && std::strcmp(argv[1], "--sync-folder") == 0;
  std::vector<char> buf(1 << 20);
  int failed = 0;
  for (int i = syncFolder ? 2 : 1; i < argc; ++i) {
    if (!ReplaceOne(argv[i], syncFolder, buf)) {
      std::fprintf(stderr, "bench-replace-each: %s failed\n", argv[i]);
      ++failed;
    }
  }
  return failed ? 1 : 0;
}
