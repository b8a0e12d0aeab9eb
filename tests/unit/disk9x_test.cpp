// The disk object on Windows 9x: finding and loading the disk DLL, the table
// it fills and the transfers it makes, against a scripted loader and DLL.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "disk/CDisk.h"
#include "fakes/FakeMachine.h"
#include "fakes/FakeModules.h"

namespace {

const std::string kExeDir = "C:\\Program Files\\Morvek\\";
const std::string kBesideExe = kExeDir + "Halvex32.dll";

class Disk9xTest : public testing::Test {
 protected:
  void SetUp() override { machine.system.version = {kVerPlatformWindows, 4, 10}; }  // Windows 98
  std::unique_ptr<CDisk> Make() { return std::make_unique<CDisk>(machine.Disk(&modules)); }
  // The DLL lies only beside the executable.
  void BesideExe(bool withGetDiskInfo = true, bool withReadWriteSector = true) {
    modules.files[kBesideExe] = dll.Exports(withGetDiskInfo, withReadWriteSector);
  }

  FakeMachine machine;
  FakeDeviceIo& io = machine.io;  // never touched on this branch
  FakeModulePort modules;
  ScriptedDiskDll dll;
};

TEST_F(Disk9xTest, TheSystemSearchOrderIsTriedFirst) {
  modules.files["Halvex32.dll"] = dll.Exports();
  modules.files[kBesideExe] = dll.Exports();
  dll.count = 1;
  auto disk = Make();
  EXPECT_FALSE(disk->IsNt());
  EXPECT_EQ(modules.loads, std::vector<std::string>{"Halvex32.dll"});
  EXPECT_TRUE(disk->HasDiskDll());
}

TEST_F(Disk9xTest, FoundOnlyBesideTheExecutable) {
  BesideExe();
  dll.count = 1;
  LogCapture log(machine.files);
  auto disk = Make();
  EXPECT_EQ(modules.loads, (std::vector<std::string>{"Halvex32.dll", kBesideExe}));
  EXPECT_TRUE(modules.directoryChanges.empty());
  EXPECT_TRUE(disk->HasDiskDll());
  EXPECT_EQ(dll.infoCalls, 1);
  EXPECT_EQ(disk->Table().count, 1u);
  EXPECT_EQ(log.Text(), "");
  EXPECT_TRUE(io.opens.empty());
}

TEST_F(Disk9xTest, NowhereLogsTheLastPathAndRestoresTheCurrentDirectory) {
  LogCapture log(machine.files);
  auto disk = Make();
  // With no "locate" module the third attempt repeats the executable's
  // directory, made current for the load.
  EXPECT_EQ(modules.loads, (std::vector<std::string>{"Halvex32.dll", kBesideExe, kBesideExe}));
  EXPECT_EQ(modules.directoryAtLoad[2], kExeDir);
  EXPECT_EQ(modules.directoryChanges, (std::vector<std::string>{kExeDir, "C:\\Work"}));
  EXPECT_EQ(modules.currentDirectory, "C:\\Work");
  EXPECT_FALSE(disk->HasDiskDll());
  EXPECT_EQ(disk->Table().count, 0u);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"load halvex32.dll error. dllname=" + kBesideExe, "",
                                                   "SetActiveDisk failed, whichdisk", ""}));

  // Without the DLL every read fails.
  std::vector<unsigned char> buffer(512);
  EXPECT_EQ(disk->ReadSectors(0, 1, buffer.data()), 0u);
  EXPECT_TRUE(log.Contains("CDisk::ReadWriteSector ReadWriteSector9x some bad sectors\r\n\r\n"));
}

TEST_F(Disk9xTest, FoundBesideTheLocateModuleWithItsDirectoryCurrent) {
  modules.loadedByName["locate"] = "D:\\Tools\\locate.dll";
  modules.files["D:\\Tools\\Halvex32.dll"] = dll.Exports();
  dll.count = 2;
  LogCapture log(machine.files);
  auto disk = Make();
  EXPECT_EQ(modules.loads, (std::vector<std::string>{"Halvex32.dll", kBesideExe, "D:\\Tools\\Halvex32.dll"}));
  EXPECT_EQ(modules.directoryAtLoad[1], "C:\\Work");
  EXPECT_EQ(modules.directoryAtLoad[2], "D:\\Tools\\");
  EXPECT_EQ(modules.currentDirectory, "C:\\Work");
  EXPECT_TRUE(disk->HasDiskDll());
  EXPECT_EQ(disk->Table().count, 2u);
  EXPECT_EQ(log.Text(), "");
}

TEST_F(Disk9xTest, AnUnreadableCurrentDirectoryIsNotSwitched) {
  // It could not be put back: the load goes on from where the process is.
  modules.failCurrentDirectory = true;
  modules.loadedByName["locate"] = "D:\\Tools\\locate.dll";
  modules.files["D:\\Tools\\Halvex32.dll"] = dll.Exports();
  auto disk = Make();
  EXPECT_TRUE(disk->HasDiskDll());
  EXPECT_TRUE(modules.directoryChanges.empty());
}

