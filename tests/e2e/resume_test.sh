#!/usr/bin/env bash
# A run stopped by SIGINT and gone on with (--resume), on a real loop device
# over faultfs: stopped twice and resumed twice, it must come to the very
# results of a run that was never stopped (report, map, bad-block and
# bad-sector lists, JSON report; the times aside), and every block must have
# been read exactly once across the three runs. A report of another device,
# a damaged report or someone else's JSON must be refused before anything is
# read.
#
# MORVEK_SCAN names the morvek-scan binary, FAULTFS the faultfs binary.
# Exit status: 0 passed, 1 failed, 77 skipped (no root, loop devices or FUSE).
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scan=${MORVEK_SCAN:?MORVEK_SCAN names the morvek-scan binary}
scan=$(realpath "$scan")
[[ -n ${FAULTFS:-} ]] || { echo "SKIP: FAULTFS is not set"; exit 77; }
FAULTFS=$(realpath "$FAULTFS")
export FAULTFS

# shellcheck source=lib.sh
source "$here/lib.sh"

[[ $EUID -eq 0 ]] || skip_test "loop devices need root"
require_loop
require_fuse
command -v python3 >/dev/null || fail_test "python3 is needed to read the JSON report"

work=$(lib_tmpdir)
st=""

run_scan() { run_in "$1" "$2" "$scan" "${@:3}"; } # DIR STATUS_VAR ARGS...: morvek-scan as run_in runs it

# Runs morvek-scan in DIR as run_scan does, in the background; once its
# progress lines reach PERCENT, sends SIGNAL to process TARGET ("-": the run
# itself) and waits for the run to end.
run_until() { # DIR STATUS_VAR PERCENT SIGNAL TARGET ARGS...
	local dir=$1 var=$2 percent=$3 signal=$4 target=$5 pid p i
	shift 5
	mkdir -p "$dir"
	(cd "$dir" && exec "$scan" "$@" >"$dir/out" 2>"$dir/err") &
	pid=$!
	for ((i = 0; i < 1000; ++i)); do
		p=$(grep -E '^[0-9]+% ' "$dir/out" | tail -n 1 | cut -d% -f1)
		[[ -n $p ]] && ((p >= percent)) && break
		sleep 0.02
	done
	[[ $target == - ]] && target=$pid
	kill "-$signal" "$target"
	wait "$pid"
	printf -v "$var" '%s' "$?"
}

# As check_readings.py says; the values of the EXPRs go into the array J.
J=()
readings() { # WHAT JSON [--like|--like-results OTHER] [EXPR...]
	local what=$1 json=$2 out status
	local -a like=()
	shift 2
	if [[ ${1:-} == --like || ${1:-} == --like-results ]]; then
		like=("$1" "$2")
		shift 2
	fi
	out=$(python3 "$here/check_readings.py" "$json" - - "${like[@]}" --values "$@" 2>&1)
	status=$?
	mapfile -t J <<<"$out"
	if ((status == 0)); then pass "$what: ${J[0]}"; else fail "$what: ${J[*]}"; fi
	J=("${J[@]:1}")
}

# The 64 KiB reads the device served, by offset, one a line (the reads of
# single sectors that look for the exact bad sectors left out).
block_reads() { # TRACE
	awk '$2 == 65536 { print $1 }' "$1"
}

# Every 64 KiB block from FIRST to END (sectors), by offset, one a line.
every_block() { # FIRST END
	seq $(($1 * 512)) 65536 $((($2 - 1) * 512))
}

# --- the device -----------------------------------------------------------------
# 512 blocks; from sector 8192 to 40959 every read takes 6 ms (about two
# seconds in all, where the stops fall), the blocks at 11904 and 49920 300
# ms. Bad: sector 3000 (before the first stop), 45000-45200 (three blocks,
# after the second).
sectors=65536
total=64260 # the whole cylinders of 255 x 63 sectors
bad="3000-3000 45000-45200"
slow="8192-40959:6 12000:300 50000:300"
trace=$work/trace
dev=$(make_fault_device $sectors "$bad" "$slow" --trace "$trace") || fail_test "cannot make the fault device"
echo "# device $dev: $sectors sectors, bad $bad, slow $slow"
# One read at a time: the checks follow the device's trace block by block
# and stop the runs at a percent (the results at every depth are the same,
# e2e.queue_depth; a stop and a vanished disk with reads in flight, below).
outputs=(--no-smart --queue-depth 1 --map m.png --bad-list b.txt --bad-sectors s.txt)

# --- a run that is never stopped ------------------------------------------------------
whole=$work/whole
run_scan "$whole" st "${outputs[@]}" --json r.json "$dev"
check_eq "whole run: exit 1 (reads failed)" 1 "$st"

