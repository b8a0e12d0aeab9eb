#include "identify/linux/IdentifyLinux.h"

#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "identify/AtaPassThrough.h"
#include "identify/ModelText.h"

// Linux has no counterpart of the SMART version query and its IDE device map.
// The port reports every device that opens as "present, not ATAPI" (bit n of
// the map), so the pass always asks with IDENTIFY DEVICE (ECh). The device
// itself then tells whether it is a packet device: an ATAPI device aborts ECh
// and leaves the signature 14h/EBh in the cylinder registers, and only then is
// the request repeated with IDENTIFY PACKET DEVICE (A1h). That is the ATA
// standard's own way of telling the two apart and needs no guessing.
//
// Devices that do not speak ATA (loop, virtio, SCSI, USB bridges without ATA
// pass-through) reject the request and keep an empty model. An NVMe device has
// no SCSI generic interface; for it the model and serial numbers of the
// identify controller data are used, which are the same kind of fields. No other source of
// model names (sysfs, udev) is consulted.

namespace {

constexpr unsigned kSgTimeoutMs = 10000;
constexpr uint32_t kNvmeTimeoutMs = 10000;
constexpr uint8_t kNvmeAdminIdentify = 0x06;
constexpr uint32_t kNvmeCnsController = 1;
constexpr std::size_t kNvmeIdentifySize = 4096;
constexpr std::size_t kNvmeSerialOffset = 4;  // SN, bytes 4 to 23
constexpr std::size_t kNvmeModelOffset = 24;  // MN, bytes 24 to 63

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd& operator=(UniqueFd&&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

enum class AtaOutcome { Identified, PacketDevice, Refused, NoPassThrough };

class LinuxIdentifyDrive final : public IIdentifyNtDrive {
 public:
  LinuxIdentifyDrive(int n, UniqueFd fd) : n_(n), fd_(std::move(fd)) {}

  uint8_t QueryIdeDeviceMap() override { return (n_ >= 0 && n_ < 4) ? static_cast<uint8_t>(1u << n_) : 0; }

  bool Identify(const IdentifyRequest& request, IdentifyBlock& block) override {
    IdeRegisters regs = request.irDriveRegs;
    AtaOutcome outcome = SendAta(regs, block);
    if (outcome == AtaOutcome::PacketDevice && regs.bCommandReg == kAtaIdentifyDevice) {
      regs.bCommandReg = kAtaIdentifyPacketDevice;
      outcome = SendAta(regs, block);
    }
    if (outcome == AtaOutcome::Identified) return true;
    if (outcome == AtaOutcome::NoPassThrough) return IdentifyNvme(block);
    return false;
  }

 private:
  AtaOutcome SendAta(const IdeRegisters& regs, IdentifyBlock& block) {
    block.fill(0);
    AtaPassThrough16Cdb cdb = BuildIdentifyPassThrough16(regs);
    uint8_t sense[64] = {};
    sg_io_hdr_t hdr;
    std::memset(&hdr, 0, sizeof hdr);
    hdr.interface_id = 'S';
    hdr.dxfer_direction = SG_DXFER_FROM_DEV;
    hdr.cmd_len = static_cast<unsigned char>(cdb.size());
    hdr.cmdp = cdb.data();
    hdr.dxfer_len = static_cast<unsigned>(block.size());
    hdr.dxferp = block.data();
    hdr.mx_sb_len = sizeof sense;
    hdr.sbp = sense;
    hdr.timeout = kSgTimeoutMs;
    if (::ioctl(fd_.get(), SG_IO, &hdr) != 0) return AtaOutcome::NoPassThrough;
    if ((hdr.info & SG_INFO_OK_MASK) == SG_INFO_OK && hdr.resid == 0) {
      // A bridge that mangles the data is not to be believed.
      return IdentifyChecksumValid(block) ? AtaOutcome::Identified : AtaOutcome::Refused;
    }
    const auto returned = ParseAtaReturnSense(sense, hdr.sb_len_wr);
    if (returned && IsPacketDeviceAbort(*returned)) return AtaOutcome::PacketDevice;
    return AtaOutcome::Refused;
  }

  bool IdentifyNvme(IdentifyBlock& block) {
    alignas(64) uint8_t data[kNvmeIdentifySize] = {};
    nvme_admin_cmd cmd;
    std::memset(&cmd, 0, sizeof cmd);
    cmd.opcode = kNvmeAdminIdentify;
    cmd.addr = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(data));
    cmd.data_len = kNvmeIdentifySize;
    cmd.cdw10 = kNvmeCnsController;
    cmd.timeout_ms = kNvmeTimeoutMs;
    // Negative is an ioctl error, positive an NVMe status: both are failures.
    if (::ioctl(fd_.get(), NVME_IOCTL_ADMIN_CMD, &cmd) != 0) return false;
    block = IdentifyBlockFromModelField(data + kNvmeModelOffset);
    PutSerialField(block, data + kNvmeSerialOffset);
    return true;
  }

  int n_;
  UniqueFd fd_;
};

class LinuxIdentifyPort final : public IIdentifyNtPort {
 public:
  explicit LinuxIdentifyPort(std::vector<std::string> paths) : paths_(std::move(paths)) {}

  std::unique_ptr<IIdentifyNtDrive> OpenDrive(int n) override {
    if (n < 0 || static_cast<std::size_t>(n) >= paths_.size()) return nullptr;
    // Read-only: identify needs no write access, and nothing here may ever
    // write to a disk. O_NONBLOCK lets drives without a medium open.
    UniqueFd fd(::open(paths_[static_cast<std::size_t>(n)].c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return nullptr;
    return std::make_unique<LinuxIdentifyDrive>(n, std::move(fd));
  }

 private:
  std::vector<std::string> paths_;
};

}  // namespace

std::unique_ptr<IIdentifyNtPort> MakeLinuxIdentifyPort(std::vector<std::string> devicePaths) {
  return std::make_unique<LinuxIdentifyPort>(std::move(devicePaths));
}
