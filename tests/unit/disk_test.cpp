#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "disk/CDisk.h"
#include "fakes/FakeMachine.h"
#include "platform/ScanLog.h"

namespace {

constexpr uint64_t k500GB = 976773168;

class DiskTest : public testing::Test {
 protected:
  std::unique_ptr<CDisk> Make() { return std::make_unique<CDisk>(machine.Disk()); }

  FakeMachine machine;
  FakeDeviceIo& io = machine.io;
  FakeLocator& locator = machine.locator;
  const MemoryFileSystem& files = machine.files;
};

TEST_F(DiskTest, GapsInDriveNumbersAreSqueezedOutOfTheSlots) {
  io.drives[0] = FakeDrive::WithSectors(k500GB);
  io.drives[2] = FakeDrive::WithSectors(1000000);
  LogCapture log(files);
  auto disk = Make();
  EXPECT_EQ(disk->Table().count, 2u);
  EXPECT_EQ(disk->DriveCodeOfSlot(0), 0x80);
  EXPECT_EQ(disk->DriveCodeOfSlot(1), 0x82);
  EXPECT_EQ(disk->Table().records[1].totalSectors, 62u * 16065);

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
  EXPECT_EQ(disk->Table().count, 4u);
  EXPECT_EQ(io.opens, (std::vector<int>{0, 1, 2, 3, 0}));  // the last is the system disk's activation
  EXPECT_EQ(disk->DriveCodeOfSlot(3), 0x83);

  io.drives.clear();
  io.opens.clear();
  io.drives[7] = FakeDrive::WithSectors(1000000);
  auto sparse = Make();
  EXPECT_EQ(sparse->Table().count, 1u);
  EXPECT_EQ(sparse->DriveCodeOfSlot(0), 0x87);
  EXPECT_EQ(io.opens, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 7}));
}

TEST_F(DiskTest, TotalSectorsWrapAt32Bits) {
  io.drives[0] = FakeDrive::WithGeometry(1000000, 255, 63);
  auto disk = Make();
  const DiskRecord& r = disk->Table().records[0];
  EXPECT_EQ(r.sectorsPerCylinder, 16065u);
  EXPECT_EQ(r.cylinders, 1000000u);
  EXPECT_EQ(r.totalSectors, 3180098112u);
  EXPECT_EQ(r.heads, 255);
  EXPECT_EQ(r.sectorsPerTrack, 63);
}

TEST_F(DiskTest, GeometryFieldsAreCutToTheirWidths) {
  io.drives[0] = FakeDrive::WithGeometry((int64_t{1} << 32) + 5, 0x10002, 0x10003);
  auto disk = Make();
  const DiskRecord& r = disk->Table().records[0];
  EXPECT_EQ(r.cylinders, 5u);
  EXPECT_EQ(r.heads, 2);
  EXPECT_EQ(r.sectorsPerTrack, 3);
  EXPECT_EQ(r.totalSectors, 30u);
}

TEST_F(DiskTest, ADriveWithoutGeometryTakesAnEmptySlot) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  io.drives[0].failGeometry = true;
  io.drives[1] = FakeDrive::WithSectors(2000000);
  LogCapture log(files);
  auto disk = Make();
  EXPECT_EQ(disk->Table().count, 2u);
  EXPECT_EQ(disk->Table().records[0].totalSectors, 0u);
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
  EXPECT_EQ(disk->SystemDiskCode(), 0x81);
  EXPECT_EQ(disk->ActiveDrive(), 0x81);
  EXPECT_TRUE(disk->HasOpenDevice());
  EXPECT_EQ(io.OpenCount(), 1u);
  EXPECT_EQ(locator.calls, 1);

  disk.reset();
  EXPECT_EQ(io.OpenCount(), 0u);
}

TEST_F(DiskTest, NoDisksAtAll) {
  LogCapture log(files);
  auto disk = Make();
  EXPECT_EQ(disk->Table().count, 0u);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"SetActiveDisk failed, whichdisk", ""}));
  EXPECT_EQ(disk->SetActiveDisk(0x80), 0);
  EXPECT_EQ(disk->RecordOfSlot(0), nullptr);
  EXPECT_EQ(disk->RecordOfSlot(-1), nullptr);
}

TEST_F(DiskTest, SetActiveDiskRefusesCodesOutsideTheTable) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  io.drives[1] = FakeDrive::WithSectors(1000000);
  auto disk = Make();
  LogCapture log(files);
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
  LogCapture log(files);

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
  LogCapture log(files);
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
}

TEST_F(DiskTest, AFailedChunkFailsTheWholeCall) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  io.drives[0].bad = {{1200, 1200}};
  auto disk = Make();
  LogCapture log(files);
  std::vector<unsigned char> buffer(300 * 512);
  EXPECT_EQ(disk->ReadSectors(1000, 300, buffer.data()), 0u);
  EXPECT_EQ(io.reads.size(), 2u);  // the third chunk is not attempted
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
}

