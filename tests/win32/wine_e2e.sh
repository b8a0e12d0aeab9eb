#!/usr/bin/env bash
# End-to-end test of MorvekScan.exe under Wine on a private X server.
#
#   wine_e2e.sh --app MorvekScan.exe --driver morvek_wine_driver.exe \
#               --prefix DIR --work DIR [--docs DIR]
#
# Starts from nothing but wine64 and Xvfb: makes its own Wine prefix (kept in
# DIR between runs, remade when its settings change), maps sparse image files
# (and, when FAULTFS names the built faultfs, a file with bad sectors) as
# physical drives, runs the program on an X server of its own and drives the
# scan window with morvek_wine_driver.exe, which runs in the same prefix.
# Screenshots go to the work directory, and to --docs DIR when given.
#
# Exit status: 0 all checks passed, 1 a check failed, 77 skipped (no Xvfb or
# no wine64).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine_lib.sh
source "$here/wine_lib.sh"
wine_parse_args "app driver prefix work docs?" "$@"
wine_require

# What the program is tested with; missing pieces are failures, not skips:
# without them the window would not look as it does on a Chinese Windows.
locales=$(locale -a 2>/dev/null || true)
fonts=$(fc-list 2>/dev/null || true)
grep -qi '^zh_CN\.utf-\?8$' <<<"$locales" ||
	fail_test "the zh_CN.UTF-8 locale is missing (apt-get install locales; locale-gen zh_CN.UTF-8)"
grep -q 'AR PL SungtiL GB' <<<"$fonts" || fail_test "font AR PL SungtiL GB missing (apt-get install fonts-arphic-gbsn00lp)"
command -v xwd >/dev/null || fail_test "xwd is missing (apt-get install x11-apps)"
[[ -x /usr/bin/convert && -x /usr/bin/compare ]] || fail_test "ImageMagick is missing (apt-get install imagemagick)"

wine_setup
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8

# --- the Wine prefix ------------------------------------------------------------
# The dialog's font "宋体" (SimSun) is drawn with AR PL SungtiL GB, whose
# metrics match SimSun's: 9 pt gives 1.5 pixels per dialog unit.
# shellcheck disable=SC2317 # called by wine_prefix, which shellcheck does not follow
replace_simsun() {
	local name
	for name in "宋体" SimSun; do
		wine_reg 'HKCU\Software\Wine\Fonts\Replacements' "$name" REG_SZ "AR PL SungtiL GB"
	done
}
wine_prefix "e2e-2 SimSun=AR PL SungtiL GB, unmanaged" .morvek-e2e-ready replace_simsun

# --- drives -----------------------------------------------------------------------
# Sizes are whole cylinders of 255 x 63 sectors: that is what Wine's mapped
# devices report (size / cylinder), so the table holds exactly these totals.
cyl=16065
disk0_sectors=$((64 * cyl))  # 1,028,160 sectors: 502 M, cells of 205 K; read in a few seconds
disk1_sectors=78156225       # 4865 cylinders: 37 G, cells of 15 M; never read to its end here
wine_reset_drives
wine_image_drive 0 "$disk0_sectors"
wine_image_drive 1 "$disk1_sectors"

# A drive with bad sectors: the faultfs file itself (a loop device over it
# would be a block device, whose size Wine does not tell). 20 cylinders make
# cells of 129 sectors, just over one 128-sector read, so every cell boundary
# is reached by a good read.
fault=0
fault_sectors=$((20 * cyl))
fault_bad="100000-100000 200000-200127"
if [[ -n ${FAULTFS:-} && -x ${FAULTFS:-} ]] && have_fuse; then
	fault_dir=$(lib_tmpdir)
	if mount_faultfs "$fault_dir" $((fault_sectors * 512)) "$fault_bad" ""; then
		wine_link_drive 2 "$fault_dir/disk.img"
		fault=1
	fi
fi

# --- the X server -------------------------------------------------------------------
wine_start_x 91 140

