#pragma once
// What "physical drive n" means on Linux: the n-th path given to the program
// (block devices or plain image files) or, when none is given, the n-th whole
// disk of the machine.
#include <string>
#include <vector>

// The machine's whole disks under sysBlock ("/sys/block"), as /dev paths:
// real disks only, no loop, ram, zram, optical or mapper devices. Ordered
// sda, sdb, ..., nvme0n1 ... by name length, then name.
std::vector<std::string> WholeDisks(const std::string& sysBlock = "/sys/block");

// The drive list the program works on.
std::vector<std::string> DriveList(const std::vector<std::string>& givenPaths);

// "MAJ:MIN" of a block device path, or "" for anything else.
std::string DeviceNumberOf(const std::string& path);
