#include <gtest/gtest.h>

#include "fakes/FakeSystem.h"
#include "platform/PlatformProbe.h"
#include "platform/SystemDiskLocator.h"

namespace {

class ProbeTest : public testing::Test {
 protected:
  std::pair<bool, bool> Probe(uint32_t platform, uint32_t major, uint32_t minor) {
    system.version = {platform, major, minor};
    PlatformProbe p(system);
    p.Probe();
    return {p.IsNtFamily(), p.IsWin2000OrLater()};
  }
  FakeSystemPort system;
};

TEST_F(ProbeTest, VersionTableRows) {
  using R = std::pair<bool, bool>;
  EXPECT_EQ(Probe(2, 10, 0), R(true, true));  // anything of major 6 and up
  EXPECT_EQ(Probe(2, 6, 1), R(true, true));
  EXPECT_EQ(Probe(2, 5, 0), R(true, true));  // 2000
  EXPECT_EQ(Probe(2, 5, 1), R(true, true));  // XP
  EXPECT_EQ(Probe(2, 5, 2), R(true, true));  // Server 2003
  EXPECT_EQ(Probe(2, 5, 3), R(false, false));
  EXPECT_EQ(Probe(2, 4, 0), R(true, false));  // NT 4
  EXPECT_EQ(Probe(2, 3, 51), R(true, false));
  EXPECT_EQ(Probe(1, 4, 10), R(false, false));  // 98
  EXPECT_EQ(Probe(1, 4, 90), R(false, false));  // ME
  EXPECT_EQ(Probe(0, 3, 11), R(false, false));  // Win32s
}

TEST_F(ProbeTest, AsksOnceAfterSuccess) {
  PlatformProbe probe(system);
  EXPECT_FALSE(probe.IsNtFamily());  // nothing asked before the first Probe
  EXPECT_TRUE(system.versionQueries.empty());
  probe.Probe();
  probe.Probe();
  probe.Probe();
  EXPECT_EQ(system.versionQueries, std::vector<uint32_t>{kOsVersionInfoExSize});
  EXPECT_TRUE(probe.IsNtFamily());
}

TEST_F(ProbeTest, ASystemWithoutWindowsVersionsTakesTheDeviceRoadWithoutAsking) {
  PlatformProbe probe = PlatformProbe::DeviceSystem();
  probe.Probe();
  EXPECT_TRUE(probe.IsNtFamily());
}

TEST_F(ProbeTest, FallsBackToThePlainRecord) {
  system.failExtendedOnly = true;
  PlatformProbe p(system);
  p.Probe();
  EXPECT_EQ(system.versionQueries, (std::vector<uint32_t>{kOsVersionInfoExSize, kOsVersionInfoSize}));
  EXPECT_TRUE(p.IsWin2000OrLater());
  EXPECT_TRUE(system.messageBoxes.empty());
}

TEST_F(ProbeTest, FailedQueryShowsTheBoxAndAsksAgainNextTime) {
  system.failVersion = true;
  PlatformProbe p(system);
  p.Probe();
  EXPECT_FALSE(p.IsNtFamily());
  EXPECT_FALSE(p.IsWin2000OrLater());
  ASSERT_EQ(system.messageBoxes.size(), 1u);
  EXPECT_EQ(system.messageBoxes[0].text, "GetVersion failed!");
  EXPECT_EQ(system.messageBoxes[0].caption, system.modulePath);
  EXPECT_EQ(system.messageBoxes[0].style, 0x00040000u);

  p.Probe();
  EXPECT_EQ(system.versionQueries.size(), 4u);
  EXPECT_EQ(system.messageBoxes.size(), 2u);

  system.failVersion = false;
  p.Probe();
  EXPECT_TRUE(p.IsNtFamily());
  p.Probe();
  EXPECT_EQ(system.versionQueries.size(), 5u);
}

class LocatorTest : public ProbeTest {
 protected:
  int Locate() {
    PlatformProbe probe(system);
    NtSystemDiskLocator locator(probe, system, links);
    return locator.LocateSystemDisk();
  }
  // Disk d with partitions 0..count-1; partition p links to "\Device\HarddiskVolume<base+p>".
  void AddDisk(int d, int count, int volumeBase) {
    for (int p = 0; p < count; ++p)
      links.Add("\\Device\\Harddisk" + std::to_string(d) + "\\Partition" + std::to_string(p),
                p == 0 ? "\\Device\\Harddisk" + std::to_string(d) + "\\DR" + std::to_string(d)
                       : "\\Device\\HarddiskVolume" + std::to_string(volumeBase + p));
  }
  FakeLinkPort links;
};

TEST_F(LocatorTest, Nt5SearchesDisksAndPartitionsInOrder) {
  system.windowsDirectory = "D:\\WINNT";
  links.Add("\\??\\D:", "\\Device\\HarddiskVolume7");
  AddDisk(0, 3, 0);  // volumes 1, 2
  AddDisk(1, 4, 5);  // volumes 6, 7, 8
  EXPECT_EQ(Locate(), 1);
  const std::vector<std::string> expected = {"\\??\\D:",
                                             "\\Device\\Harddisk0\\Partition0",
                                             "\\Device\\Harddisk0\\Partition1",
                                             "\\Device\\Harddisk0\\Partition2",
                                             "\\Device\\Harddisk0\\Partition3",  // fails: on to disk 1
                                             "\\Device\\Harddisk1\\Partition0",
                                             "\\Device\\Harddisk1\\Partition1",
                                             "\\Device\\Harddisk1\\Partition2"};
  EXPECT_EQ(links.queries, expected);
}

TEST_F(LocatorTest, Nt5ComparesTargetsWithoutRegardToCase) {
  links.Add("\\??\\C:", "\\DEVICE\\HARDDISKVOLUME3");
  AddDisk(0, 2, 0);
  AddDisk(1, 2, 2);
  EXPECT_EQ(Locate(), 1);
}

TEST_F(LocatorTest, Nt5StopsAtNineDisksAndEightPartitions) {
  links.Add("\\??\\C:", "\\Device\\HarddiskVolume99");
  for (int d = 0; d <= 9; ++d) AddDisk(d, 9, d * 10);
  links.Add("\\Device\\Harddisk9\\Partition1", "\\Device\\HarddiskVolume99");  // tenth disk: never looked at
  links.Add("\\Device\\Harddisk2\\Partition8", "\\Device\\HarddiskVolume99");  // ninth partition: likewise
  EXPECT_EQ(Locate(), 0);
  EXPECT_EQ(links.queries.size(), 1u + 9 * 8);
  EXPECT_EQ(links.queries.back(), "\\Device\\Harddisk8\\Partition7");
}

TEST_F(LocatorTest, Nt5FindsTheNinthDisk) {
  links.Add("\\??\\C:", "\\Device\\HarddiskVolume85");
  for (int d = 0; d <= 8; ++d) AddDisk(d, 8, d * 10);
  EXPECT_EQ(Locate(), 8);
}

TEST_F(LocatorTest, MissingWindowsDirectoryMeansDriveC) {
  system.failWindowsDirectory = true;
  links.Add("\\??\\C:", "\\Device\\HarddiskVolume2");
  AddDisk(0, 3, 0);
  EXPECT_EQ(Locate(), 0);
  EXPECT_EQ(links.queries.front(), "\\??\\C:");
}

TEST_F(LocatorTest, UnresolvableDriveLinkMeansDiskZero) {
  system.windowsDirectory = "E:\\WINDOWS";
  AddDisk(0, 3, 0);
  EXPECT_EQ(Locate(), 0);
  EXPECT_EQ(links.queries.size(), 1u);
}

TEST_F(LocatorTest, Nt4ReadsTheDigitOfThePartitionLink) {
  system.version = {2, 4, 0};
  links.Add("\\??\\C:", "\\Device\\Harddisk1\\Partition1");
  EXPECT_EQ(Locate(), 1);
  EXPECT_EQ(links.queries.size(), 1u);  // no search

  links.Add("\\??\\C:", "\\Device\\Harddisk12\\Partition1");
  EXPECT_EQ(Locate(), 1);  // only the one digit is read

  links.Add("\\??\\C:", "\\Device\\HarddiskVolume1");
  EXPECT_EQ(Locate(), 0);  // no digit there
}

TEST_F(LocatorTest, Windows9xNeverTouchesTheNamespace) {
  system.version = {1, 4, 10};
  links.Add("\\??\\C:", "\\Device\\Harddisk1\\Partition1");
  EXPECT_EQ(Locate(), 0);
  EXPECT_TRUE(links.queries.empty());
}

TEST_F(LocatorTest, TargetsTooLongForTheBufferFail) {
  links.Add("\\??\\C:", "\\Device\\" + std::string(130, 'x'));
  AddDisk(0, 2, 0);
  EXPECT_EQ(Locate(), 0);
  EXPECT_EQ(links.queries.size(), 1u);
}

}  // namespace
