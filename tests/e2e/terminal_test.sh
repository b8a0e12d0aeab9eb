#!/usr/bin/env bash
# morvek-scan on real terminals: tmux (a terminal emulator whose screen and
# scrollback can be read back) at 120, 40 and 60 columns, resized in mid-run,
# and script(1) for the raw bytes. Checks that the capture holds one status
# line (no scrolled copies), the map and its legend only where they fit,
# nothing wider than the terminal; that NO_COLOR and --palette text draw no
# colour, --palette blue-orange its own colours, TERM=dumb the plain lines;
# that slow blocks mark their cells and the read times count them;
# that --bad-list - gives the list alone on standard output; --output-dir;
# --version; and --map refusing a name that is not .png.
#
# MORVEK_SCAN names the morvek-scan binary, FAULTFS the faultfs binary.
# Exit status: 0 passed, 1 failed, 77 skipped (no root, loop devices, FUSE,
# tmux or script).
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scan=${MORVEK_SCAN:?MORVEK_SCAN names the morvek-scan binary}
scan=$(realpath "$scan")
[[ -n ${FAULTFS:-} ]] && FAULTFS=$(realpath "$FAULTFS") && export FAULTFS

# shellcheck source=lib.sh
source "$here/lib.sh"

[[ $EUID -eq 0 ]] || skip_test "loop devices need root"
require_loop
require_fuse
[[ -n ${FAULTFS:-} ]] || fail_test "FAULTFS is not set"
command -v tmux >/dev/null || skip_test "tmux is not installed"
command -v script >/dev/null || skip_test "script (util-linux) is not installed"
command -v python3 >/dev/null || fail_test "python3 is needed to read the screens"

work=$(lib_tmpdir)

# A tmux server of this test's own, ended at cleanup; nobody else's is touched.
sock=morvek-e2e-$$
tmx() { tmux -L "$sock" -f /dev/null "$@"; }
lib_defer "tmux -L $sock kill-server 2>/dev/null"

# What a screen capture holds, as "STATUS MAP LEGEND WIDEST": status lines,
# map lines (54 half blocks or 54 map characters), legend lines, and the
# widest line in columns: of all lines (live: the alternate screen holds the
# frame alone), or of the status line, map and legend (after: the lines the
# program prints once, such as the report's path, may wrap like any
# command's output).
screen_facts() { # CAPTURE_FILE live|after
	python3 - "$1" "$2" <<'PY'
import re, sys
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
is_status = lambda l: re.match(r"^(progress )?(-|\d+%)  ", l)
is_map = lambda l: re.fullmatch("\u2580{54}", l) or re.fullmatch(r"[#X+.]{54}", l)
is_legend = lambda l: " read  " in l and " failed  " in l and " not yet" in l
frame = lines if sys.argv[2] == "live" else [l for l in lines if is_status(l) or is_map(l) or is_legend(l)]
print(sum(1 for l in lines if is_status(l)), sum(1 for l in lines if is_map(l)),
      sum(1 for l in lines if is_legend(l)), max([len(l) for l in frame] + [0]))
PY
}

# Checks a capture: one status line, MAP map lines and LEGEND legends,
# nothing wider than WIDTH - 1 (the map may fill the width).
check_screen() { # WHAT CAPTURE_FILE MAP LEGEND WIDTH [live|after]
	local facts status mapped legend widest
	facts=$(screen_facts "$2" "${6:-live}")
	read -r status mapped legend widest <<<"$facts"
	check_eq "$1: one status line, $3 map lines, $4 legend" "1 $3 $4" "$status $mapped $legend"
	check "$1: no line wider than the terminal ($widest of $5 columns)" test "$widest" -le "$5"
}

# --- one long run, resized ----------------------------------------------------
# 400,000 sectors, from sector 131,072 on 10 ms a read: some 20 s one read at
# a time (--queue-depth 1: reads in flight would be through in a second or
# two); one bad sector.
sectors=400000
slow_dev=$(make_fault_device $sectors "1000-1000" "131072-399999:10") || fail_test "cannot make the slow device"
d=$work/resized
mkdir -p "$d"
tmx new-session -d -s run -x 120 -y 40 -c "$d" \
	"env -u NO_COLOR TERM=tmux-256color '$scan' --queue-depth 1 '$slow_dev'; echo \"exit status \$?\"" || fail_test "tmux did not start"
tmx set-option -t run remain-on-exit on >/dev/null
pane_dead() { [[ $(tmx display-message -p -t run '#{pane_dead}') == 1 ]]; }