TEST_F(DiskTest, AStreamOfReadsIsAnnouncedToTheActiveDeviceInBytesAndEnded) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  io.drives[1] = FakeDrive::WithSectors(1000000);
  auto disk = Make();
  disk->SetActiveDisk(0x81);
  std::vector<unsigned char> buffer(65536);
  disk->ExpectSequentialReads(0x00800000, 0x00800000 + 300, StreamData::kDiscarded);  // from 4 GiB on
  for (uint64_t sector : {0x00800000ull, 0x00800080ull}) disk->ReadSectors(sector, 128, buffer.data());
  disk->EndSequentialReads();
  ASSERT_EQ(io.streams.size(), 1u);
  const FakeStream& s = io.streams[0];
  EXPECT_EQ(s.drive, 1);
  EXPECT_EQ(s.fromByte, 0x00800000ull * 512);
  EXPECT_EQ(s.toByte, (0x00800000ull + 300) * 512);
  EXPECT_EQ(s.blockBytes, 65536u);
  EXPECT_EQ(s.data, StreamData::kDiscarded);
  EXPECT_EQ(s.readsBefore, 0u);
  EXPECT_EQ(s.endedAfter, 2u);

  // A stream of nothing is not announced, nor is one without an open device.
  disk->ExpectSequentialReads(5000, 5000, StreamData::kWanted);
  disk->ExpectSequentialReads(5001, 5000, StreamData::kWanted);
  io.drives[0].failOpen = true;
  disk->SetActiveDisk(0x80);
  disk->ExpectSequentialReads(0, 1000, StreamData::kWanted);
  disk->EndSequentialReads();
  EXPECT_EQ(io.streams.size(), 1u);
}

TEST_F(DiskTest, TheLastReadKeepsTheTimeItsOutcomeWasKnown) {
  io.drives[0] = FakeDrive::WithSectors(1000000);
  io.drives[0].bad = {{200, 200}};
  io.drives[1] = FakeDrive::WithSectors(1000000);
  auto disk = Make();
  EXPECT_EQ(disk->LastReadReadyNs(), 0u);  // no read yet
  uint64_t ready = 4000;
  io.readyNs = [&](const FakeRead&) { return ready += 1000; };
  std::vector<unsigned char> buffer(65536);
  disk->ReadSectors(0, 128, buffer.data());
  EXPECT_EQ(disk->LastReadReadyNs(), 5000u);
  EXPECT_EQ(disk->ReadSectors(128, 128, buffer.data()), 0u);  // failed reads have a time too
  EXPECT_EQ(disk->LastReadReadyNs(), 6000u);
  // A port that cannot tell, and a read that never reached the device, give 0.
  io.readyNs = nullptr;
  disk->ReadSectors(256, 128, buffer.data());
  EXPECT_EQ(disk->LastReadReadyNs(), 0u);
  io.readyNs = [](const FakeRead&) { return uint64_t{9000}; };
  disk->ReadSectors(384, 128, buffer.data());
  io.drives[1].failOpen = true;
  disk->SetActiveDisk(0x81);
  disk->ReadSectors(0, 128, buffer.data());
  EXPECT_EQ(disk->LastReadReadyNs(), 0u);
}

TEST_F(DiskTest, ReadsAtSectorsPastFourGiBReachTheirByteOffset) {
  io.drives[0] = FakeDrive::WithSectors(0xFFFFFFFFull);
  auto disk = Make();
  std::vector<unsigned char> buffer(65536);
  disk->ReadSectors(0x00800000, 128, buffer.data());  // 4 GiB
  disk->ReadSectors(0xFFFFFF80, 1, buffer.data());
  ASSERT_EQ(io.reads.size(), 2u);
  EXPECT_EQ(io.reads[0].sector, 0x00800000u);
  EXPECT_EQ(io.reads[1].sector, 0xFFFFFF80u);
}

