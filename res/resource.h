// Resource and control IDs of the scan window. Plain #defines so that both the
// resource compiler and C++ can read this file; it includes nothing.
#ifndef MORVEK_RES_RESOURCE_H
#define MORVEK_RES_RESOURCE_H

#define IDI_MAINFRAME 128    // program icon
#define IDD_SCAN_DIALOG 129  // the scan window's template

// Skin bitmaps: 24-bit, bottom-up, uncompressed.
#define IDB_BACKGROUND 131  // 800 x 583, the client area
#define IDB_START 132       // 94 x 28
#define IDB_START_HOVER 133
#define IDB_START_DOWN 134  // pressed looks, not used by the default layout
#define IDB_EXIT 136
#define IDB_EXIT_HOVER 137
#define IDB_EXIT_DOWN 138
#define IDB_STOP 143
#define IDB_STOP_HOVER 144
#define IDB_STOP_DOWN 145
#define IDB_BANNER 157  // 800 x 100, normal and hover look of the banner button

// Controls of IDD_SCAN_DIALOG.
#define IDC_START 1000
#define IDC_EXIT 1001
#define IDC_DISK_SIZE 1005
#define IDC_CELL_SIZE 1009
#define IDC_DISKS 1011
#define IDC_STOP 1014
#define IDC_ELAPSED 1018
#define IDC_SPEED 1020
#define IDC_REMAINING 1023
#define IDC_BAD_COUNT 1024
#define IDC_WEBSITE 1025
#define IDC_CHART_FRAME 1026
#define IDC_PERCENT 1027

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif  // MORVEK_RES_RESOURCE_H
