#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "disk/CDisk.h"
#include "disk/ScanLog.h"
#include "fakes/FakeDisk.h"
#include "fakes/FakeSystem.h"
#include "fakes/LogCapture.h"
#include "platform/PlatformProbe.h"

namespace {

constexpr uint64_t k500GB = 976773168;

class DiskTest : public testing::Test {
 protected:
  void SetUp() override {
    PlatformProbe::ForgetProcessState();
    CDisk::ForgetProcessState();
  }
  void TearDown() override {
    PlatformProbe::ForgetProcessState();
    CDisk::ForgetProcessState();
  }
  std::unique_ptr<CDisk> Make() { return std::make_unique<CDisk>(DiskPorts{system, io, locator}); }

  FakeSystemPort system;
  FakeDeviceIo io;
  FakeLocator locator;
};

TEST_F(DiskTest, GapsInDriveNumbersAreSqueezedOutOfTheSlots) {
  io.drives[0] = FakeDrive::WithSectors(k500GB);
  io.drives[2] = FakeDrive::WithSectors(1000000);
  LogCapture log;
  auto disk = Make();
  EXPECT_EQ(g_diskTable.count, 2u);
  EXPECT_EQ(disk->DriveCodeOfSlot(0), 0x80);
  EXPECT_EQ(disk->DriveCodeOfSlot(1), 0x82);
  EXPECT_EQ(g_diskTable.records[1].totalSectors, 62u * 16065);

  io.opens.clear();
  EXPECT_EQ(disk->SetActiveDisk(0x81), 1);
  EXPECT_EQ(io.opens, std::vector<int>{2});
  EXPECT_EQ(disk->ActiveDrive(), 0x82);

  const std::vector<std::string> expected = {
      "GetDiskinfoNt::OpenDrive 0 ok!", "", "MediaType=12, drive=0", "", "cyln=60801, head=255, sector=63", "",
      "GetDiskinfoNt::OpenDrive 2 ok!", "", "MediaType=12, drive=1", "", "cyln=62, head=255, sector=63",    ""};
  EXPECT_EQ(log.Lines(), expected);
}

TEST_F(DiskTest, ProbeTriesAllEightNumbersButFillsAtMostFourSlots) {
  for (int i = 0; i < 6; ++i) io.drives[i] = FakeDrive::WithSectors(1000000);
  auto disk = Make();
  EXPECT_EQ(g_diskTable.count, 4u);
  EXPECT_EQ(io.opens, (std::vector<int>{0, 1, 2, 3, 0}));  // the last is the system disk's activation
  EXPECT_EQ(disk->DriveCodeOfSlot(3), 0x83);

  CDisk::ForgetProcessState();
  io.drives.clear();
  io.opens.clear();
  io.drives[7] = FakeDrive::WithSectors(1000000);
  auto sparse = Make();
  EXPECT_EQ(g_diskTable.count, 1u);
  EXPECT_EQ(sparse->DriveCodeOfSlot(0), 0x87);
  EXPECT_EQ(io.opens, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 7}));
}

TEST_F(DiskTest, TotalSectorsWrapAt32Bits) {
  io.drives[0] = FakeDrive::WithGeometry(1000000, 255, 63);
  auto disk = Make();
  const DiskRecord& r = g_diskTable.records[0];
  EXPECT_EQ(r.sectorsPerCylinder, 16065u);
  EXPECT_EQ(r.cylinders, 1000000u);
  EXPECT_EQ(r.totalSectors, 3180098112u);
  EXPECT_EQ(r.heads, 255);
  EXPECT_EQ(r.sectorsPerTrack, 63);
}

TEST_F(DiskTest, GeometryFieldsAreCutToTheirWidths) {
  io.drives[0] = FakeDrive::WithGeometry((int64_t{1} << 32) + 5, 0x10002, 0x10003);
  auto disk = Make();
  const DiskRecord& r = g_diskTable.records[0];
  EXPECT_EQ(r.cylinders, 5u);
  EXPECT_EQ(r.heads, 2);
  EXPECT_EQ(r.sectorsPerTrack, 3);
  EXPECT_EQ(r.totalSectors, 30u);
}

TEST_F(DiskTest, ADriveWithoutGeometryTakesAnEmptySlot) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  io.drives[0].failGeometry = true;
  io.drives[1] = FakeDrive::WithSectors(2000000);
  LogCapture log;
  auto disk = Make();
  EXPECT_EQ(g_diskTable.count, 2u);
  EXPECT_EQ(g_diskTable.records[0].totalSectors, 0u);
  EXPECT_EQ(disk->DriveCodeOfSlot(0), 0);
  EXPECT_EQ(disk->DriveCodeOfSlot(1), 0x81);
  EXPECT_TRUE(log.Contains("GetDiskinfoNt::OpenDrive 0 ok!\r\n\r\nGetDiskinfoNt::OpenDrive 1 ok!"));
  EXPECT_TRUE(log.Contains("MediaType=12, drive=1"));
  EXPECT_FALSE(log.Contains("drive=0"));
}