sleep 3
tmx capture-pane -p -t run >"$d/120.txt"
check_screen "120 x 40, running" "$d/120.txt" 23 1 120
check "120 x 40: the live figures are there" grep -qE 'now [0-9.]+ [KM]iB/s  eta [0-9]+:[0-9]{2}:[0-9]{2}' "$d/120.txt"
tmx resize-window -t run -x 40 -y 40
sleep 1
tmx capture-pane -p -t run >"$d/40.txt"
check_screen "resized to 40 x 40" "$d/40.txt" 0 0 40
tmx resize-window -t run -x 60 -y 30
sleep 1
tmx capture-pane -p -t run >"$d/60.txt"
check_screen "resized to 60 x 30" "$d/60.txt" 23 1 60
pane_dead && fail "the run ended before the resizes were seen (too fast a device?)"
for ((i = 0; i < 120; ++i)); do
	pane_dead && break
	sleep 1
done
pane_dead || fail_test "the run did not end within two minutes"
# The whole scrollback, wrapped lines joined: the run leaves one status line,
# the final map and its legend, and nothing of the frames drawn before.
tmx capture-pane -p -J -S -5000 -t run >"$d/end.txt"
check_screen "after the run, the whole scrollback" "$d/end.txt" 23 1 60 after
check "after the run: the report and the exit status follow" \
	grep -qxF "exit status 1" "$d/end.txt"
check "after the run: the final status line counts the bad block" grep -qE 'bad 1$|bad blocks 1$' "$d/end.txt"

# --- a run started in a narrow terminal, NO_COLOR ------------------------------
quick_dev=$(make_fault_device 80000 "5000-5000" "") || fail_test "cannot make a small fault device"
d=$work/narrow
mkdir -p "$d"
tmx new-session -d -s narrow -x 40 -y 20 -c "$d" \
	"NO_COLOR=1 TERM=tmux-256color '$scan' '$quick_dev'; echo \"exit status \$?\"; sleep 300"
for ((i = 0; i < 60; ++i)); do
	tmx capture-pane -p -t narrow | grep -q '^exit status' && break
	sleep 0.5
done
tmx capture-pane -p -e -J -S -5000 -t narrow >"$d/end.txt"
check_screen "started at 40 x 20, NO_COLOR" "$d/end.txt" 0 0 40 after
check_eq "started at 40 x 20, NO_COLOR: no colour in the capture" "" \
	"$(grep -aoE $'\x1b\\[[0-9;:]*[34][0-9;:]*m' "$d/end.txt" | head -n 1)"

# --- raw bytes: NO_COLOR, palettes, TERM=dumb ----------------------------------
on_tty() { # DIR ENV... -- ARGS...: morvek-scan on a 40 x 100 pseudo-terminal, output in DIR/out
	local dir=$1 cmd
	shift
	local -a envs=()
	while [[ $1 != -- ]]; do envs+=("$1"); shift; done
	shift
	printf -v cmd '%q ' "$scan" "$@"
	(cd "$dir" && env -u NO_COLOR TERM=xterm-256color "${envs[@]}" \
		script -qec "stty rows 40 cols 100; $cmd" /dev/null >"$dir/out" 2>&1)
}
d=$work/nocolor
mkdir -p "$d"
on_tty "$d" NO_COLOR=1 -- "$quick_dev"
check_eq "NO_COLOR: not one colour escape in the bytes written" 0 "$(grep -caE $'\x1b\\[[0-9;]*m' "$d/out")"
check "NO_COLOR: the final map in characters, the failed read an X" python3 -c '
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
rows = re.findall(r"^[#X+.]{54}$", text.split("\x1b[?1049l")[-1], re.M)
assert len(rows) == 23 and "X" in "".join(rows), rows
' "$d/out"
check "NO_COLOR: the legend says what the characters mean" \
	grep -qaF "# read  s slow  S very slow  X failed  + partly read  . not yet" "$d/out"
d=$work/text
mkdir -p "$d"
on_tty "$d" -- --palette text "$quick_dev"
check_eq "--palette text: not one colour escape" 0 "$(grep -caE $'\x1b\\[[0-9;]*m' "$d/out")"
d=$work/blue
mkdir -p "$d"
on_tty "$d" -- --palette blue-orange "$quick_dev"
check "--palette blue-orange: read cells blue" grep -qaE '(38|48);2;0;114;178m' "$d/out"
check "--palette blue-orange: the failed cell orange" grep -qaE '(38|48);2;230;159;0m' "$d/out"
check_eq "--palette blue-orange: none of the window's green" 0 "$(grep -caE '(38|48);2;41;178;49m' "$d/out")"
d=$work/window
mkdir -p "$d"
on_tty "$d" -- "$quick_dev"
check "the window's palette: a legend line under the coloured map" \
	grep -qaF $'\xe2\x96\x88\x1b[0m read  ' "$d/out"
