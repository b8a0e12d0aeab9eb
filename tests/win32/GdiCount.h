#pragma once
// Counts the GDI objects a process holds, for the tests that check that
// painting gives back everything it makes.
#include <windows.h>

// GetGuiResources(GR_GDIOBJECTS), or where that is not implemented (Wine
// answers 0) the live entries of the process's GDI handle table, which its
// PEB points to. -1 when neither can be read.
long CountGdiObjects(HANDLE process);
