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
app= driver= dll= prefix= work=
while [[ $# -gt 0 ]]; do
	case $1 in
	--app) app=$2; shift 2 ;;
	--driver) driver=$2; shift 2 ;;
	--dll) dll=$2; shift 2 ;;
	--prefix) prefix=$2; shift 2 ;;
	--work) work=$2; shift 2 ;;
	*) echo "wine98_e2e.sh: unknown argument $1" >&2; exit 2 ;;
	esac
done
[[ -n $app && -n $driver && -n $dll && -n $prefix && -n $work ]] || { echo "usage: see the top of $0" >&2; exit 2; }

source "$here/../e2e/lib.sh"

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
command -v Xvfb >/dev/null || skip_test "Xvfb is not installed (apt-get install xvfb xauth)"
[[ -x $wine ]] || skip_test "wine64 is not installed (apt-get install wine wine64)"

app=$(realpath -e "$app")
driver=$(realpath -e "$driver")
dll=$(realpath -e "$dll")
mkdir -p "$work" "$(dirname "$prefix")"
work=$(realpath -e "$work")
prefix=$(realpath -m "$prefix")

export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# A Chinese system's ANSI code page (936), as the program's texts expect;
# nothing checked here depends on the fonts.
if locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
	export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
else
	echo "note: no zh_CN.UTF-8 locale; running with the C locale"
fi

t0=$(date +%s%N)
ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }

passed=0 failed=0
check() { # MESSAGE COMMAND...: runs COMMAND; counts and reports the result
	local message=$1
	shift
	if "$@"; then
		passed=$((passed + 1))
		printf 'ok    %s\n' "$message"
	else
		failed=$((failed + 1))
		printf 'FAIL  %s\n' "$message"
	fi
}
equals() { [[ "$1" == "$2" ]] || { printf '      got "%s", expected "%s"\n' "$1" "$2"; return 1; }; }
matches() { [[ "$1" =~ $2 ]] || { printf '      got "%s", expected to match %s\n' "$1" "$2"; return 1; }; }
finish() {
	echo "$passed passed, $failed failed ($(ms_since "$t0") ms)"
	[[ $failed -eq 0 ]]
}
# Ends the run early when a step that everything after it needs went wrong.
give_up() {
	failed=$((failed + 1))
	printf 'FAIL  %s (the remaining checks cannot run)\n' "$*"
	finish || true
	exit 1
}

# --- the Wine prefix ------------------------------------------------------------
# Kept between runs; remade when these settings change.
prefix_stamp="e2e98-1 MorvekScan.exe=win98, unmanaged"
make_prefix() {
	rm -rf "$prefix"
	DISPLAY= "$wine" wineboot -u >/dev/null 2>&1 || true
	"$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
	# Windows 98 for the program alone: the driver keeps the default version.
	"$wine" reg add 'HKCU\Software\Wine\AppDefaults\MorvekScan.exe' /v Version /t REG_SZ /d win98 /f \
		>/dev/null 2>&1
	# No window manager runs on Xvfb: unmanaged windows spare the X11 driver
	# its wait for a manager's answer.
	"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
	"$wineserver" -w
	printf '%s\n' "$prefix_stamp" >"$prefix/.morvek-e2e98-ready"
}
(
	flock 9
	[[ "$(cat "$prefix/.morvek-e2e98-ready" 2>/dev/null)" == "$prefix_stamp" ]] || make_prefix
) 9>"$prefix.lock"
lib_defer "WINEPREFIX='$prefix' '$wineserver' -k 2>/dev/null"
echo "prefix ready after $(ms_since "$t0") ms"

# --- drives -----------------------------------------------------------------------
# The DLL derives the geometry of a mapped drive from its size: 255 heads, 63
# sectors per track, whole cylinders: 62 and 124 here, so the table holds
# 996,030 and 1,992,060 sectors. Disk 0 is exactly its 62 cylinders: the
# scan's last 128-sector read runs over the end and must still count as good.
disk0_sectors=996030
disk1_sectors=2000000
images=$work/images
rm -rf "$images" && mkdir -p "$images"
rm -f "$prefix"/dosdevices/physicaldrive*
make_sparse_image "$images/disk0.img" "$disk0_sectors"
make_sparse_image "$images/disk1.img" "$disk1_sectors"
ln -s "$images/disk0.img" "$prefix/dosdevices/physicaldrive0"
ln -s "$images/disk1.img" "$prefix/dosdevices/physicaldrive1"
lib_defer "rm -f '$prefix'/dosdevices/physicaldrive*"

# The program's folder: the executable and, in session 1, the DLL beside it.
appdir=$work/app98
rm -rf "$appdir" && mkdir -p "$appdir"
cp "$app" "$appdir/MorvekScan.exe"
cp "$dll" "$appdir/Halvex32.dll"

# --- the X server -------------------------------------------------------------------
display=
for n in $(seq 141 190); do
	[[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
	Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
	xvfb_pid=$!
	lib_defer "kill $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null"
	for _ in $(seq 100); do
		[[ -e /tmp/.X11-unix/X$n ]] && break
		kill -0 "$xvfb_pid" 2>/dev/null || break
		sleep 0.05
	done
	if [[ -e /tmp/.X11-unix/X$n ]] && kill -0 "$xvfb_pid" 2>/dev/null; then
		display=:$n
		break
	fi
done
[[ -n $display ]] || fail_test "Xvfb did not start ($(cat "$work/xvfb.log"))"
export DISPLAY=$display
# The prefix's processes go before their X server does.
lib_defer "WINEPREFIX='$prefix' '$wineserver' -k 2>/dev/null"
"$wineserver" -w # a session left from a command without DISPLAY would show no window

drive() { "$wine" "$driver" "$@"; }
# The report with its date and scan-time lines put in a fixed form, as UTF-8.
normalised_report() {
	iconv -f GBK -t UTF-8 "$1" |
		sed -E 's/^(硬盘扫描报告 )[0-9]{4}年[0-9]{1,2}月[0-9]{1,2}日\r$/\1<DATE>\r/; s/^(扫描时间 : )[0-9]+:[0-9]+:[0-9]+\r$/\1<TIME>\r/'
}
expected_report() { # DESC SIZE UNIT AREA RESULT PROMO1 PROMO2
	local sep
	sep=$(printf '%.0s-' $(seq 85))
	printf '%s\r\n' "Morvek磁盘扫描V1.1.20071201" "硬盘扫描报告 <DATE>" "" "硬盘型号 : $1" "硬盘大小 : $2" \
		"扫描单位 : $3" "已扫描区域 : $4" "扫描时间 : <TIME>" "" "扫描结果: $5" "" "" "$sep" "$6" "" "$7" "$sep"
}
report_line() { iconv -f GBK -t UTF-8 "$1" | sed -n "${2}p" | tr -d '\r'; }
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

finish
