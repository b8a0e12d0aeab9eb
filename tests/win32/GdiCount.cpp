#include "tests/win32/GdiCount.h"

#include <winternl.h>

#include <vector>

long CountGdiObjects(HANDLE process) {
  const DWORD viaApi = ::GetGuiResources(process, GR_GDIOBJECTS);
  if (viaApi != 0) return static_cast<long>(viaApi);

  using QueryFn = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  if (!query) return -1;
  PROCESS_BASIC_INFORMATION info{};
  if (query(process, ProcessBasicInformation, &info, sizeof info, nullptr) != 0) return -1;
  constexpr size_t kGdiTableOffset = sizeof(void*) == 8 ? 0xF8 : 0x94;  // PEB.GdiSharedHandleTable
  UINT_PTR table = 0;
  SIZE_T got = 0;
  if (!::ReadProcessMemory(process, reinterpret_cast<const char*>(info.PebBaseAddress) + kGdiTableOffset, &table,
                           sizeof table, &got) ||
      table == 0)
    return -1;
  // 0x10000 entries of 24 bytes: object (8), owner (4), unique with the type
  // in its low byte (4), user pointer (8). A free entry has type 0.
  constexpr size_t kEntries = 0x10000;
  constexpr size_t kEntrySize = 24;
  std::vector<unsigned char> entries(kEntries * kEntrySize);
  if (!::ReadProcessMemory(process, reinterpret_cast<const void*>(table), entries.data(), entries.size(), &got) ||
      got != entries.size())
    return -1;
  long live = 0;
  for (size_t i = 0; i < kEntries; ++i)
    if (entries[i * kEntrySize + 12] != 0) ++live;
  return live;
}
