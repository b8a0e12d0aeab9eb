#pragma once
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "disk/DeviceIo.h"

class SequentialReadAhead;

// Physical drive n is the n-th path of the drive list: a block device or a
// plain image file. Drives are opened read-only, unbuffered where the file
// system allows it; nothing here can write to a disk. A read is one pread,
// except within a stream (ExpectSequential) at a queue depth above 1: there
// the read-ahead engine keeps that many reads in flight and a read of the
// stream's next block takes its outcome from there.
class LinuxDeviceIo : public IDeviceIo {
 public:
  // Reads in flight within a stream. What the benchmark on a loop device in
  // direct-I/O mode showed best here: see bench/run-bench.sh.
  static constexpr uint32_t kDefaultQueueDepth = 8;
  static constexpr uint32_t kMaxQueueDepth = 64;
  // The read-ahead buffers of a stream stay within this: deeper queues make
  // smaller reads.
  static constexpr uint32_t kStreamBufferBytes = 8u << 20;
  static constexpr uint32_t kMaxReadBytes = 512u << 10;

  // The two system calls a drive's data goes through; tests put scripted
  // ones in their place.
  struct Syscalls {
    int (*open)(const char* path, int flags);
    ssize_t (*pread)(int fd, void* buffer, size_t bytes, off_t offset);
  };

  explicit LinuxDeviceIo(std::vector<std::string> drives) : LinuxDeviceIo(std::move(drives), {nullptr, nullptr}) {}
  LinuxDeviceIo(std::vector<std::string> drives, Syscalls syscalls);
  ~LinuxDeviceIo() override;

  DeviceHandle OpenDrive(int number) override;
  bool DriveExists(int number) override;
  uint32_t SectorSize(DeviceHandle device) override;
  bool GetGeometry(DeviceHandle device, DiskGeometry& out) override;
  bool GetSize(DeviceHandle device, uint64_t& bytes) override;
  ReadResult ReadAt(DeviceHandle device, uint64_t offset, void* buffer, uint32_t bytes) override;
  void Close(DeviceHandle device) override;
  void ExpectSequential(DeviceHandle device, uint64_t fromByte, uint64_t toByte, uint32_t blockBytes,
                        StreamData data) override;
  void EndSequential(DeviceHandle device) override;

  // 1 (the default here) reads a stream one block at a time with pread, as
  // if there were none; more keeps up to that many reads in flight (at most
  // kMaxQueueDepth). Where io_uring cannot be used, streams are read one
  // block at a time and ReadAheadProblem says why.
  void SetQueueDepth(uint32_t depth);
  uint32_t QueueDepth() const;
  // Why streams are read one block at a time although a deeper queue was
  // asked for; empty when they are not (or were never asked to be). For the
  // front end to say once.
  std::string ReadAheadProblem() const;
  // Streams being read ahead now, on all devices (for tests).
  size_t StreamsReadAhead() const;
  // The size of each read the engine makes at a queue depth.
  static uint32_t ReadBytesAtDepth(uint32_t depth);

  const std::vector<std::string>& Drives() const { return m_drives; }
  // Why OpenDrive failed for a drive number, for the front end's messages;
  // empty when it never failed.
  std::string OpenError(int number) const;

 private:
  struct OpenFile {
    std::string path;
    uint64_t size = 0;
    uint32_t sectorSize = 512;
    bool removable = false;
  };
  // A device's stream being read ahead: the engine and what its reads are for.
  struct Stream {
    std::unique_ptr<SequentialReadAhead> engine;
    bool discard = false;  // StreamData::kDiscarded
  };
  bool Find(DeviceHandle device, OpenFile& out) const;
  ssize_t PreadRetrying(int fd, void* buffer, size_t bytes, uint64_t offset) const;
  ReadResult PreadAt(int fd, uint64_t size, uint64_t offset, void* buffer, uint32_t bytes) const;

  std::vector<std::string> m_drives;
  Syscalls m_sys;
  mutable std::mutex m_lock;  // opens happen on the window thread, reads on the worker
  std::map<int, OpenFile> m_open;
  std::map<int, std::string> m_openErrors;
  // Used by the reading thread only, between ExpectSequential and
  // EndSequential (or Close); the map itself is guarded by m_lock.
  std::map<int, Stream> m_streams;
  uint32_t m_queueDepth = 1;
  std::string m_readAheadProblem;
};