TEST_F(DiskTest, TotalsPastTwoToTheThirtyTwoKeepEverySector) {
  // 2^32 - 1 and 2^32 + 1 sectors of whole cylinders (255 x 63 does not
  // divide them: 267,349 cylinders of 16,065 are 4,294,961,685 sectors), a
  // 3 TiB and a 16 TB drive.
  io.drives[0] = FakeDrive::WithGeometry(267349, 255, 63);
  io.drives[0].sizeBytes = (uint64_t{1} << 32) * 512 - 512;
  io.drives[1] = FakeDrive::WithSectors((uint64_t{1} << 32) + 1);
  io.drives[1].sizeBytes = ((uint64_t{1} << 32) + 1) * 512;
  io.drives[2] = FakeDrive::WithSectors(6442450944);
  io.drives[2].sizeBytes = uint64_t{3} << 40;
  io.drives[3] = FakeDrive::WithSectors(31250000000);
  io.drives[3].sizeBytes = 16000000000000;
  LogCapture log(files);
  auto disk = Make();
  EXPECT_EQ(disk->TotalSectors(0), 4294961685u);
  EXPECT_EQ(disk->DeviceSectors(0), 4294967295u);
  EXPECT_EQ(disk->TotalSectors(1), 4294961685u);               // the whole cylinders end below 2^32 ...
  EXPECT_EQ(disk->DeviceSectors(1), (uint64_t{1} << 32) + 1);  // ... the device past it
  EXPECT_EQ(disk->TotalSectors(2), 401024ull * 16065);         // 6,442,450,560
  // The table keeps its 32-bit layout, and its wrap, for the 9x DLL.
  EXPECT_EQ(disk->Table().records[2].totalSectors, static_cast<uint32_t>(401024ull * 16065));
  EXPECT_EQ(disk->DeviceSectors(2), 6442450944u);
  EXPECT_EQ(disk->TotalSectors(3), 1945222ull * 16065);
  EXPECT_EQ(disk->DeviceSectors(3), 31250000000u);
  EXPECT_TRUE(log.Contains("cyln=401024, head=255, sector=63\r\n"));
  EXPECT_TRUE(log.Contains("cyln=1945222, head=255, sector=63\r\n"));
  EXPECT_EQ(disk->Table().records[3].cylinders, 1945222u);
}

TEST_F(DiskTest, AFourKNativeDriveIsCountedIn512ByteSectors) {
  // 4096 bytes a sector: 1000 cylinders of 255 x 63 such sectors.
  io.drives[0] = FakeDrive::WithGeometry(1000, 255, 63);
  io.drives[0].bytesPerSector = 4096;
  auto disk = Make();
  EXPECT_EQ(disk->TotalSectors(0), 1000ull * 16065 * 8);
  EXPECT_EQ(disk->DeviceSectors(0), 1000ull * 16065 * 8);
  EXPECT_EQ(disk->SectorSize(0), 4096u);
  std::vector<unsigned char> buffer(65536);
  // The last 64 KB of the disk is read at its byte offset.
  EXPECT_EQ(disk->ReadSectors(1000ull * 16065 * 8 - 128, 128, buffer.data()), 65536u);
  EXPECT_EQ(io.reads.back().sector, 1000ull * 16065 * 8 - 128);
}

TEST_F(DiskTest, DrivesTheFullListHasNoRoomForAreSaidButNotOpened) {
  for (int i : {0, 1, 2, 3, 5, 7}) io.drives[i] = FakeDrive::WithSectors(1000000);
  LogCapture log(files);
  auto disk = Make();
  EXPECT_EQ(disk->Table().count, 4u);
  EXPECT_EQ(disk->DrivesLeftOut(), (std::vector<int>{5, 7}));
  EXPECT_EQ(io.existsAsked, (std::vector<int>{4, 5, 6, 7}));
  EXPECT_EQ(io.opens, (std::vector<int>{0, 1, 2, 3, 0}));  // 4 to 7 never opened
  EXPECT_TRUE(log.Contains("GetDiskinfoNt drive 5 left out: the disk list holds four disks\r\n"));
  EXPECT_TRUE(log.Contains("GetDiskinfoNt drive 7 left out: the disk list holds four disks\r\n"));

  io.drives.erase(0);
  io.existsAsked.clear();
  auto fewer = Make();
  EXPECT_EQ(fewer->Table().count, 4u);  // 1, 2, 3, 5
  EXPECT_EQ(io.existsAsked, (std::vector<int>{6, 7}));
  EXPECT_EQ(fewer->DrivesLeftOut(), std::vector<int>{7});

  // With room to spare nothing is asked.
  io.drives.erase(7);
  io.drives.erase(5);
  io.existsAsked.clear();
  auto three = Make();
  EXPECT_TRUE(three->DrivesLeftOut().empty());
  EXPECT_TRUE(io.existsAsked.empty());
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

TEST(ScanLogFile, AHeldLogWritesNothingUntilReleased) {
  MemoryFileSystem files;
  ScanLog log(files, "Scan.log", /*held=*/true);
  log.Write("probe");
  EXPECT_FALSE(files.Exists("Scan.log"));
  log.Release();
  log.Write("run");
  EXPECT_EQ(files.Text("Scan.log"), "probe\r\nrun\r\n");
  EXPECT_EQ(files.Writes().size(), 1u);  // made once, not emptied again
}

TEST(ScanLogConcurrent, EntriesFromTwoThreadsStayWhole) {
  MemoryFileSystem files;
  {
    ScanLog log(files, "concurrent.log");
    auto writer = [&log](const char* text) {
      for (int i = 0; i < 2000; ++i) log.Write(text);
    };
    std::thread a(writer, "ReadWriteSectorNt, dwBytes=0, ReadFile failed\r\n");
    std::thread b(writer, "GetSize = 0,17");
    a.join();
    b.join();
  }
  const std::string text = files.Text("concurrent.log");
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
