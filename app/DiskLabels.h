#pragma once
// The size texts the scan window shows for a disk of the table.
#include <cstdint>
#include <string>

// Label 1005: "%u G" from 1 GB up, else "%u M" (K = total sectors / 2).
std::string DiskSizeText(uint64_t totalSectors);

// Label 1009: the size of one 2500th of the disk, "%u M" from 1 MB up, else "%u K".
std::string CellSizeText(uint64_t totalSectors);
