#include "fakes/FakeIdentifyPorts.h"

#include <algorithm>

IdentifyBlock FakeIdentifyBlockWithModel(const std::string& model, uint8_t fill) {
  IdentifyBlock block;
  block.fill(fill);
  std::string field = model.substr(0, 40);
  field.resize(40, ' ');
  for (std::size_t i = 0; i < 20; ++i) {
    block[54 + 2 * i] = static_cast<uint8_t>(field[2 * i + 1]);  // low byte: second char
    block[54 + 2 * i + 1] = static_cast<uint8_t>(field[2 * i]);  // high byte: first char
  }
  return block;
}

namespace {

void Note(FakeIdentifyJournal* journal, const std::string& entry) {
  if (journal != nullptr) journal->push_back(entry);
}

class FakeIdentifyDrive final : public IIdentifyNtDrive {
 public:
  FakeIdentifyDrive(FakeIdentifyNtPort& port, int n) : port_(port), n_(n) { ++port_.openHandles; }
  ~FakeIdentifyDrive() override {
    --port_.openHandles;
    Note(port_.journal, "close " + std::to_string(n_));
  }

  uint8_t QueryIdeDeviceMap() override {
    port_.versionQueries.push_back(n_);
    Note(port_.journal, "version " + std::to_string(n_));
    return port_.drives[n_].ideDeviceMap;
  }

  bool Identify(const IdentifyRequest& request, IdentifyBlock& block) override {
    port_.identifyRequests.push_back({n_, request});
    Note(port_.journal, "identify " + std::to_string(n_));
    const FakeIdentifyDriveScript& script = port_.drives[n_];
    if (!script.identifies) return false;
    block = script.block;
    return true;
  }

 private:
  FakeIdentifyNtPort& port_;
  int n_;
};

}  // namespace

std::unique_ptr<IIdentifyNtDrive> FakeIdentifyNtPort::OpenDrive(int n) {
  openAttempts.push_back(n);
  Note(journal, "open " + std::to_string(n));
  auto it = drives.find(n);
  if (it == drives.end() || !it->second.opens) return nullptr;
  return std::make_unique<FakeIdentifyDrive>(*this, n);
}

IdentifyPriority FakeIdentify9xPort::GetPriority() { return current; }

void FakeIdentify9xPort::SetPriority(IdentifyPriority priority) {
  priorities.push_back(priority);
  current = priority;
  Note(journal, priority == kRealtimePriority ? "priority realtime"
                : priority == kNormalPriority ? "priority normal"
                                              : "priority " + std::to_string(priority));
}

bool FakeIdentify9xPort::ReadIdeQueryRecord(IdeQueryRecord& record) {
  ++reads;
  Note(journal, "vxd");
  recordWasZeroed = std::all_of(record.begin(), record.end(), [](uint8_t b) { return b == 0; });
  if (!driverPresent) return false;
  record = reply;
  return true;
}

void FakeIdentify9xPort::AddDrive(int p, const IdentifyBlock& block) {
  reply[static_cast<std::size_t>(p / 2)] = 1;
  reply[4 + static_cast<std::size_t>(p)] = 1;
  std::copy(block.begin(), block.end(), reply.begin() + 12 + 512 * p);
}

bool FakeIdentifySystem::QueryVersion(uint32_t recordSize, OsVersionRecord& out) {
  versionSizes.push_back(recordSize);
  if (!versionOk) return false;
  out = version;
  return true;
}

void FakeIdentifySystem::ShowMessageBox(const std::string& text, const std::string& caption, uint32_t style) {
  messages.push_back({text, caption, style});
  Note(journal, "box");
}
