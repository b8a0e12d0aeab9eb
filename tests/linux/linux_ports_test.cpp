// The Linux ports over real files: what "physical drive n" opens, how it is
// opened, the geometry a Windows fixed disk would report, and where "/" lives.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "disk/linux/DeviceIoLinux.h"
#include "platform/linux/DriveList.h"
#include "platform/linux/SystemDiskLocatorLinux.h"

namespace fs = std::filesystem;

namespace {

class ScratchDir {
 public:
  ScratchDir() : m_path(fs::temp_directory_path() / ("morvek-test-" + std::to_string(::getpid()))) {
    fs::remove_all(m_path);
    fs::create_directories(m_path);
  }
  ~ScratchDir() { fs::remove_all(m_path); }
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }
  const fs::path& Path() const { return m_path; }

 private:
  fs::path m_path;
};

std::string MakeImage(const ScratchDir& dir, const std::string& name, uint64_t bytes) {
  const std::string path = dir / name;
  std::ofstream(path).close();
  fs::resize_file(path, bytes);
  return path;
}

// The access mode the kernel holds for an open descriptor.
int AccessModeOf(int fd) {
  std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
  std::string key;
  while (info >> key) {
    if (key == "flags:") {
      std::string octal;
      info >> octal;
      return static_cast<int>(std::stol(octal, nullptr, 8)) & O_ACCMODE;
    }
  }
  return -1;
}

TEST(LinuxDeviceIo, OpensReadOnlyAndDerivesFixedDiskGeometry) {
  ScratchDir dir;
  const std::string image = MakeImage(dir, "a.img", 78156225ull * 512);
  LinuxDeviceIo io({image});
  const DeviceHandle h = io.OpenDrive(0);
  ASSERT_NE(h, kInvalidDevice);
  EXPECT_EQ(AccessModeOf(static_cast<int>(h)), O_RDONLY);

  DiskGeometry g;
  ASSERT_TRUE(io.GetGeometry(h, g));
  EXPECT_EQ(g.cylinders, 4865);
  EXPECT_EQ(g.tracksPerCylinder, 255u);
  EXPECT_EQ(g.sectorsPerTrack, 63u);
  EXPECT_EQ(g.bytesPerSector, 512u);
  EXPECT_EQ(g.mediaType, 12);
  io.Close(h);
}

TEST(LinuxDeviceIo, ReadsAtASixtyFourBitOffset) {
  ScratchDir dir;
  const std::string image = MakeImage(dir, "big.img", (uint64_t{5} << 30));
  {
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(uint64_t{4} << 30));
    f.write("MORVEK", 6);
  }
  LinuxDeviceIo io({image});
  const DeviceHandle h = io.OpenDrive(0);
  ASSERT_NE(h, kInvalidDevice);
  alignas(4096) static unsigned char buffer[65536];
  const ReadResult r = io.ReadAt(h, uint64_t{4} << 30, buffer, sizeof buffer);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, sizeof buffer);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), "MORVEK");
  uint64_t size = 0;
  ASSERT_TRUE(io.GetSize(h, size));
  EXPECT_EQ(size, uint64_t{5} << 30);
  io.Close(h);
}

TEST(LinuxDeviceIo, AReadOverTheEndIsCutShort) {
  ScratchDir dir;
  const std::string image = MakeImage(dir, "small.img", 100 * 512);
  LinuxDeviceIo io({image});
  const DeviceHandle h = io.OpenDrive(0);
  alignas(4096) static unsigned char buffer[65536];
  const ReadResult r = io.ReadAt(h, 64 * 512, buffer, sizeof buffer);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, 36u * 512);
  io.Close(h);
}

TEST(LinuxDeviceIo, AFifoIsNoDiskAndDoesNotHangTheOpen) {
  ScratchDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  LinuxDeviceIo io({dir / "fifo"});
  // Without a writer a blocking open of a FIFO would wait for ever.
  EXPECT_EQ(io.OpenDrive(0), kInvalidDevice);
  EXPECT_EQ(io.OpenError(0), "not a disk (neither a block device nor an image file)");
}