screenshot() { # FILE [X Y W H]: the screen, or that part of it, as PNG
	local file=$1
	shift
	if [[ $# -eq 4 ]]; then
		xwd -root -display "$DISPLAY" | /usr/bin/convert xwd:- -crop "$3x$4+$1+$2" +repage -strip "$file"
	else
		xwd -root -display "$DISPLAY" | /usr/bin/convert xwd:- -strip "$file"
	fi
}
keep_screenshot() { # FILE NAME: copies a screenshot into the docs directory
	[[ -z $docs ]] || cp "$1" "$docs/$2"
}
pixels_differ() { # A B: number of pixels that differ
	/usr/bin/compare -metric AE "$1" "$2" null: 2>&1 || true
}
pixel() { # FILE X Y: "R,G,B" of one pixel
	/usr/bin/convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- | sed -n 's/^0,0: (\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1,\2,\3/p'
}

# --- reference pictures ----------------------------------------------------------------
# The same scan, run here without a window by the driver through the same
# logic, painted by the renderer: what the window's chart must show.
mkdir -p "$work/ref"
ref0=$(cd "$work/ref" && drive reference 0 "$work/ref/disk0.bmp")
echo "reference disk 0: $ref0"
promo1=$(report_line "$work/ref/kestrune.log" 14)
promo2=$(report_line "$work/ref/kestrune.log" 16)
if [[ $fault == 1 ]]; then
	ref2=$(cd "$work/ref" && drive reference 2 "$work/ref/disk2.bmp") || ref2=
	echo "reference fault disk: ${ref2:-none}"
fi

# --- session 1: the disk list, runs, the map ---------------------------------------------
run1=$work/run1
rm -rf "$run1" && mkdir -p "$run1"
(cd "$run1" && exec "$wine" "$app") >"$work/app1.log" 2>&1 &
app_pid=$!
drive cursor 1270 1010 # away from the window: no stray hover
drive wait-window 30000 >/dev/null

mapfile -t combo < <(drive combo)
check "the disk list holds the two image drives" matches "${combo[0]}" '^count [23]$'
check "entry 0 is selected" equals "${combo[1]}" "selected 0"
check "entry 0 reads \"Disk 0: \" and the model" matches "${combo[2]:-}" '^Disk 0: '
check "entry 1 reads \"Disk 1: \" and the model" matches "${combo[3]:-}" '^Disk 1: '
check "label 1005 shows disk 0's size" equals "$(drive text 1005)" "502 M"
check "label 1009 shows disk 0's cell size" equals "$(drive text 1009)" "205 K"
check "label 1024 starts at 0" equals "$(drive text 1024)" "0"
check "Start shown, Stop hidden before a run" equals "$(drive visible 1000)$(drive visible 1014)" "10"
client=$(drive client-size)
echo "client area: $client"
check "client area is 798 x 581 with the SimSun replacement" equals "$client" "798 581"
read -r cx cy cw ch < <(drive client-rect)

drive select 1
check "selecting disk 1 shows 37 G" equals "$(drive text 1005)" "37 G"
check "selecting disk 1 shows cells of 15 M" equals "$(drive text 1009)" "15 M"

# A run of the big disk, stopped midway.
drive click 1000
check "Start makes Stop appear in Start's place" equals "$(drive visible 1000)$(drive visible 1014)" "01"
check "Start is disabled during the run" equals "$(drive enabled 1000)" "0"
check "the first Start creates one chart window" equals "$(drive chart-count)" "1"
read -r mx my mw mh < <(drive chart-rect)
check "the chart's client area is 540 x 460" equals "$mw $mh" "540 460"
percent=$(drive wait-int-at-least 1027 2 60000) || percent=
check "the percent field advances (shows $percent)" matches "$percent" '^[0-9]+$'
check "the elapsed time label is set" matches "$(drive text 1018)" '^[0-9]+:[0-9]+:[0-9]+$'
speed=$(drive text 1020)
check "the speed label is set ($speed)" matches "$speed" '^[0-9]+ M/s$'
check "the remaining time label is set" matches "$(drive text 1023)" '^([0-9]+:[0-9]+:[0-9]+|--:--:--)$'
screenshot "$work/running.png" "$cx" "$cy" "$cw" "$ch"
keep_screenshot "$work/running.png" morvek-scan-running.png
screenshot "$work/running-chart.png" "$mx" "$my" "$mw" "$mh"
check "the map fills from the top left with green cells" equals "$(pixel "$work/running-chart.png" 4 4)" "41,178,49"
check "the map's last cell is still empty" equals "$(pixel "$work/running-chart.png" 535 455)" "255,255,255"

drive click 1014
check "Stop brings Start back at once" equals "$(drive visible 1000)$(drive visible 1014)" "10"
check "a stopped run ends with the percent field at 100" equals "$(drive wait-text 1027 100 20000)" "100"
check "the stopped run's report is written" test -s "$run1/kestrune.log"
area=$(report_line "$run1/kestrune.log" 7)
check "the stopped run's report gives disk 1 and the area read ($area)" \
	equals "$(report_line "$run1/kestrune.log" 4) $(report_line "$run1/kestrune.log" 5)" "硬盘型号 : Disk 1:  硬盘大小 : 37 G"
check "the stopped run's scanned area is below the disk's end" matches "$area" '^已扫描区域 : [0-9]+ [MG]$'

# A full run of the small disk.
drive select 0
check "selecting disk 0 again shows its sizes" equals "$(drive text 1005) $(drive text 1009)" "502 M 205 K"
started=$(date +%s%N)
drive click 1000
drive wait-text 1027 100 120000 >/dev/null
drive wait-visible 1000 1 20000
echo "full run of disk 0 (502 M): $(ms_since "$started") ms, speed label $(drive text 1020)"
check "a second Start creates no second chart window" equals "$(drive chart-count)" "1"
check "after the run Start is back and Stop hidden" equals "$(drive visible 1000)$(drive visible 1014)" "10"
check "no bad blocks on the image" equals "$(drive text 1024)" "0"
check "kestrune.log has the right bytes (date and time lines aside)" diff \
	<(expected_report "Disk 0: " "0 G" "0 M" "502 M" "没有坏扇区" "$promo1" "$promo2") \
	<(normalised_report "$run1/kestrune.log")
check "kestrune.log is GBK text with CR LF line ends" \
	equals "$(head -c 14 "$run1/kestrune.log" | od -An -tx1 | tr -d ' \n')" "4d6f7276656bb4c5c5ccc9a8c3e8"
screenshot "$work/done.png" "$cx" "$cy" "$cw" "$ch"
keep_screenshot "$work/done.png" morvek-scan-done.png
screenshot "$work/done-chart.png" "$mx" "$my" "$mw" "$mh"
diff_count=$(pixels_differ "$work/done-chart.png" "$work/ref/disk0.bmp")
check "the chart on screen equals the renderer's picture of the same run ($diff_count pixels differ)" \
	equals "$diff_count" "0"

drive hover-chart
check "a pointer passing over the chart leaves the window responsive" equals "$(drive text 1005)" "502 M"
mapfile -t tips < <(drive chart-tooltip)
check "the chart registers one tooltip tool" equals "${tips[*]}" "tooltips 1 tools 1"

gdi=$(drive gdi-repaints 1000)
echo "GDI objects over 1,000 chart repaints (and 100 of the window): $gdi"
read -r _ gdi_before _ gdi_after <<<"$gdi"
check "GDI object count constant over 1,000 repaints ($gdi)" equals "$gdi_after" "$gdi_before"

# The bad-sector drive.
if [[ $fault == 1 && ${combo[0]} == "count 3" && -n ${ref2:-} ]]; then
	drive select 2
	drive click 1000
	drive wait-text 1027 100 120000 >/dev/null
	drive wait-visible 1000 1 20000
	expected_bad=${ref2##* }
	check "label 1024 counts the bad blocks ($expected_bad)" equals "$(drive text 1024)" "$expected_bad"
	check "the fault drive's report says bad sectors" equals "$(report_line "$run1/kestrune.log" 10)" "扫描结果: 有坏扇区"
	screenshot "$work/bad.png" "$cx" "$cy" "$cw" "$ch"
	keep_screenshot "$work/bad.png" morvek-scan-bad-blocks.png
	screenshot "$work/bad-chart.png" "$mx" "$my" "$mw" "$mh"
	diff_count=$(pixels_differ "$work/bad-chart.png" "$work/ref/disk2.bmp")
	check "red cells where the bad ranges are: chart equals the renderer's ($diff_count pixels differ)" \
		equals "$diff_count" "0"
elif [[ $fault == 1 ]]; then
	fail "the bad-sector drive (physicaldrive2, a read-only faultfs file) is not in the disk list"
else
	skip_check "bad-sector drive: FAULTFS (the built tests/tools/faultfs) not given or FUSE not usable"
fi

# A later run starts on an empty map.
drive select 1
drive click 1000
drive wait-int-at-least 1027 1 60000 >/dev/null
drive click 1014
drive wait-text 1027 100 20000 >/dev/null
screenshot "$work/rerun-chart.png" "$mx" "$my" "$mw" "$mh"
check "a later Start empties the map (last cell blank again)" equals "$(pixel "$work/rerun-chart.png" 535 455)" "255,255,255"
check "and the new run paints from the first cell" equals "$(pixel "$work/rerun-chart.png" 4 4)" "41,178,49"
check "still one chart window" equals "$(drive chart-count)" "1"

closed=$(drive close 10000) || closed=
check "closing the idle window ends the program ($closed)" matches "$closed" '^exited 0 '
wait "$app_pid" 2>/dev/null || true

# --- session 2: closing during a run ------------------------------------------------------
run2=$work/run2
rm -rf "$run2" && mkdir -p "$run2"
(cd "$run2" && exec "$wine" "$app") >"$work/app2.log" 2>&1 &
app_pid=$!
drive wait-window 30000 >/dev/null
drive select 1
drive click 1000
drive wait-int-at-least 1027 1 60000 >/dev/null
closed=$(drive close 10000) || closed=
echo "close during a run: $closed"
check "closing during a run ends the program cleanly within 10 s ($closed)" matches "$closed" '^exited 0 after [0-9]+ ms$'
ms=${closed##*after }
ms=${ms%% ms}
check "and within a few seconds" test "${ms:-99999}" -lt 5000
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.05; done
check "the Wine process is gone" bash -c "! kill -0 $app_pid 2>/dev/null"
check "the report of the interrupted run is written" \
	equals "$(report_line "$run2/kestrune.log" 4)" "硬盘型号 : Disk 1: "

# --- session 3: a drive that vanishes mid-run -----------------------------------------
# A faultfs file whose reads from sector 4096 on take 20 ms; its daemon is
# killed while the run is in that stretch, after which every read fails. The
# window must say the disk stopped answering, and write the report.
if [[ $fault == 1 ]]; then
	gone_dir=$(lib_tmpdir)
	gone_sectors=$((64 * cyl))
	if mount_faultfs "$gone_dir" $((gone_sectors * 512)) "" "4096-$((gone_sectors - 1)):20"; then
		gone_pid=$(faultfs_pid "$gone_dir")
		wine_link_drive 3 "$gone_dir/disk.img"
		run3=$work/run3
		rm -rf "$run3" && mkdir -p "$run3"
		(cd "$run3" && exec "$wine" "$app") >"$work/app3.log" 2>&1 &
		app_pid=$!
		drive wait-window 30000 >/dev/null
		drive select 3
		drive click 1000
		drive wait-int-at-least 1027 1 60000 >/dev/null
		kill -KILL "$gone_pid"
		box=$(drive dismiss-owned-box 30000) || box=
		echo "# vanished drive: $box"
		check "a vanished drive: the window says the disk stopped answering" \
			matches "$box" $'title Morvek磁盘扫描 V.1.1.20071201\ntext 硬盘在扇区 [0-9]+ 处停止响应，扫描已停止。'
		check "a vanished drive: Start is back" equals "$(drive wait-visible 1000 1 20000 >/dev/null; drive visible 1000)" "1"
		check "a vanished drive: the report is written" equals "$(report_line "$run3/kestrune.log" 4)" "硬盘型号 : Disk 3: "
		check "a vanished drive: Scan.log says where it stopped answering, once" \
			equals "$(grep -ac 'disk stopped answering at sector' "$run3/Scan.log")" "1"
		closed=$(drive close 10000) || closed=
		check "a vanished drive: the window closes cleanly ($closed)" matches "$closed" '^exited 0 '
		wait "$app_pid" 2>/dev/null || true
	else
		fail "cannot mount the vanishing drive's faultfs"
	fi
else
	skip_check "vanishing drive: FAULTFS (the built tests/tools/faultfs) not given or FUSE not usable"
fi

end_checks
