// bench-batch-flush WAY [--batch N] [--threads N] FILE...: ways to make the
// rewrite of many small files durable, for choosing how the console tool
// shares the flush cost. Each file is read and written whole to a new file in
// its folder, which is renamed over it once it is on the disk:
//   each      one file after another: write, fsync, rename (bench-replace-each)
//   threads   per batch: write every new file, fsync them from --threads
//             threads at once, then rename each
//   syncfs    per batch: write every new file, one syncfs of their filesystem,
//             then rename each
// Every way ends with one fsync of each folder. A batch holds --batch files
// (256 by default).
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

struct NewFile {
  std::string path, temp;
  int fd = -1;
};

// Writes a copy of path into a new file beside it, left open.
bool WriteCopy(NewFile& f, std::vector<char>& buf) {
  int in = open(f.path.c_str(), O_RDONLY);
  if (in < 0) return false;
  f.temp = FolderOf(f.path) + "tmpXXXXXX";
  f.fd = mkstemp(&f.temp[0]);
  bool ok = f.fd >= 0;
  for (ssize_t got; ok && (got = read(in, buf.data(), buf.size())) > 0;)
    ok = write(f.fd, buf.data(), static_cast<size_t>(got)) == got;
  close(in);
  return ok;
}

bool Flush(std::vector<NewFile>& batch, const std::string& way, unsigned threads) {
  if (way == "syncfs") return batch.empty() || syncfs(batch[0].fd) == 0;
  std::atomic<size_t> next(0);
  std::atomic<bool> ok(true);
  auto work = [&] {
    for (size_t i; (i = next++) < batch.size();)
      if (fsync(batch[i].fd) != 0) ok = false;
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench-batch-flush each|threads|syncfs [--batch N] [--threads N] FILE...\n");
    return 2;
  }
  const std::string way = argv[1];
  size_t batchSize = 256;
  unsigned threads = 8;
  int i = 2;
  for (; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--batch") == 0) {
      batchSize = std::strtoul(argv[i + 1], nullptr, 10);
    } else if (std::strcmp(argv[i], "--threads") == 0) {
      threads = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    } else {
      break;
    }
  }
  if (way == "each") batchSize = 1;
  std::vector<char> buf(1 << 20);
  std::set<std::string> folders;
  int failed = 0;
  while (i < argc) {
    std::vector<NewFile> batch;
    for (; i < argc && batch.size() < batchSize; ++i) {
      batch.emplace_back();
      batch.back().path = argv[i];
      if (!WriteCopy(batch.back(), buf)) ++failed;
    }
    if (!Flush(batch, way, way == "each" ? 1 : threads)) ++failed;
    for (NewFile& f : batch) {
      if (close(f.fd) != 0 || rename(f.temp.c_str(), f.path.c_str()) != 0) ++failed;
      folders.insert(FolderOf(f.path));
    }
  }
  for (const std::string& folder : folders) {
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir < 0 || fsync(dir) != 0) ++failed;
    if (dir >= 0) close(dir);
  }
  if (failed) std::fprintf(stderr, "bench-batch-flush: %d failures\n", failed);
  return failed ? 1 : 0;
}
