// Reads a whole device (or image) through the read-ahead engine, as the scan
// would, without looking at the data, and prints how fast that went.
//
//   morvek-readahead-bench [--depth N] [--merge KIB] [--pread] [--copy] DEVICE
//
// Prints one line of key=value pairs: bytes, seconds, GiB/s, failed blocks,
// the depth and merge size the engine really used, its backend and the
// process's peak resident memory. Opens the device read-only.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "disk/linux/SequentialReadAhead.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: morvek-readahead-bench [--depth N] [--merge KIB] [--pread] [--copy] DEVICE\n");
  return 2;
}

bool ParseU32(const char* text, uint32_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v == 0 || v > 0xffffffffUL) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr uint32_t kBlock = 65536;
  SequentialReadAhead::Options options;
  bool copy = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    uint32_t kib = 0;
    if (arg == "--depth" && i + 1 < argc) {
      if (!ParseU32(argv[++i], options.depth)) return Usage();
    } else if (arg == "--merge" && i + 1 < argc) {
      if (!ParseU32(argv[++i], kib) || kib > (1u << 22)) return Usage();
      options.mergeBytes = kib * 1024;
    } else if (arg == "--pread") {
      options.usePread = true;
    } else if (arg == "--copy") {
      copy = true;
    } else if (path == nullptr && arg[0] != '-') {
      path = argv[i];
    } else {
      return Usage();
    }
  }
  if (path == nullptr) return Usage();

  int fd = ::open(path, O_RDONLY | O_DIRECT | O_CLOEXEC);
  if (fd < 0 && errno == EINVAL) fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "%s: %s\n", path, std::strerror(errno));
    return 1;
  }
  const off_t size = ::lseek(fd, 0, SEEK_END);  // block devices and files alike
  if (size < 0) {
    std::fprintf(stderr, "%s: cannot tell its size: %s\n", path, std::strerror(errno));
    return 1;
  }
  std::string why;
  auto engine = SequentialReadAhead::Create(fd, 0, static_cast<uint64_t>(size), kBlock, options, &why);
  if (!engine) {
    std::fprintf(stderr, "%s: %s\n", path, why.c_str());
    return 1;
  }
  if (!engine->FallbackReason().empty())
    std::fprintf(stderr, "reading with pread: %s\n", engine->FallbackReason().c_str());

  std::unique_ptr<unsigned char[]> dst(copy ? new unsigned char[kBlock] : nullptr);
  uint64_t bytes = 0;
  uint64_t bad = 0;
  const uint64_t start = SequentialReadAhead::NowNs();
  for (uint64_t offset = 0; offset < static_cast<uint64_t>(size); offset += kBlock) {
    const BlockRead r = engine->Take(offset, dst.get());
    if (r.ok) {
      bytes += r.bytes;
    } else {
      ++bad;
    }
  }
  const double seconds = static_cast<double>(SequentialReadAhead::NowNs() - start) / 1e9;
  const uint32_t depth = engine->Depth();
  const uint32_t merge = engine->MergeBytes();
  const bool uring = engine->GetBackend() == SequentialReadAhead::Backend::kIoUring;
  engine.reset();
  ::close(fd);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("bytes=%" PRIu64 " seconds=%.3f gib_s=%.3f bad=%" PRIu64 " depth=%u merge_kib=%u backend=%s rss_kb=%ld\n",
              bytes, seconds, static_cast<double>(bytes) / seconds / (1u << 30), bad, depth, merge / 1024,
              uring ? "io_uring" : "pread", usage.ru_maxrss);
  return 0;
}