TEST_F(Disk9xTest, AnExecutablePathWithoutBackslashGivesTheBareName) {
  modules.executablePath = "MorvekScan.exe";
  LogCapture log(machine.files);
  auto disk = Make();
  EXPECT_EQ(modules.loads, (std::vector<std::string>{"Halvex32.dll", "Halvex32.dll", "Halvex32.dll"}));
  EXPECT_EQ(modules.currentDirectory, "C:\\Work");
  EXPECT_TRUE(log.Contains("load halvex32.dll error. dllname=Halvex32.dll\r\n"));
}

TEST_F(Disk9xTest, WithoutALoaderTheDllIsNotFound) {
  LogCapture log(machine.files);
  CDisk disk(machine.Disk());
  EXPECT_FALSE(disk.HasDiskDll());
  EXPECT_EQ(disk.Table().count, 0u);
  EXPECT_TRUE(log.Contains("load halvex32.dll error. dllname=Halvex32.dll\r\n"));
}

TEST_F(Disk9xTest, MissingGetDiskInfoKeepsTheModuleUntilDestruction) {
  BesideExe(/*withGetDiskInfo=*/false);
  dll.count = 2;
  LogCapture log(machine.files);
  auto disk = Make();
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"GetProcAddress from halvex32.dll error.", "",
                                                   "SetActiveDisk failed, whichdisk", ""}));
  EXPECT_EQ(disk->Table().count, 0u);
  EXPECT_EQ(disk->DriveCodeOfSlot(0), 0);
  EXPECT_EQ(modules.LoadedCount(), 1u);
  EXPECT_TRUE(modules.unloads.empty());
  EXPECT_EQ(disk->GetDiskinfo9x(), 0);
  EXPECT_EQ(dll.infoCalls, 0);

  disk.reset();
  EXPECT_EQ(modules.LoadedCount(), 0u);
  EXPECT_EQ(modules.unloads.size(), 1u);
}

TEST_F(Disk9xTest, MissingReadWriteSectorFailsEveryRead) {
  BesideExe(/*withGetDiskInfo=*/true, /*withReadWriteSector=*/false);
  dll.count = 1;
  auto disk = Make();
  EXPECT_EQ(disk->Table().count, 1u);  // not noticed while loading
  LogCapture log(machine.files);
  std::vector<unsigned char> buffer(128 * 512);
  EXPECT_EQ(disk->ReadSectors(0, 128, buffer.data()), 0u);
  EXPECT_EQ(disk->ReadSectors(128, 128, buffer.data()), 0u);
  EXPECT_EQ(log.Text(),
            "CDisk::ReadWriteSector ReadWriteSector9x some bad sectors\r\n\r\n"
            "CDisk::ReadWriteSector ReadWriteSector9x some bad sectors\r\n\r\n");
  EXPECT_EQ(modules.resolved, (std::vector<std::string>{"GetDiskInfo", "ReadWriteSector"}));
}

TEST_F(Disk9xTest, GetDiskInfoAnsweringZeroLeavesTheListEmpty) {
  // Drives the DLL did not hand over would fail every read: the list holds
  // none of them.
  BesideExe();
  dll.count = 2;
  dll.infoResult = 0;
  LogCapture log(machine.files);
  auto disk = Make();
  EXPECT_EQ(disk->Table().count, 0u);
  EXPECT_EQ(disk->DriveCodeOfSlot(0), 0);
  EXPECT_EQ(disk->TotalSectors(0), 0u);
  EXPECT_EQ(disk->SetActiveDisk(0x80), 0);
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"GetDiskinfo9x GetDiskInfo failed, count=2: no disks",
                                      "SetActiveDisk failed, whichdisk", "", "SetActiveDisk failed, whichdisk", ""}));
  EXPECT_TRUE(dll.transfers.empty());
}