# --- stopped at about 30 % -----------------------------------------------------------
first=$work/first
: >"$trace"
run_until "$first" st 30 INT - "${outputs[@]}" --json r.json "$dev"
check_eq "first run: SIGINT stops it (exit 130)" 130 "$st"
readings "first run" "$first/r.json" 'd["run"]["stopped"]' 'd["state"]["next_sector"]' 'd["bad_sectors_complete"]'
next1=${J[1]}
check_eq "first run: the JSON says it was stopped, the exact sectors incomplete" "true false" "${J[0]} ${J[2]}"
check "first run: stopped between 20 % and 50 % (at sector $next1)" \
	test "$next1" -gt $((total / 5)) -a "$next1" -lt $((total / 2))
check "first run: stdout says how to go on" grep -qxF \
	"Stopped: the report covers the area read before the stop; --resume with the JSON report goes on from there" \
	"$first/out"
check "first run: the failed blocks are not read again after a stop" \
	grep -qxF "morvek-scan: the failed blocks were not read again: the scan was stopped" "$first/err"
check_eq "first run: the device served every block before the stop, once each, in order" \
	"$(every_block 0 "$next1")" "$(block_reads "$trace")"

# --- resumed, stopped again at about 50 % ---------------------------------------------
second=$work/second
: >"$trace"
run_until "$second" st 50 INT - "${outputs[@]}" --resume "$first/r.json" --json r.json "$dev"
check_eq "second run: SIGINT stops it too (exit 130)" 130 "$st"
readings "second run" "$second/r.json" 'd["run"]["stopped"]' 'd["state"]["next_sector"]' \
	'd["state"]["elapsed_ms"]'
next2=${J[1]}
check "second run: stopped further on (at sector $next2)" test "$next2" -gt "$next1" -a "$next2" -lt "$total"
check_eq "second run: the device served the blocks from the first stop on, once each, in order" \
	"$(every_block "$next1" "$next2")" "$(block_reads "$trace")"

# --- resumed to the end -----------------------------------------------------------------
third=$work/third
: >"$trace"
run_scan "$third" st "${outputs[@]}" --resume "$second/r.json" --json r.json "$dev"
check_eq "third run: ends as the whole run did (exit 1)" 1 "$st"
check_eq "third run: the device served the rest, once each, in order" \
	"$(every_block "$next2" $sectors)" "$(block_reads "$trace")"
check "third run: not said to be stopped" test -z "$(grep '^Stopped:' "$third/out")"
readings "third run" "$third/r.json" --like "$whole/r.json" 'd["state"]["elapsed_ms"]' 'd["run"]["elapsed_seconds"]'
check "third run: the scan time adds up the three runs' (${J[0]} ms)" \
	python3 -c 'import sys, json; a = json.load(open(sys.argv[1]))["state"]["elapsed_ms"]
b = json.load(open(sys.argv[2]))["run"]["elapsed_seconds"]; c = int(sys.argv[3]); d = float(sys.argv[4])
sys.exit(not (abs(a + b * 1000 + d * 1000 - c) <= 2))' "$first/r.json" "$second/r.json" "${J[0]}" "${J[1]}"
seconds=$((J[0] / 1000))
check_eq "third run: the report's scan time is the three runs' together" \
	"扫描时间 : $((seconds / 3600)):$((seconds / 60 % 60)):$((seconds % 60))" \
	"$(sed -n 8p "$third/kestrune.log" | iconv -f GBK -t UTF-8 | tr -d '\r')"
check_eq "third run: the report is the whole run's but for the scan time" \
	"$(sed 8d "$whole/kestrune.log" | sha256sum)" "$(sed 8d "$third/kestrune.log" | sha256sum)"
check "third run: the map is the whole run's, byte for byte" cmp "$whole/m.png" "$third/m.png"
for f in b.txt s.txt; do
	check "third run: $f is the whole run's" cmp "$whole/$f" "$third/$f"
done
if out=$(python3 "$here/check_map.py" "resumed" "$third/m.png" "$third/b.txt" $sectors $total "$bad" 2>&1); then
	pass "third run: $out"
else
	fail "third run: $out"
fi
check_eq "third run: the exact sectors" "$( (echo 3000; seq 45000 45200) | paste -sd ' ')" \
	"$(paste -sd ' ' "$third/s.txt")"

# --- the disk stops answering, and comes back ------------------------------------------
# A device like the first whose daemon is killed at about 40 %: from then on
# every read fails, and after a row of failures the run ends as the disk
# stopped answering (exit 3). Back again (a fresh device with the same
# faults), the run goes on and must come to the whole run's results: the
# failures that told the disk was gone are read again, not counted twice.
vdev=$(make_fault_device $sectors "$bad" "$slow") || fail_test "cannot make the vanishing device"
daemon=$(faultfs_pid "$(fault_device_dir "$vdev")") || fail_test "no faultfs daemon for $vdev"
gone=$work/gone
run_until "$gone" st 40 KILL "$daemon" "${outputs[@]}" --json r.json "$vdev"
check_eq "disk gone: exit 3" 3 "$st"
readings "disk gone" "$gone/r.json" 'd["run"]["disk_stopped_answering"]' 'd["state"]["next_sector"]'
check_eq "disk gone: the JSON says so" true "${J[0]}"
gone_at=${J[1]}
back_trace=$work/back-trace
bdev=$(make_fault_device $sectors "$bad" "$slow" --trace "$back_trace") || fail_test "cannot make the device back"
back=$work/back
run_scan "$back" st "${outputs[@]}" --resume "$gone/r.json" --json r.json "$bdev"
check_eq "disk back: the run goes on and ends as the whole run did (exit 1)" 1 "$st"
check_eq "disk back: the device served the blocks from where it was lost on, once each" \
	"$(every_block "$gone_at" $sectors)" "$(block_reads "$back_trace")"