TEST(LinuxDeviceIo, RefusesWhatIsNoDisk) {
  ScratchDir dir;
  LinuxDeviceIo io({dir / "missing.img", dir.Path().string()});
  EXPECT_EQ(io.OpenDrive(0), kInvalidDevice);
  EXPECT_FALSE(io.OpenError(0).empty());
  EXPECT_EQ(io.OpenDrive(1), kInvalidDevice);  // a directory
  EXPECT_EQ(io.OpenError(1), "not a disk (neither a block device nor an image file)");
  EXPECT_EQ(io.OpenDrive(2), kInvalidDevice);
  EXPECT_EQ(io.OpenDrive(-1), kInvalidDevice);
  EXPECT_EQ(io.OpenError(5), "");
}

// Scripted system calls: what each open asked for, and reads that answer
// as a device with large logical blocks does at its end.
std::vector<int> g_openFlags;
int RefuseDirectIo(const char* path, int flags) {
  g_openFlags.push_back(flags);
  if (flags & O_DIRECT) {
    errno = EINVAL;
    return -1;
  }
  return ::open(path, flags);
}

std::vector<std::pair<size_t, off_t>> g_preads;
ssize_t RefuseReadsOverTheEnd(int fd, void* buffer, size_t bytes, off_t offset) {
  g_preads.emplace_back(bytes, offset);
  struct stat st {};
  ::fstat(fd, &st);
  if (offset + static_cast<off_t>(bytes) > st.st_size) {
    errno = EINVAL;
    return -1;
  }
  return ::pread(fd, buffer, bytes, offset);
}

// A buffered image whose read hit an error part way: it hands back what it
// had before the error.
ssize_t HalfARead(int fd, void* buffer, size_t bytes, off_t offset) { return ::pread(fd, buffer, bytes / 2, offset); }

ssize_t DeviceGone(int, void*, size_t, off_t) {
  errno = ENODEV;
  return -1;
}

TEST(LinuxDeviceIo, FallsBackToBufferedReadsWhereDirectIoIsRefused) {
  ScratchDir dir;
  const std::string image = MakeImage(dir, "tmpfs.img", 16065 * 512);
  g_openFlags.clear();
  LinuxDeviceIo io({image}, {RefuseDirectIo, nullptr});
  const DeviceHandle h = io.OpenDrive(0);
  ASSERT_NE(h, kInvalidDevice);
  ASSERT_EQ(g_openFlags.size(), 2u);
  EXPECT_NE(g_openFlags[0] & O_DIRECT, 0);
  EXPECT_EQ(g_openFlags[1] & O_DIRECT, 0);
  for (int flags : g_openFlags) EXPECT_EQ(flags & O_ACCMODE, O_RDONLY);
  EXPECT_EQ(AccessModeOf(static_cast<int>(h)), O_RDONLY);
  io.Close(h);
}

TEST(LinuxDeviceIo, AReadRefusedAcrossTheEndIsRetriedUpToTheEnd) {
  ScratchDir dir;
  const std::string image = MakeImage(dir, "4kn.img", 100 * 512);
  g_preads.clear();
  LinuxDeviceIo io({image}, {nullptr, RefuseReadsOverTheEnd});
  const DeviceHandle h = io.OpenDrive(0);
  alignas(4096) static unsigned char buffer[65536];
  const ReadResult r = io.ReadAt(h, 64 * 512, buffer, sizeof buffer);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, 36u * 512);
  EXPECT_EQ(g_preads, (std::vector<std::pair<size_t, off_t>>{{65536, 64 * 512}, {36 * 512, 64 * 512}}));
  // A read wholly past the end is not "cut" to nothing: it fails.
  g_preads.clear();
  EXPECT_FALSE(io.ReadAt(h, 100 * 512, buffer, sizeof buffer).ok);
  EXPECT_EQ(g_preads.size(), 1u);
  io.Close(h);
}

TEST(LinuxDeviceIo, AReadThatComesBackShortBeforeTheEndFailed) {
  ScratchDir dir;
  const std::string image = MakeImage(dir, "short.img", 16065 * 512);
  LinuxDeviceIo io({image}, {nullptr, HalfARead});
  const DeviceHandle h = io.OpenDrive(0);
  alignas(4096) static unsigned char buffer[65536];
  const ReadResult r = io.ReadAt(h, 128 * 512, buffer, sizeof buffer);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, ReadError::kMedia);
  io.Close(h);
}