TEST_F(Disk9xTest, TwoDisksTakeDriveCodesInOrderAndReadThroughTheDll) {
  BesideExe();
  dll.count = 2;
  auto disk = Make();
  EXPECT_EQ(disk->Table().count, 2u);
  EXPECT_EQ(disk->Table().records[1].totalSectors, 16065u);
  EXPECT_EQ(disk->DriveCodeOfSlot(0), 0x80);
  EXPECT_EQ(disk->DriveCodeOfSlot(1), 0x81);
  EXPECT_EQ(disk->DriveCodeOfSlot(2), 0);
  EXPECT_EQ(disk->ActiveDrive(), 0x80);

  EXPECT_EQ(disk->SetActiveDisk(0x81), 1);
  EXPECT_EQ(disk->ActiveDrive(), 0x81);
  EXPECT_EQ(disk->SetActiveDisk(0x81), 1);  // already active
  EXPECT_FALSE(disk->HasOpenDevice());
  EXPECT_TRUE(io.opens.empty());

  std::vector<unsigned char> buffer(300 * 512);
  EXPECT_EQ(disk->ReadSectors(1000, 300, buffer.data()), 153600u);
  ASSERT_EQ(dll.transfers.size(), 3u);
  const uint32_t starts[] = {1000, 1128, 1256};
  const uint32_t counts[] = {128, 128, 44};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(dll.transfers[i].command, 2u);
    EXPECT_EQ(dll.transfers[i].driveCode, 0x81u);
    EXPECT_EQ(dll.transfers[i].startSector, starts[i]);
    EXPECT_EQ(dll.transfers[i].count, counts[i]);
    EXPECT_EQ(dll.transfers[i].buffer, buffer.data() + (starts[i] - 1000) * 512);
  }
  EXPECT_EQ(disk->SetActiveDisk(0x82), 0);
}

TEST_F(Disk9xTest, AStreamOfReadsGoesThroughTheDllOneTransferAtATime) {
  BesideExe();
  dll.count = 1;
  auto disk = Make();
  std::vector<unsigned char> buffer(128 * 512);
  disk->ExpectSequentialReads(0, 16065, StreamData::kDiscarded);
  EXPECT_EQ(disk->ReadSectors(0, 128, buffer.data()), 65536u);
  EXPECT_EQ(disk->ReadSectors(128, 128, buffer.data()), 65536u);
  disk->EndSequentialReads();
  ASSERT_EQ(dll.transfers.size(), 2u);
  EXPECT_EQ(dll.transfers[1].startSector, 128u);
  EXPECT_EQ(dll.transfers[1].buffer, buffer.data());
  EXPECT_TRUE(io.streams.empty());
  EXPECT_EQ(disk->LastReadReadyNs(), 0u);  // the DLL does not tell
}

TEST_F(Disk9xTest, ACountAboveTheTableIsClampedToFour) {
  BesideExe();
  dll.count = 9;
  LogCapture log(machine.files);
  auto disk = Make();
  EXPECT_EQ(disk->Table().count, 4u);
  EXPECT_EQ(disk->DriveCodeOfSlot(3), 0x83);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"GetDiskinfo9x count=9 clamped to 4", ""}));
  EXPECT_EQ(disk->SetActiveDisk(0x84), 0);
  EXPECT_EQ(disk->RecordOfSlot(4), nullptr);

  // A table the DLL says it did not fill is not read at all.
  dll.count = 0xFFFFFFFF;
  dll.infoResult = 0;
  auto again = Make();
  EXPECT_EQ(again->Table().count, 0u);
  EXPECT_TRUE(log.Contains("GetDiskinfo9x GetDiskInfo failed, count=4294967295: no disks"));
}

TEST_F(Disk9xTest, AFailedTransferIsAFailedRead) {
  BesideExe();
  dll.count = 1;
  dll.failFrom = 1200;
  dll.failTo = 1200;
  auto disk = Make();
  LogCapture log(machine.files);
  std::vector<unsigned char> buffer(300 * 512);
  EXPECT_EQ(disk->ReadSectors(1000, 300, buffer.data()), 0u);
  EXPECT_EQ(dll.transfers.size(), 2u);  // the third chunk is not attempted
  EXPECT_EQ(log.Text(), "CDisk::ReadWriteSector ReadWriteSector9x some bad sectors\r\n\r\n");
  EXPECT_EQ(disk->ReadWriteSector9x(2, 0x80, 1200, 1, buffer.data()), 0u);
  EXPECT_EQ(disk->ReadWriteSector9x(2, 0x80, 1201, 1, buffer.data()), 512u);
  EXPECT_EQ(disk->ReadSectors(1300, 128, buffer.data()), 65536u);
}

TEST_F(Disk9xTest, TheDllIsUnloadedOnceAtDestruction) {
  BesideExe();
  dll.count = 1;
  auto disk = Make();
  ASSERT_EQ(modules.LoadedCount(), 1u);
  std::vector<unsigned char> buffer(512);
  disk->ReadSectors(0, 1, buffer.data());
  EXPECT_TRUE(modules.unloads.empty());
  disk.reset();
  EXPECT_EQ(modules.unloads.size(), 1u);
  EXPECT_EQ(modules.LoadedCount(), 0u);
}

TEST_F(Disk9xTest, TheNtFamilyNeverLoadsTheDll) {
  machine.system.version = {kVerPlatformNt, 5, 1};
  BesideExe();
  auto disk = Make();
  EXPECT_TRUE(disk->IsNt());
  EXPECT_TRUE(modules.loads.empty());
  disk.reset();
  EXPECT_TRUE(modules.unloads.empty());
}

}  // namespace