TEST_F(DiskTest, ConstructionActivatesTheSystemDiskAndLeavesNothingElseOpen) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  io.drives[1] = FakeDrive::WithSectors(1000000);
  locator.systemDisk = 1;
  auto disk = Make();
  EXPECT_EQ(SystemDiskCode, 0x81);
  EXPECT_EQ(disk->ActiveDrive(), 0x81);
  EXPECT_TRUE(disk->HasOpenDevice());
  EXPECT_EQ(io.OpenCount(), 1u);

  // Later disk objects reuse the code without asking again.
  disk.reset();
  EXPECT_EQ(io.OpenCount(), 0u);
  auto again = Make();
  EXPECT_EQ(locator.calls, 1);
  EXPECT_EQ(again->ActiveDrive(), 0x81);
}

TEST_F(DiskTest, NoDisksAtAll) {
  LogCapture log;
  auto disk = Make();
  EXPECT_EQ(g_diskTable.count, 0u);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"SetActiveDisk failed, whichdisk", ""}));
  EXPECT_EQ(disk->SetActiveDisk(0x80), 0);
  EXPECT_EQ(DiskRecordOfSlot(0), nullptr);
  EXPECT_EQ(DiskRecordOfSlot(-1), nullptr);
}

TEST_F(DiskTest, SetActiveDiskRefusesCodesOutsideTheTable) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  io.drives[1] = FakeDrive::WithSectors(1000000);
  auto disk = Make();
  LogCapture log;
  io.opens.clear();
  EXPECT_EQ(disk->SetActiveDisk(0x82), 0);
  EXPECT_EQ(disk->SetActiveDisk(0x7F), 0);
  EXPECT_EQ(disk->SetActiveDisk(0x00), 0);
  EXPECT_EQ(disk->SetActiveDisk(0xFF), 0);
  EXPECT_TRUE(io.opens.empty());
  EXPECT_EQ(log.Text(),
            "SetActiveDisk failed, whichdisk\r\n\r\n"
            "SetActiveDisk failed, whichdisk\r\n\r\n"
            "SetActiveDisk failed, whichdisk\r\n\r\n"
            "SetActiveDisk failed, whichdisk\r\n\r\n");
  EXPECT_EQ(disk->ActiveDrive(), 0x80);
}

TEST_F(DiskTest, ActivatingTheActiveSlotReopensNothing) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  auto disk = Make();
  io.opens.clear();
  EXPECT_EQ(disk->SetActiveDisk(0x80), 1);
  EXPECT_EQ(disk->SetActiveDisk(0x80), 1);
  EXPECT_TRUE(io.opens.empty());
}

TEST_F(DiskTest, AFailedOpenIsRetriedOnlyAfterSwitchingAway) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  io.drives[1] = FakeDrive::WithSectors(1000000);
  auto disk = Make();
  io.drives[1].failOpen = true;
  io.opens.clear();
  LogCapture log;

  EXPECT_EQ(disk->SetActiveDisk(0x81), 0);
  EXPECT_EQ(disk->ActiveDrive(), 0x81);  // changed before the open
  EXPECT_FALSE(disk->HasOpenDevice());
  EXPECT_EQ(disk->SetActiveDisk(0x81), 0);  // same slot: no second try
  EXPECT_EQ(io.opens, std::vector<int>{1});
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"SetActiveDisk::OpenDrive failed"});

  io.drives[1].failOpen = false;
  EXPECT_EQ(disk->SetActiveDisk(0x80), 1);
  EXPECT_EQ(disk->SetActiveDisk(0x81), 1);
  EXPECT_EQ(io.opens, (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(io.OpenCount(), 1u);  // the old device is closed before the new one opens
}

TEST_F(DiskTest, ReadsWithoutAnOpenDeviceFailAndSaySo) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  io.drives[1] = FakeDrive::WithSectors(1000000);
  auto disk = Make();
  io.drives[1].failOpen = true;
  disk->SetActiveDisk(0x81);
  LogCapture log;
  std::vector<unsigned char> buffer(65536);
  EXPECT_EQ(disk->ReadSectors(0, 128, buffer.data()), 0u);
  EXPECT_EQ(log.Text(),
            "ReadWriteSectorNt::m_hActiveDevice invalid.\r\n\r\n"
            "CDisk::ReadWriteSector ReadWriteSectorNt some bad sectors\r\n\r\n");
  EXPECT_TRUE(io.reads.empty());
}

TEST_F(DiskTest, LongReadsGoInChunksOf128) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  auto disk = Make();
  std::vector<unsigned char> buffer(300 * 512, 0xAA);
  EXPECT_EQ(disk->ReadSectors(1000, 300, buffer.data()), 153600u);
  ASSERT_EQ(io.reads.size(), 3u);
  EXPECT_EQ(io.reads[0].sector, 1000u);
  EXPECT_EQ(io.reads[0].bytes, 128u * 512);
  EXPECT_EQ(io.reads[1].sector, 1128u);
  EXPECT_EQ(io.reads[1].bytes, 128u * 512);
  EXPECT_EQ(io.reads[2].sector, 1256u);
  EXPECT_EQ(io.reads[2].bytes, 44u * 512);
  EXPECT_EQ(buffer.back(), 0);  // the last chunk landed at the end of the buffer
  EXPECT_EQ(io.flushes, 3);
  EXPECT_EQ(io.locks, 3);
  EXPECT_EQ(io.unlocks, 3);
}