TEST(LinuxDeviceIo, ADeviceThatHasGoneSaysSo) {
  ScratchDir dir;
  const std::string image = MakeImage(dir, "gone.img", 16065 * 512);
  LinuxDeviceIo io({image}, {nullptr, DeviceGone});
  const DeviceHandle h = io.OpenDrive(0);
  alignas(4096) static unsigned char buffer[512];
  const ReadResult r = io.ReadAt(h, 0, buffer, sizeof buffer);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, ReadError::kGone);
  io.Close(h);
}

TEST(LinuxDriveList, TakesOnlyWholeHardwareDisks) {
  ScratchDir dir;
  for (const char* name : {"sdb", "sda", "nvme0n1", "loop0", "ram0", "zram0", "sr0", "dm-0", "md0", "vda"}) {
    fs::create_directories(fs::path(dir / "block") / name);
    if (std::string(name).rfind("dm-", 0) != 0 && std::string(name).rfind("md", 0) != 0)
      fs::create_directories(fs::path(dir / "block") / name / "device");
  }
  EXPECT_EQ(WholeDisks(dir / "block"), (std::vector<std::string>{"/dev/sda", "/dev/sdb", "/dev/vda", "/dev/nvme0n1"}));
  EXPECT_EQ(DriveList({"x.img"}), std::vector<std::string>{"x.img"});
}

TEST(LinuxSystemDisk, RootMountIsTheLastOneOnSlash) {
  ScratchDir dir;
  std::ofstream(dir / "mountinfo") << "21 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n"
                                      "22 21 0:5 / /dev rw - devtmpfs udev rw\n"
                                      "30 21 253:0 / / rw - ext4 /dev/mapper/root rw\n";
  EXPECT_EQ(RootDeviceNumber(dir / "mountinfo"), "253:0");
  std::ofstream(dir / "empty") << "";
  EXPECT_EQ(RootDeviceNumber(dir / "empty"), "");
}

TEST(LinuxSystemDisk, FollowsPartitionsAndSlavesToWholeDisks) {
  ScratchDir dir;
  const fs::path sys = dir.Path() / "sys";
  fs::create_directories(sys / "block/sda/sda2");
  std::ofstream((sys / "block/sda/sda2/partition").string()) << "2\n";
  fs::create_directories(sys / "block/sdb/sdb1");
  std::ofstream((sys / "block/sdb/sdb1/partition").string()) << "1\n";
  fs::create_directories(sys / "block/nvme0n1/nvme0n1p1");
  std::ofstream((sys / "block/nvme0n1/nvme0n1p1/partition").string()) << "1\n";
  // dm-0 over an md array over sdb1 and nvme0n1p1
  fs::create_directories(sys / "block/md0/slaves");
  fs::create_directory_symlink("../../sdb/sdb1", sys / "block/md0/slaves/sdb1");
  fs::create_directory_symlink("../../nvme0n1/nvme0n1p1", sys / "block/md0/slaves/nvme0n1p1");
  fs::create_directories(sys / "block/dm-0/slaves");
  fs::create_directory_symlink("../../md0", sys / "block/dm-0/slaves/md0");
  fs::create_directories(sys / "dev/block");
  fs::create_directory_symlink("../../block/sda/sda2", sys / "dev/block/8:2");
  fs::create_directory_symlink("../../block/sda", sys / "dev/block/8:0");
  fs::create_directory_symlink("../../block/dm-0", sys / "dev/block/253:0");

  EXPECT_EQ(WholeDisksUnder("8:2", sys.string()), std::vector<std::string>{"sda"});
  EXPECT_EQ(WholeDisksUnder("8:0", sys.string()), std::vector<std::string>{"sda"});
  auto under = WholeDisksUnder("253:0", sys.string());
  std::sort(under.begin(), under.end());
  EXPECT_EQ(under, (std::vector<std::string>{"nvme0n1", "sdb"}));
  EXPECT_TRUE(WholeDisksUnder("0:42", sys.string()).empty());  // e.g. an overlay root
  EXPECT_TRUE(WholeDisksUnder("", sys.string()).empty());
}

TEST(LinuxSystemDisk, ImageFilesAreNeverTheSystemDisk) {
  ScratchDir dir;
  const std::string image = MakeImage(dir, "a.img", 16065 * 512);
  LinuxSystemDiskLocator locator({image, image});
  EXPECT_EQ(locator.LocateSystemDisk(), 0);
}

}  // namespace
