#pragma once
// Drive identification on Linux: the NT-family pass runs here, with drive n
// being the n-th device path of the disk list.
#include <memory>
#include <string>
#include <vector>

#include "identify/IdentifyPorts.h"

// The port for the given device paths; path n is drive n. Devices are opened
// read-only.
std::unique_ptr<IIdentifyNtPort> MakeLinuxIdentifyPort(std::vector<std::string> devicePaths);