readings "disk back" "$back/r.json" --like "$whole/r.json"
check_eq "disk back: the report is the whole run's but for the scan time" \
	"$(sed 8d "$whole/kestrune.log" | sha256sum)" "$(sed 8d "$back/kestrune.log" | sha256sum)"
for f in m.png b.txt s.txt; do
	check "disk back: $f is the whole run's" cmp "$whole/$f" "$back/$f"
done

# The same with reads in flight (the default depth): the reads that were on
# their way when the disk went, and those read ahead of a failure, must not
# leave failures behind the place the run goes on from.
vdev=$(make_fault_device $sectors "$bad" "$slow") || fail_test "cannot make the second vanishing device"
daemon=$(faultfs_pid "$(fault_device_dir "$vdev")") || fail_test "no faultfs daemon for $vdev"
ahead=(--no-smart --map m.png --bad-list b.txt --bad-sectors s.txt)
run_until "$work/gone-ahead" st 40 KILL "$daemon" "${ahead[@]}" --json r.json "$vdev"
check_eq "reads in flight, disk gone: exit 3" 3 "$st"
bdev=$(make_fault_device $sectors "$bad" "$slow") || fail_test "cannot make the second device back"
back=$work/back-ahead
run_scan "$back" st "${ahead[@]}" --resume "$work/gone-ahead/r.json" --json r.json "$bdev"
check_eq "reads in flight, disk back: ends as the whole run did (exit 1)" 1 "$st"
readings "reads in flight, disk back" "$back/r.json" --like-results "$whole/r.json"
check_eq "reads in flight, disk back: the report is the whole run's but for the scan time" \
	"$(sed 8d "$whole/kestrune.log" | sha256sum)" "$(sed 8d "$back/kestrune.log" | sha256sum)"
for f in m.png b.txt s.txt; do
	check "reads in flight, disk back: $f is the whole run's" cmp "$whole/$f" "$back/$f"
done

# --- refused ------------------------------------------------------------------------------
refused() { # WHAT MESSAGE REPORT [DEVICE]
	local d=$work/refused-$((++refusals))
	run_scan "$d" st --no-smart --resume "$3" "${4:-$dev}"
	check_eq "$1: refused (exit 2), no report written" "2 no" "$st $([[ -e $d/kestrune.log ]] && echo yes || echo no)"
	check "$1: says why" grep -qF "morvek-scan: --resume $3: $2" "$d/err"
}
refusals=0
other_img=$work/other.img
make_sparse_image "$other_img" 32768
other=$(attach_loop "$other_img" --direct-io) || fail_test "cannot attach a loop device"
refused "another device" \
	"the report is of another device (33554432 bytes, model ''; this one: 16777216 bytes, model '')" \
	"$first/r.json" "$other"

fixture=$here/../data/smartctl/ata-healthy-14tb.json
head -c 700 "$first/r.json" >"$work/cut.json"
# The stopped report, damaged in one place at a time.
damage() { # NAME PYTHON (over d)
	python3 -c 'import json, sys
d = json.load(open(sys.argv[1]))
exec(sys.argv[3])
json.dump(d, open(sys.argv[2], "w"))' "$first/r.json" "$work/$1.json" "$2"
}
damage no-state 'del d["state"]'
damage past-end 'd["state"]["next_sector"] = d["state"]["end_sector"] + 128'
damage cells 'd["state"]["cells"] = d["state"]["cells"][:10] + "X"'
damage negative 'd["state"]["elapsed_ms"] = -1'
damage big-block 'd["bad_blocks"][0]["count"] = 129'
damage version 'd["version"] = 2'
: >"$trace"
refused "a cut report" "not JSON" "$work/cut.json"
refused "smartctl's JSON" "not a morvek-scan JSON report" "$fixture"
refused "a report of another version" "not a morvek-scan JSON report" "$work/version.json"
refused "a report without state" "the report holds no state to go on from" "$work/no-state.json"
for name in past-end cells negative big-block; do
	refused "a report whose state is damaged ($name)" "the report's state is damaged" "$work/$name.json"
done
refused "a directory" "not a report file" "$work"
check_eq "refused: the device was not read for any of them" "" "$(cat "$trace")"

end_checks
