#!/usr/bin/env bash
# End-to-end test of MorvekScan.exe as it runs on Windows 98, under Wine on a
# private X server.
#
#   wine98_e2e.sh --app MorvekScan.exe --driver morvek_wine_driver.exe \
#                 --dll Halvex32.dll --prefix DIR --work DIR
#
# The prefix (its own, kept in DIR between runs) tells MorvekScan.exe that it
# runs on Windows 98 (platform 1, version 4.10), so the program takes its 9x
# road: the disks come from the disk DLL "Halvex32.dll" beside the executable,
# and the drive models from IDEQUERY.VXD, which no Wine system has. Two sparse
# image files are the physical drives 0 and 1.
#
# Session 1 (the DLL beside the program): the driver's error box comes once,
# before the window; the list and labels; a full scan of disk 0 through the
# DLL and its report. Session 2 (no DLL anywhere): the loader's log line, an
# empty list, a harmless Start, a clean close.
#
# Exit status: 0 all checks passed, 1 a check failed, 77 skipped (no Xvfb or
# no wine64).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine_lib.sh
source "$here/wine_lib.sh"
wine_parse_args "app driver dll prefix work" "$@"
wine_require
wine_setup
# A Chinese system's ANSI code page (936), as the program's texts expect;
# nothing checked here depends on the fonts.
if locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
	export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
else
	echo "note: no zh_CN.UTF-8 locale; running with the C locale"
fi

t0=$(date +%s%N)
# Ends the run early when a step that everything after it needs went wrong.
give_up() {
	fail "$* (the remaining checks cannot run)"
	echo "$(ms_since "$t0") ms"
	end_checks
}

# --- the Wine prefix ------------------------------------------------------------
# Windows 98 for the program alone: the driver keeps the default version.
# shellcheck disable=SC2317 # called by wine_prefix, which shellcheck does not follow
as_win98() {
	wine_reg 'HKCU\Software\Wine\AppDefaults\MorvekScan.exe' Version REG_SZ win98
}
wine_prefix "e2e98-1 MorvekScan.exe=win98, unmanaged" .morvek-e2e98-ready as_win98
echo "prefix ready after $(ms_since "$t0") ms"

# --- drives -----------------------------------------------------------------------
# The DLL derives the geometry of a mapped drive from its size: 255 heads, 63
# sectors per track, whole cylinders: 62 and 124 here, so the table holds
# 996,030 and 1,992,060 sectors. Disk 0 is exactly its 62 cylinders: the
# scan's last 128-sector read runs over the end and must still count as good.
disk0_sectors=996030
disk1_sectors=2000000
wine_reset_drives
wine_image_drive 0 "$disk0_sectors"
wine_image_drive 1 "$disk1_sectors"

# The program's folder: the executable and, in session 1, the DLL beside it.
appdir=$work/app98
rm -rf "$appdir" && mkdir -p "$appdir"
cp "$app" "$appdir/MorvekScan.exe"
cp "$dll" "$appdir/Halvex32.dll"

# --- the X server -------------------------------------------------------------------
wine_start_x 141 190

log_lines() { tr -d '\r' <"$1" 2>/dev/null | grep -cF -- "$2" || true; } # FILE TEXT: lines holding TEXT
box_field() { sed -n "s/^$1 //p" <<<"$2"; }