TEST_F(DiskTest, AFailedChunkFailsTheWholeCall) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  io.drives[0].bad = {{1200, 1200}};
  auto disk = Make();
  LogCapture log;
  std::vector<unsigned char> buffer(300 * 512);
  EXPECT_EQ(disk->ReadSectors(1000, 300, buffer.data()), 0u);
  EXPECT_EQ(io.reads.size(), 2u);  // the third chunk is not attempted
  EXPECT_EQ(io.unlocks, 1);        // no unlock after the failed read
  EXPECT_EQ(log.Text(),
            "ReadWriteSectorNt, dwBytes=0, ReadFile failed\r\n\r\n"
            "CDisk::ReadWriteSector ReadWriteSectorNt some bad sectors\r\n\r\n");

  // The device stays open and the next call proceeds normally.
  EXPECT_EQ(disk->ReadSectors(1300, 128, buffer.data()), 65536u);
}

TEST_F(DiskTest, CountZeroTouchesNothing) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  auto disk = Make();
  unsigned char byte = 0;
  EXPECT_EQ(disk->ReadSectors(0, 0, &byte), 0u);
  EXPECT_TRUE(io.reads.empty());
  EXPECT_TRUE(io.seeks.empty());
  EXPECT_EQ(io.flushes, 0);
}

TEST_F(DiskTest, SeekSplitsTheByteOffsetInTwoHalves) {
  io.drives[0] = FakeDrive::WithSectors(k500GB);
  auto disk = Make();
  std::vector<unsigned char> buffer(65536);
  disk->ReadSectors(0x00800000, 128, buffer.data());  // 4 GiB
  disk->ReadSectors(0x00800001, 1, buffer.data());
  disk->ReadSectors(0xFFFFFF80, 1, buffer.data());
  ASSERT_EQ(io.seeks.size(), 3u);
  EXPECT_EQ(io.seeks[0], std::make_pair(0u, 1u));
  EXPECT_EQ(io.seeks[1], std::make_pair(512u, 1u));
  EXPECT_EQ(io.seeks[2], std::make_pair(0xFFFF0000u, 0x1FFu));
  EXPECT_EQ(io.reads[0].sector, 0x00800000u);
}

// The disk table is also the exchange format with the 9x disk DLL.
TEST(DiskTableLayout, IsLittleEndianAndPacked) {
  DiskTable t{};
  t.count = 0x04030201;
  t.records[1].sectorsPerTrack = 0x0605;
  t.records[1].totalSectors = 0x0A090807;
  unsigned char bytes[68];
  std::memcpy(bytes, &t, sizeof t);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[3], 4);
  EXPECT_EQ(bytes[20], 5);
  EXPECT_EQ(bytes[21], 6);
  EXPECT_EQ(bytes[32], 7);
  EXPECT_EQ(bytes[35], 0x0A);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ScanLogFile, EndsEveryEntryInOneCrLfAndEmptiesAnOldFile) {
  {
    std::ofstream old("old.log", std::ios::binary);
    old << "left over from an earlier run\n";
  }
  {
    ScanLog log("old.log");
    log.Write("first");
    log.WriteF("cyln=%d, head=%d, sector=%d\r\n", 62, 255, 63);
    log.Write("");
  }
  EXPECT_EQ(ReadFile("old.log"), "first\r\ncyln=62, head=255, sector=63\r\n\r\n\r\n");
}

TEST(ScanLogFile, AnUnwritablePathDropsEntriesQuietly) {
  ScanLog log("no-such-directory/Scan.log");
  log.Write("nowhere to go");
  SUCCEED();
}

TEST(ScanLogConcurrent, EntriesFromTwoThreadsStayWhole) {
  {
    ScanLog log("concurrent.log");
    auto writer = [&log](const char* text) {
      for (int i = 0; i < 2000; ++i) log.Write(text);
    };
    std::thread a(writer, "ReadWriteSectorNt, dwBytes=0, ReadFile failed\r\n");
    std::thread b(writer, "GetSize = 0,17");
    a.join();
    b.join();
  }
  const std::string text = ReadFile("concurrent.log");
  size_t at = 0, worker = 0, painter = 0;
  while (at < text.size()) {
    if (text.compare(at, 49, "ReadWriteSectorNt, dwBytes=0, ReadFile failed\r\n\r\n") == 0) {
      at += 49;
      ++worker;
    } else if (text.compare(at, 16, "GetSize = 0,17\r\n") == 0) {
      at += 16;
      ++painter;
    } else {
      FAIL() << "torn entry at byte " << at;
    }
  }
  EXPECT_EQ(worker, 2000u);
  EXPECT_EQ(painter, 2000u);
}

}  // namespace