d=$work/dumb
mkdir -p "$d"
on_tty "$d" TERM=dumb -- "$quick_dev"
check "TERM=dumb: the plain progress lines" grep -qaE '^100% [0-9:]+ [0-9]+ M/s remaining [-0-9:]+ bad 1'$'\r''?$' "$d/out"
check_eq "TERM=dumb: not one escape" 0 "$(grep -ca $'\x1b' "$d/out")"

# --- slow blocks: their cells and the read times --------------------------------
# One block of 300 ms and one of 700 ms, far apart; everything else fast.
slowcells_dev=$(make_fault_device 80000 "" "20000-20000:300 60000-60000:700") ||
	fail_test "cannot make a device with slow blocks"
d=$work/slowcells
mkdir -p "$d"
tmx new-session -d -s slowcells -x 100 -y 40 -c "$d" \
	"NO_COLOR=1 TERM=tmux-256color '$scan' --no-smart '$slowcells_dev'; echo \"exit status \$?\"; sleep 300"
for ((i = 0; i < 60; ++i)); do
	tmx capture-pane -p -t slowcells | grep -q '^exit status' && break
	sleep 0.5
done
tmx capture-pane -p -J -S -5000 -t slowcells >"$d/end.txt"
check "slow blocks, in tmux: the map marks one slow and one very slow cell" python3 -c '
import re, sys
rows = re.findall(r"^[#XsS+.]{54}$", open(sys.argv[1], encoding="utf-8").read(), re.M)
marks = "".join(rows)
assert len(rows) == 23 and marks.count("s") >= 1 and marks.count("S") >= 1, rows
# The 300 ms block lies a quarter of the way in, the 700 ms one three quarters.
assert marks.index("s") < len(marks) / 2 < marks.index("S"), marks
' "$d/end.txt"
check "slow blocks, in tmux: the legend names them" \
	grep -qF "# read  s slow  S very slow  X failed  + partly read  . not yet" "$d/end.txt"
check "slow blocks, in tmux: the read times under the map, one in each slow class" \
	grep -qE '^read times  <5ms [0-9]+  5-20 [0-9]+  20-50 [0-9]+  50-200 [0-9]+  200-600 1  >=600 1  err 0' "$d/end.txt"
check "slow blocks: the verdict says to watch the disk, and the run exits 0" \
	grep -qzE 'Verdict: clean, but 2 slow blocks \(200 ms or more\) - watch this disk.*exit status 0' "$d/end.txt"
on_tty "$d" -- --no-smart "$slowcells_dev"
check "slow blocks, in colour: a yellow and a purple cell, and their swatches in the legend" python3 -c '
import sys
text = open(sys.argv[1], encoding="utf-8", errors="replace").read().split("\x1b[?1049l")[-1]
for rgb in ("250;210;0", "150;40;200"):
    assert text.count(rgb + "m") >= 2, rgb
assert " 200ms+  " in text and " 600ms+  " in text
' "$d/out"

# --- --bad-list -, --output-dir --------------------------------------------------
d=$work/stdout
mkdir -p "$d/out-dir"
(cd "$d" && "$scan" --bad-list - --output-dir out-dir "$quick_dev" >"$d/list" 2>"$d/err")
check_eq "--bad-list -: exit 1 (a read failed)" 1 "$?"
check_eq "--bad-list -: standard output holds the list alone" "4992" "$(cat "$d/list")"
check "--bad-list -: the progress lines moved to standard error" grep -qE '^100% .* bad 1$' "$d/err"
check "--bad-list -: the run's summary too" grep -qxF "Report: $d/out-dir/kestrune.log" "$d/err"
check "--output-dir: the report and Scan.log are there" test -s "$d/out-dir/kestrune.log" -a -s "$d/out-dir/Scan.log"
check_eq "--output-dir: nothing else in the current directory" "err list out-dir" "$(cd "$d" && echo *)"
(cd "$d" && "$scan" --bad-list - "$quick_dev" 2>/dev/null | sort -n >"$d/piped")
check_eq "--bad-list - into a pipe" "4992" "$(cat "$d/piped")"

d=$work/refused
mkdir -p "$d"
for args in "--output-dir $d/missing $quick_dev" "--output-dir $d/file $quick_dev" "--map $d/map.jpg $quick_dev"; do
	: >"$d/file"
	# shellcheck disable=SC2086 # split on purpose
	(cd "$d" && "$scan" $args >"$d/out" 2>"$d/err")
	check_eq "'${args%% /*}...' refused: exit 2, one line, nothing scanned" "2 1 no" \
		"$? $(wc -l <"$d/err") $([[ -e $d/kestrune.log || -e $d/missing/kestrune.log ]] && echo yes || echo no)"
done
check_eq "--version" "morvek-scan 1.1.20071201" "$("$scan" --version)"

end_checks
