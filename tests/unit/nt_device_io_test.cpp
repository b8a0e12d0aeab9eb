// The NT family's drive calls: the exact sequence of kernel32 calls behind
// each operation of the device port, against a recording stand-in.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "disk/NtDeviceIo.h"

namespace {

class RecordingNtCalls : public INtDeviceCalls {
 public:
  // What the calls answer.
  bool openFails = false;
  uint32_t openError = kErrorAccessDenied;
  bool readOnlyOpenWorks = true;
  bool geometryWorks = true;
  uint32_t geometryError = kErrorNotSupported;
  unsigned char geometry[24] = {};
  bool lengthWorks = true;
  uint64_t length = 0;
  int64_t fileSize = 0;
  bool readWorks = true;
  bool seekFails = false;
  uint32_t readError = 23;  // ERROR_CRC
  uint32_t bytesReported = 0;

  std::vector<std::string> calls;

  DeviceHandle CreateFileA(const std::string& name, uint32_t access, uint32_t share, uint32_t flags) override {
    calls.push_back("CreateFileA " + name + " " + Hex(access) + " " + Hex(share) + " " + Hex(flags));
    const bool readOnly = access == kGenericRead;
    if (openFails && !(readOnly && readOnlyOpenWorks)) {
      m_lastError = openError;
      return kInvalidDevice;
    }
    return 7;
  }
  uint32_t GetLastError() override { return m_lastError; }
  bool DeviceIoControl(DeviceHandle h, uint32_t code, void* out, uint32_t outBytes, uint32_t& returned) override {
    calls.push_back("DeviceIoControl " + std::to_string(h) + " " + Hex(code) + " " + std::to_string(outBytes));
    if (code == kIoctlGetDriveGeometry) {
      if (!geometryWorks) {
        m_lastError = geometryError;
        return false;
      }
      std::memcpy(out, geometry, sizeof geometry);
      returned = sizeof geometry;
      return true;
    }
    if (code == kIoctlGetLengthInfo) {
      if (!lengthWorks) {
        m_lastError = kErrorNotSupported;
        return false;
      }
      std::memcpy(out, &length, 8);
      returned = 8;
      return true;
    }
    return true;
  }
  bool GetFileSizeEx(DeviceHandle h, int64_t& size) override {
    calls.push_back("GetFileSizeEx " + std::to_string(h));
    size = fileSize;
    return fileSize > 0;
  }
  bool FlushFileBuffers(DeviceHandle h) override {
    calls.push_back("FlushFileBuffers " + std::to_string(h));
    return true;
  }
  uint32_t SetFilePointer(DeviceHandle h, int32_t low, int32_t& high) override {
    calls.push_back("SetFilePointer " + std::to_string(h) + " " + Hex(static_cast<uint32_t>(low)) + " " +
                    Hex(static_cast<uint32_t>(high)));
    if (seekFails) {
      m_lastError = 87;  // ERROR_INVALID_PARAMETER
      return kInvalidSetFilePointer;
    }
    m_lastError = 0;
    return static_cast<uint32_t>(low);
  }
  bool ReadFile(DeviceHandle h, void*, uint32_t bytes, uint32_t& read) override {
    calls.push_back("ReadFile " + std::to_string(h) + " " + std::to_string(bytes));
    read = readWorks ? bytes : bytesReported;
    if (!readWorks) m_lastError = readError;
    return readWorks;
  }
  bool CloseHandle(DeviceHandle h) override {
    calls.push_back("CloseHandle " + std::to_string(h));
    return true;
  }
  bool QueryDosDeviceA(const std::string& name) override {
    calls.push_back("QueryDosDeviceA " + name);
    return name == "PhysicalDrive5";
  }

  static std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
  }

 private:
  uint32_t m_lastError = 0;
};

// DISK_GEOMETRY as the driver hands it over, little-endian.
void PutGeometry(unsigned char* out, uint64_t cylinders, uint32_t media, uint32_t tracks, uint32_t sectors,
                 uint32_t bytes) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(cylinders >> (8 * i));
  const uint32_t rest[4] = {media, tracks, sectors, bytes};
  for (int f = 0; f < 4; ++f)
    for (int i = 0; i < 4; ++i) out[8 + 4 * f + i] = static_cast<unsigned char>(rest[f] >> (8 * i));
}

TEST(NtDeviceIo, OpensThePhysicalDriveForReadAndWriteUnbuffered) {
  RecordingNtCalls calls;
  NtDeviceIo io(calls);
  EXPECT_EQ(io.OpenDrive(3), 7);
  EXPECT_EQ(calls.calls, std::vector<std::string>{"CreateFileA \\\\.\\PHYSICALDRIVE3 C0000000 00000003 A0000000"});
}

TEST(NtDeviceIo, AWriteProtectedDriveIsOpenedForReadingAlone) {
  RecordingNtCalls calls;
  calls.openFails = true;
  NtDeviceIo io(calls);
  EXPECT_EQ(io.OpenDrive(0), 7);
  EXPECT_EQ(calls.calls, (std::vector<std::string>{"CreateFileA \\\\.\\PHYSICALDRIVE0 C0000000 00000003 A0000000",
                                                   "CreateFileA \\\\.\\PHYSICALDRIVE0 80000000 00000003 A0000000"}));
  // Any other refusal is final: there is no such drive.
  calls.calls.clear();
  calls.openError = 2;  // ERROR_FILE_NOT_FOUND
  EXPECT_EQ(io.OpenDrive(1), kInvalidDevice);
  EXPECT_EQ(calls.calls.size(), 1u);
}