mapfile -t promo < <(drive report-promo)
[[ ${#promo[@]} -eq 2 ]] || give_up "the driver gave no report texts"

no_driver_text="ERROR: Could not open IDEQUERY.VXD file"

# Starts the program in RUN_DIR and goes through its start-up: the error box
# of the identify pass, then the window. Sets app_pid.
start_session() { # NAME RUN_DIR
	local name=$1 run=$2 box window box_pid window_pid started
	started=$(date +%s%N)
	(cd "$run" && exec "$wine" "$appdir/MorvekScan.exe") >"$run.out" 2>&1 &
	app_pid=$!
	box=$(drive dismiss-box IdeQuery 30000 700) || give_up "$name: the IDEQUERY.VXD error box did not come"
	check "$name: the identify pass shows \"$no_driver_text\"" equals "$(box_field text "$box")" "$no_driver_text"
	check "$name: the box has the error icon and only an OK button" \
		equals "$(box_field icon "$box") $(box_field buttons "$box")" "1 1 1"
	check "$name: no scan window while the box is up" equals "$(box_field scan-window-seen "$box")" "0"
	window=$(drive wait-window 30000) || give_up "$name: the scan window did not appear after the box"
	box_pid=$(box_field pid "$box")
	window_pid=${window#* }
	check "$name: box and window belong to the same process" equals "$box_pid" "$window_pid"
	echo "$name: start-up to window $(ms_since "$started") ms (the box held 700 ms)"
	check "$name: no second error box" equals "$(drive no-box IdeQuery 1000 2>&1)" "none"
}

# --- session 1: the DLL beside the program ---------------------------------------
run1=$work/run1
rm -rf "$run1" && mkdir -p "$run1"
start_session "9x with DLL" "$run1"

mapfile -t combo < <(drive combo)
check "the disk list holds the two image drives" equals "${combo[0]:-}" "count 2"
check "entry 0 is selected" equals "${combo[1]:-}" "selected 0"
check "entry 0 is \"Disk 0: \" with an empty model" equals "${combo[2]:-}" "Disk 0: "
check "entry 1 is \"Disk 1: \" with an empty model" equals "${combo[3]:-}" "Disk 1: "
check "label 1005 shows disk 0's 996,030 sectors" equals "$(drive text 1005)" "486 M"
check "label 1009 shows a 2500th of disk 0" equals "$(drive text 1009)" "199 K"
check "label 1024 starts at 0" equals "$(drive text 1024)" "0"
drive select 1
check "selecting disk 1 (1,992,060 sectors) shows 972 M and 398 K" \
	equals "$(drive text 1005) $(drive text 1009)" "972 M 398 K"
drive select 0
check "Scan.log is written in the current directory" test -s "$run1/Scan.log"
check "Scan.log has no \"load halvex32.dll error\" line" equals "$(log_lines "$run1/Scan.log" "load halvex32.dll error")" "0"
check "the disks came through the 9x road, not the NT probe (Scan.log)" \
	equals "$(log_lines "$run1/Scan.log" "GetDiskinfoNt")" "0"
check "Scan.log has no GetProcAddress error" equals "$(log_lines "$run1/Scan.log" "GetProcAddress from halvex32.dll")" "0"
check "the disk list was filled from the DLL's table (Scan.log)" \
	equals "$(log_lines "$run1/Scan.log" "CScan::FindAllDisks i=0, strModol[i]=, strTotalSectors=486 M")" "1"

# The sparse image reads at memory speed: the run is over in a second or
# two, too soon to look at the running state from here, so only its outcome
# is checked.
started=$(date +%s%N)
drive click 1000
drive wait-text 1027 100 90000 >/dev/null || true
drive wait-visible 1000 1 20000 || true
scan_ms=$(ms_since "$started")
echo "full scan of disk 0 (486 M) through Halvex32.dll: $scan_ms ms as seen from here," \
	"elapsed label $(drive text 1018), speed label $(drive text 1020)"
check "the run ends: percent 100, Start back, Stop hidden" \
	equals "$(drive text 1027) $(drive visible 1000)$(drive visible 1014)" "100 10"
check "no bad blocks" equals "$(drive text 1024)" "0"
check "the chart holds the run" equals "$(drive chart-count)" "1"
# The last block read starts at 995,968 (7781 x 128), the last below 996,030.
check "kestrune.log has the right bytes (date and time lines aside)" diff \
	<(expected_report "Disk 0: " "0 G" "0 M" "486 M" "没有坏扇区" "${promo[0]}" "${promo[1]}") \
	<(normalised_report "$run1/kestrune.log")
check "the result line is the no-bad-sectors one" equals "$(report_line "$run1/kestrune.log" 10)" "扫描结果: 没有坏扇区"
check "kestrune.log is GBK text" \
	equals "$(head -c 14 "$run1/kestrune.log" | od -An -tx1 | tr -d ' \n')" "4d6f7276656bb4c5c5ccc9a8c3e8"
check "Start activated slot 0 (Scan.log)" equals "$(log_lines "$run1/Scan.log" "OnSelchngeComboDisks SetActiveDisk 80")" "1"
check "no read through the DLL failed (Scan.log)" equals "$(log_lines "$run1/Scan.log" "some bad sectors")" "0"
check "the program's folder got no Scan.log" test ! -e "$appdir/Scan.log"

closed=$(drive close 10000) || closed=
check "closing ends the program ($closed)" matches "$closed" '^exited 0 '
wait "$app_pid" 2>/dev/null || true

# --- session 2: no DLL anywhere -------------------------------------------------------
rm -f "$appdir/Halvex32.dll"
run2=$work/run2
rm -rf "$run2" && mkdir -p "$run2"
# Nowhere else on the search path either: not in the start directory, not in
# the prefix's system directories.
check "no Halvex32.dll left where the loader could find one" \
	equals "$(find "$appdir" "$run2" "$prefix/drive_c/windows" -maxdepth 2 -iname halvex32.dll | wc -l)" "0"
start_session "9x without DLL" "$run2"

appdir_win=$("$wine" winepath -w "$appdir" 2>/dev/null | tr -d '\r') || appdir_win=
# shellcheck disable=SC1003 # no quote is escaped: the regex's \\ is a backslash
check "the program's folder has a Windows path ($appdir_win)" matches "$appdir_win" '^[A-Z]:\\'
check "Scan.log names the executable's folder in the loader's error line" \
	equals "$(log_lines "$run2/Scan.log" "load halvex32.dll error. dllname=${appdir_win}\\Halvex32.dll")" "1"
check "and has that error line once" equals "$(log_lines "$run2/Scan.log" "load halvex32.dll error")" "1"
check "the loader put the current directory back (Scan.log is in the start directory)" test ! -e "$appdir/Scan.log"
check "the empty table refuses the system disk's activation (Scan.log)" \
	equals "$(log_lines "$run2/Scan.log" "SetActiveDisk failed, whichdisk")" "1"
mapfile -t combo < <(drive combo)
check "the disk list is empty, nothing selected" equals "${combo[*]:-}" "count 0 selected -1"

drive click 1000 || true
sleep 0.5
check "Start with no disk: the window still answers" equals "$(drive text 1024)" "0"
check "Start with no disk: Start stays, Stop stays hidden" equals "$(drive visible 1000)$(drive visible 1014)" "10"
check "Start with no disk: no chart, no run" equals "$(drive chart-count)" "0"
check "Start with no disk: no report written" test ! -e "$run2/kestrune.log"
check "Start with no disk: no disk activated, nothing read (Scan.log)" \
	equals "$(log_lines "$run2/Scan.log" "OnSelchngeComboDisks")$(log_lines "$run2/Scan.log" "bad sectors")" "00"
check "the program still runs" kill -0 "$app_pid"

closed=$(drive close 10000) || closed=
check "closing with no disk ends the program ($closed)" matches "$closed" '^exited 0 '
wait "$app_pid" 2>/dev/null || true

echo "$(ms_since "$t0") ms"
end_checks
