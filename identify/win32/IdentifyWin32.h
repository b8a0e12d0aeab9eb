#pragma once
// Drive identification through the Win32 API: the SMART interface of the NT
// disk drivers and the IDEQUERY.VXD driver of Windows 9x.
#include <memory>
#include <string>

#include "identify/IdentifyPorts.h"

// Drives "\\.\PhysicalDrive0" to "\\.\PhysicalDrive3".
std::unique_ptr<IIdentifyNtPort> MakeWin32IdentifyNtPort();
// The same operations on devices named `devicePrefix` followed by the drive
// number (for tests on plain files).
std::unique_ptr<IIdentifyNtPort> MakeWin32IdentifyNtPort(std::string devicePrefix);

std::unique_ptr<IIdentify9xPort> MakeWin32Identify9xPort();
