#pragma once
// Drive identification: once, at construction, asks the machine's IDE/ATA
// drives for their identify data and keeps each drive's model text. Afterwards
// the object is a read-only table the scan window labels its disks with.
#include <array>
#include <cstddef>
#include <string>

#include "identify/IdentifyPorts.h"
#include "platform/SystemPort.h"

constexpr std::size_t kModelEntries = 4;

class CDriveIdentifier {
 public:
  // Runs the NT-family pass or the Windows 9x pass, as the version record
  // says, through the port of that family; a null port, a failed version
  // query or any other platform runs no pass. The ports are used only during
  // construction.
  CDriveIdentifier(ISystemPort& system, IIdentifyNtPort* ntPort, IIdentify9xPort* w9xPort);
  // As above; a null `system` is a system without Windows versions, whose
  // drives answer identify requests the way the NT family's do (through
  // `ntPort`).
  CDriveIdentifier(ISystemPort* system, IIdentifyNtPort* ntPort, IIdentify9xPort* w9xPort);

  CDriveIdentifier(const CDriveIdentifier&) = delete;
  CDriveIdentifier& operator=(const CDriveIdentifier&) = delete;

  // Entry i is the model text of drive position i, or empty.
  std::array<std::string, kModelEntries> strModol;

  // Entry i, or an empty text for a position the table has no entry for.
  const std::string& GetModel(int i) const;

 private:
  void RunNtPass(IIdentifyNtPort& port);
  void Run9xPass(ISystemPort& system, IIdentify9xPort& port);
};

// The serial number of drive n, from identify data asked for as the NT-family
// pass asks for it, for any drive number (the model table's four positions
// do not limit it). Empty when the drive does not open, does not answer or
// gives none.
std::string ReadDriveSerial(IIdentifyNtPort& port, int n);