TEST(NtDeviceIo, AReadIsFlushLockSeekReadUnlock) {
  RecordingNtCalls calls;
  NtDeviceIo io(calls);
  unsigned char buffer[512];
  // Sector 0x00800001: byte offset 4 GiB + 512, low half 512, high half 1.
  const ReadResult r = io.ReadAt(7, uint64_t{0x00800001} * 512, buffer, 65536);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, 65536u);
  EXPECT_EQ(calls.calls, (std::vector<std::string>{"FlushFileBuffers 7", "DeviceIoControl 7 00090018 0",
                                                   "SetFilePointer 7 00000200 00000001", "ReadFile 7 65536",
                                                   "DeviceIoControl 7 0009001C 0"}));
  calls.calls.clear();
  io.ReadAt(7, uint64_t{0xFFFFFF80} * 512, buffer, 512);
  EXPECT_EQ(calls.calls.at(2), "SetFilePointer 7 FFFF0000 000001FF");
}

TEST(NtDeviceIo, AFailedReadIsNotUnlockedAndSaysWhatKindOfFailureItWas) {
  RecordingNtCalls calls;
  calls.readWorks = false;
  calls.bytesReported = 4096;
  NtDeviceIo io(calls);
  unsigned char buffer[512];
  ReadResult r = io.ReadAt(7, 0, buffer, 65536);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.bytes, 4096u);  // what the read reported
  EXPECT_EQ(r.error, ReadError::kMedia);
  EXPECT_EQ(calls.calls.back(), "ReadFile 7 65536");

  for (uint32_t gone : {kErrorDeviceNotConnected, kErrorNoSuchDevice, kErrorNotReady}) {
    calls.readError = gone;
    r = io.ReadAt(7, 0, buffer, 65536);
    EXPECT_EQ(r.error, ReadError::kGone) << gone;
  }
}

TEST(NtDeviceIo, AFailedSeekIsAFailedReadWithoutReading) {
  RecordingNtCalls calls;
  calls.seekFails = true;
  NtDeviceIo io(calls);
  unsigned char buffer[512];
  const ReadResult r = io.ReadAt(7, 512, buffer, 512);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.bytes, 0u);
  EXPECT_EQ(calls.calls.back(), "SetFilePointer 7 00000200 00000000");
}

TEST(NtDeviceIo, ADriveIsLookedForByItsDosNameWithoutOpeningIt) {
  RecordingNtCalls calls;
  NtDeviceIo io(calls);
  EXPECT_TRUE(io.DriveExists(5));
  EXPECT_FALSE(io.DriveExists(6));
  EXPECT_EQ(calls.calls,
            (std::vector<std::string>{"QueryDosDeviceA PhysicalDrive5", "QueryDosDeviceA PhysicalDrive6"}));
}

TEST(NtDeviceIo, GeometryComesFromTheDriverOrFromTheSize) {
  RecordingNtCalls calls;
  PutGeometry(calls.geometry, 0x100000005ull, 12, 255, 63, 512);
  NtDeviceIo io(calls);
  DiskGeometry g;
  ASSERT_TRUE(io.GetGeometry(7, g));
  EXPECT_EQ(g.cylinders, 0x100000005ll);
  EXPECT_EQ(g.mediaType, 12);
  EXPECT_EQ(g.tracksPerCylinder, 255u);
  EXPECT_EQ(g.sectorsPerTrack, 63u);
  EXPECT_EQ(g.bytesPerSector, 512u);
  EXPECT_EQ(calls.calls, std::vector<std::string>{"DeviceIoControl 7 00070000 24"});

  // A driver that does not know the request (Wine's mapped drives answer
  // ERROR_NOT_SUPPORTED, others ERROR_INVALID_FUNCTION): derived from the
  // size, as Windows reports a fixed disk.
  calls.geometryWorks = false;
  calls.fileSize = int64_t{4865} * 16065 * 512 + 12345;
  for (uint32_t unknown : {kErrorNotSupported, kErrorInvalidFunction}) {
    calls.geometryError = unknown;
    DiskGeometry derived;
    ASSERT_TRUE(io.GetGeometry(7, derived)) << unknown;
    EXPECT_EQ(derived.cylinders, 4865);
    EXPECT_EQ(derived.tracksPerCylinder, 255u);
    EXPECT_EQ(derived.sectorsPerTrack, 63u);
    EXPECT_EQ(derived.mediaType, 12);
  }
  // Any other failure stays one, without asking for the size.
  calls.geometryError = kErrorNotReady;
  calls.calls.clear();
  EXPECT_FALSE(io.GetGeometry(7, g));
  EXPECT_EQ(calls.calls.size(), 1u);
}

TEST(NtDeviceIo, TheSizeIsTheLengthTheDriverGivesOrTheFileSize) {
  RecordingNtCalls calls;
  calls.length = uint64_t{16} << 40;
  NtDeviceIo io(calls);
  uint64_t bytes = 0;
  ASSERT_TRUE(io.GetSize(7, bytes));
  EXPECT_EQ(bytes, uint64_t{16} << 40);
  calls.lengthWorks = false;
  calls.fileSize = 1000 * 512;
  ASSERT_TRUE(io.GetSize(7, bytes));
  EXPECT_EQ(bytes, 1000u * 512);
  calls.fileSize = 0;
  EXPECT_FALSE(io.GetSize(7, bytes));
}

}  // namespace
