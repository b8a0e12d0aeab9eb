#!/usr/bin/env bash
# What morvek-scan tells about a disk besides good and bad, on real loop
# devices over faultfs: read times in classes, the slowest blocks and the
# verdict (on standard output, in the JSON report, the SVG speed graph and
# the Prometheus file); the exact unreadable sectors (--bad-sectors); runs
# over part of a disk (--from, --to), also past 2^32 sectors; and the
# drive's SMART data, from the real smartctl and from stand-ins that play a
# healthy drive, one whose counts grow during the scan and a failing one.
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
fixtures=$(cd "$here/../data/smartctl" && pwd)

# shellcheck source=lib.sh
source "$here/lib.sh"

[[ $EUID -eq 0 ]] || skip_test "loop devices need root"
require_loop
require_fuse
command -v python3 >/dev/null || fail_test "python3 is needed to read the JSON report"

work=$(lib_tmpdir)
st=""

run_scan() { run_in "$1" "$2" "$scan" "${@:3}"; } # DIR STATUS_VAR ARGS...: morvek-scan as run_in runs it

# Checks the files of a run against each other (check_readings.py) and puts
# the values of the EXPRs, Python over d (the JSON report), into the array J,
# one each: strings bare, anything else as compact JSON.
J=()
readings() { # WHAT JSON PROM|- SVG|- [EXPR...]
	local what=$1 out status
	shift
	out=$(python3 "$here/check_readings.py" "$1" "$2" "$3" --values "${@:4}" 2>&1)
	status=$?
	mapfile -t J <<<"$out"
	if ((status == 0)); then pass "$what: ${J[0]}"; else fail "$what: ${J[*]}"; fi
	J=("${J[@]:1}")
}

# Sectors FIRST to LAST, one a line.
sector_lines() { # FIRST LAST [FIRST LAST]...
	while (($# >= 2)); do
		seq "$1" "$2"
		shift 2
	done
}

# The summary line "Read times: ..." as the JSON's counts give it.
READ_TIMES='"Read times: <5ms %d  5-20 %d  20-50 %d  50-200 %d  200-600 %d  >=600 %d  err %d" % (*d["latency"]["counts"], d["latency"]["errors"])'
# Its first slow block as stdout gives it.
FIRST_SLOW='"Slow block: sector %d, %.0f ms" % (d["slowest"][0]["sector"], d["slowest"][0]["ms"])'
VERDICT='d["verdict"]["level"] + ": " + d["verdict"]["text"]'

nothing_written() { # DIR: a refused run leaves no report behind
	[[ ! -e $1/kestrune.log ]]
}

# --- 1. readings: bad and slow blocks, far apart ----------------------------------
# 2048 whole blocks and a tail of 50 sectors. Bad: one sector (block 9984),
# one whole aligned block (120064), 201 sectors over three blocks
# (199936-200192) and a sector of the tail's short block (262144, 50
# sectors). Slow, one block each: 50048 takes 400 ms, 150016 300 ms.
sectors=262194
bad="10000 120064-120191 200000-200200 262190"
dev=$(make_fault_device $sectors "$bad" "50100:400 150100:300") || fail_test "cannot make the fault device"
echo "# readings device $dev: $sectors sectors, bad $bad, slow 50100:400 150100:300"
# One read at a time, so that each block's time is its own read's: with
# reads in flight a slow read's time goes to the first block of the merged
# read it was part of (checked below).
d=$work/readings
run_scan "$d" st --no-smart --queue-depth 1 --json r.json --speed-graph s.svg --prometheus m.prom --bad-list b.txt \
	--bad-sectors s.txt "$dev"
check_eq "readings: exit 1 (reads failed)" 1 "$st"
readings "readings" "$d/r.json" "$d/m.prom" "$d/s.svg" 'd["run"]["blocks_read"]' \
	'" ".join("%d:%d" % (b["sector"], b["count"]) for b in d["bad_blocks"])' \
	'[(s["sector"], 400 <= s["ms"] < 600 if i == 0 else 300 <= s["ms"] < 600) for i, s in enumerate(d["slowest"][:2])]' \
	'd["latency"]["counts"][4:]' "$VERDICT" "$READ_TIMES" "$FIRST_SLOW" \
	'",".join(map(str, d["bad_sectors"])) + " " + json.dumps(d["bad_sectors_complete"])' \
	'd["run"]["reads_in_flight"]'
check_eq "readings: every block read once (2048 and the tail's)" 2049 "${J[0]}"
check_eq "readings: the failed blocks, the tail's of 50 sectors last" \
	"9984:128 120064:128 199936:128 200064:128 200192:128 262144:50" "${J[1]}"
check_eq "readings: the bad-block list names the same blocks" "9984 120064 199936 200064 200192 262144" \
	"$(paste -sd ' ' "$d/b.txt")"
check_eq "readings: the slow blocks are the slowest, 400 and 300 ms or more, under 600" \
	"[[50048,true],[150016,true]]" "${J[2]}"
check_eq "readings: classes 200-600 and 600+ count the two slow blocks" "[2,0]" "${J[3]}"
check_eq "readings: verdict" "bad: 6 unreadable blocks" "${J[4]}"
check_eq "readings: the JSON says the blocks were read one at a time" 1 "${J[8]}"
check "readings: stdout gives the read times as the JSON counts them" grep -qxF "${J[5]}" "$d/out"
check_eq "readings: stdout names the slow blocks, slowest first" "50048 150016" \
	"$(sed -n 's/^Slow block: sector \([0-9]*\), [0-9]* ms$/\1/p' "$d/out" | paste -sd ' ')"
check "readings: stdout's slow-block time is the JSON's, rounded" grep -qxF "${J[6]}" "$d/out"
check "readings: stdout counts 6 bad blocks and gives the verdict" \
	grep -qzP 'Bad blocks: 6\n(.*\n)*Verdict: 6 unreadable blocks\n' "$d/out"

# --- 2. exact sectors -------------------------------------------------------------
expected=$(sector_lines 10000 10000 120064 120191 200000 200200 262190 262190)
check_eq "exact sectors: the list is the bad ranges' 331 sectors, ascending" "$expected" "$(cat "$d/s.txt")"
check_eq "exact sectors: the JSON holds the same list, complete" "$(paste -sd , <<<"$expected") true" "${J[7]}"
check "exact sectors: each failed block was read again" \
	grep -qxF "reading the failed blocks again, sector by sector: 6 of 6" "$d/err"
d=$work/sectors-stdout
run_scan "$d" st --no-smart --bad-sectors - "$dev"
check_eq "--bad-sectors -: exit 1" 1 "$st"
check_eq "--bad-sectors -: standard output carries the list alone" "$expected" "$(cat "$d/out")"
check "--bad-sectors -: the summary goes to stderr" grep -qxF "Verdict: 6 unreadable blocks" "$d/err"

# Ctrl-C while the failed blocks are read again, sector by sector: the scan
# itself was whole, so its result and exit status stand; only the list is
# partial. Eight bad blocks whose sectors take 20 ms each to fail: about 20
# seconds of reading again, stopped after the first block.
sdev=$(make_fault_device 32768 "8192-9215" "8192-9215:20") || fail_test "cannot make the refining device"
d=$work/refine-stopped
mkdir -p "$d"
(cd "$d" && exec "$scan" --no-smart --json r.json --bad-sectors s.txt "$sdev" >"$d/out" 2>"$d/err") &
pid=$!
for ((i = 0; i < 600; ++i)); do
	grep -qF "sector by sector: 1 of 8" "$d/err" 2>/dev/null && break
	sleep 0.05
done
kill -INT "$pid"
wait "$pid"
st=$?
check_eq "stopped reading again: the scan's exit status (1), not a stopped scan's" 1 "$st"
check "stopped reading again: the list is said to be partial" grep -qF "the list is partial" "$d/err"
check "stopped reading again: no word of going on with --resume" bash -c "! grep -q '^Stopped' '$d/out'"
readings "stopped reading again" "$d/r.json" - - 'd["run"]["stopped"]' 'd["bad_sectors_complete"]' \
	'len(d["bad_sectors"])'
check_eq "stopped reading again: the JSON has the run whole and the list partial" "false false" "${J[0]} ${J[1]}"
check "stopped reading again: the sectors found so far are listed (${J[2]})" test "${J[2]}" -ge 128 -a "${J[2]}" -lt 1024

# The same disk with reads in flight (the default): the same failures and the
# same two slow reads, each named by a block at most 512 KiB (1024 sectors)
# before the slow one, the first of the read that took the time.
ahead=$work/readings-ahead
run_scan "$ahead" st --no-smart --json r.json "$dev"
check_eq "reads in flight: exit 1" 1 "$st"
readings "reads in flight" "$ahead/r.json" - - \
	'" ".join("%d:%d" % (b["sector"], b["count"]) for b in d["bad_blocks"])' 'd["latency"]["counts"][4:]' \
	'[s["sector"] for s in d["slowest"][:2]]' 'd["run"]["reads_in_flight"]'
check_eq "reads in flight: the same failed blocks" \
	"9984:128 120064:128 199936:128 200064:128 200192:128 262144:50" "${J[0]}"
check_eq "reads in flight: two slow blocks, 200-600 ms" "[2,0]" "${J[1]}"
check_eq "reads in flight: the JSON says how many (the default)" 8 "${J[3]}"
slow=$(tr -d '[]' <<<"${J[2]}")
check "reads in flight: each slow read named within 512 KiB before its block ($slow)" \
	test "${slow%,*}" -le 50048 -a "${slow%,*}" -gt $((50048 - 1024)) -a "${slow#*,}" -le 150016 \
	-a "${slow#*,}" -gt $((150016 - 1024))

# --- 3. a slow disk that reads well: watch it ----------------------------------------
wdev=$(make_fault_device 32768 "" "20000:650") || fail_test "cannot make the slow device"
d=$work/watch
run_scan "$d" st --no-smart --queue-depth 1 --json r.json --prometheus m.prom "$wdev"
check_eq "slow only: exit 0 (no read failed)" 0 "$st"
readings "slow only" "$d/r.json" "$d/m.prom" - "$VERDICT" \
	'[d["latency"]["counts"][4:], d["slowest"][0]["sector"], d["slowest"][0]["ms"] >= 650]'
check_eq "slow only: verdict watch" "watch: clean, but 1 slow block (200 ms or more) - watch this disk" "${J[0]}"
check_eq "slow only: the block of 650 ms is in the 600+ class" "[[0,1],19968,true]" "${J[1]}"
check "slow only: stdout names it" grep -qE '^Slow block: sector 19968, (6[5-9][0-9]|[7-9][0-9][0-9]|[0-9]{4,}) ms$' "$d/out"
check "slow only: stdout's verdict" grep -qxF "Verdict: clean, but 1 slow block (200 ms or more) - watch this disk" "$d/out"

# --- 4. ranges -------------------------------------------------------------------------
# 512 blocks and a tail of 50 sectors. --to is exclusive and rounded up to a
# whole block, --from rounded down: sector 20480 lies past --to 20480, but
# inside --from 20500's first block.
rsectors=65586
rdev=$(make_fault_device $rsectors "100 20479 20480 40000 65580" "") || fail_test "cannot make the range device"
range_case() { # WHAT "ARGS" SECTORS FIRST END
	local what=$1 opts=$2 d=$work/range-$3
	# shellcheck disable=SC2086 # the arguments split on purpose
	run_scan "$d" st --no-smart --json r.json --bad-sectors - $opts "$rdev"
	check_eq "$what: exit 1 and the bad sectors inside the range" "1 $3" "$st $(paste -sd ' ' "$d/out")"
	readings "$what" "$d/r.json" - - '"%d %d" % (d["run"]["first_sector"], d["state"]["end_sector"])'
	check_eq "$what: the JSON's range" "$4 $5" "${J[0]}"
}
range_case "--from 128 --to 20480" "--from 128 --to 20480" "20479" 128 20480
range_case "--from 20500 --to 40001 (rounded to whole blocks)" "--from 20500 --to=40001" "20480 40000" 20480 40064
range_case "--from the last sector" "--from $((rsectors - 1))" "65580" 65536 $rsectors
d=$work/range-past
run_scan "$d" st --no-smart --from $rsectors "$rdev"
check_eq "--from the device's end: usage error (exit 2), nothing scanned" "2 yes" \
	"$st $(nothing_written "$d" && echo yes)"
check "--from the device's end: says so" grep -qF "morvek-scan: --from $rsectors is past the device's end ($rsectors sectors)" \
	"$d/err"
run_scan "$d" st --no-smart --to 0 "$rdev"
check_eq "--to 0: usage error (exit 2), nothing scanned" "2 yes" "$st $(nothing_written "$d" && echo yes)"
for opt in --json --prometheus; do
	run_scan "$d" st --no-smart "$opt" - --bad-list - "$rdev"
	check_eq "$opt -: refused before the scan (exit 2), nothing scanned" "2 yes" "$st $(nothing_written "$d" && echo yes)"
done

# 3 TiB (6,442,450,944 sectors), bad at sector 5,000,000,123: past 2^32,
# and not at a block's start. The run reads 20,000 sectors around it.
big=6442450944
bdev=$(make_fault_device $big "5000000123" "") || fail_test "cannot make the 3 TiB device"
check_eq "3 TiB: faultfs serves all of it" $((big * 512)) "$(blockdev --getsize64 "$bdev")"
d=$work/big
run_scan "$d" st --no-smart --from 4999990000 --to 5000010000 --json r.json --bad-list b.txt --bad-sectors - "$bdev"
check_eq "3 TiB: exit 1, the exact sector past 2^32 on stdout" "1 5000000123" "$st $(cat "$d/out")"
check_eq "3 TiB: the failed block in the list" 5000000000 "$(cat "$d/b.txt")"
readings "3 TiB" "$d/r.json" - - \
	'[d["device"]["size_bytes"], d["disk"]["total_sectors"], d["run"]["first_sector"], d["state"]["end_sector"], d["bad_blocks"], d["bad_sectors"]]'
check_eq "3 TiB: the JSON's device, disk, range, block and sector" \
	'[3298534883328,6442450560,4999989888,5000010112,[{"count":128,"sector":5000000000}],[5000000123]]' "${J[0]}"
check "3 TiB: the size line says 3071 G" grep -qF "disk size 3071 G, each cell 1258 M" "$d/err"

# --- 5. SMART ----------------------------------------------------------------------
clean_img=$work/clean.img
make_sparse_image "$clean_img" 32768
cdev=$(attach_loop "$clean_img" --direct-io) || fail_test "cannot attach a loop device"

if smartctl=$(command -v smartctl); then
	d=$work/smart-real
	run_scan "$d" st --smartctl "$smartctl" --json r.json --prometheus m.prom "$cdev"
	check_eq "real smartctl on a loop device: the run goes on (exit 0)" 0 "$st"
	check "real smartctl: stdout says SMART is not available, and why" grep -qE '^SMART: not available \(.+\)$' "$d/out"
	readings "real smartctl" "$d/r.json" "$d/m.prom" - \
		'[d["smart"]["before"]["available"], d["smart"]["after"]["available"], d["verdict"]["level"]]'
	check_eq "real smartctl: the JSON says so before and after, verdict clean" '[false,false,"clean"]' "${J[0]}"
else
	skip_check "smartctl is not installed: the real one is not tried"
fi
d=$work/smart-missing
run_scan "$d" st --smartctl "$work/no/such/smartctl" "$cdev"
check_eq "a smartctl that is not there: the run goes on (exit 0)" 0 "$st"
check "a smartctl that is not there: stdout says SMART is not available" \
	grep -qE "^SMART: not available \(.*$work/no/such/smartctl.*\)$" "$d/out"

# A stand-in smartctl: records its arguments, counts its calls and prints
# call-N.json of its directory (call.json when there is none) with the exit
# status in its file "status" (0 when there is none).
standin=$work/standin
mkdir -p "$standin"
cat >"$standin/smartctl" <<'EOF'
#!/usr/bin/env bash
dir=$(dirname "$0")
printf '%s\n' "$*" >>"$dir/args"
n=$(($(cat "$dir/count" 2>/dev/null || echo 0) + 1))
echo "$n" >"$dir/count"
if [[ -f $dir/call-$n.json ]]; then cat "$dir/call-$n.json"; else cat "$dir/call.json"; fi
exit "$(cat "$dir/status" 2>/dev/null || echo 0)"
EOF
chmod +x "$standin/smartctl"
standin_case() { # FIXTURE_1 FIXTURE_2 STATUS: sets the stand-in up afresh
	rm -f "$standin"/*.json "$standin/args" "$standin/count" "$standin/status"
	cp "$1" "$standin/call-1.json"
	cp "$2" "$standin/call.json"
	echo "$3" >"$standin/status"
}
# The healthy drive after the scan: 8 sectors reallocated, 3 pending.
python3 - "$fixtures/ata-healthy-14tb.json" "$work/grown.json" <<'EOF'
import json, sys
d = json.load(open(sys.argv[1]))
for a in d["ata_smart_attributes"]["table"]:
    if a["id"] in (5, 197):
        a["raw"] = {"value": 8 if a["id"] == 5 else 3, "string": str(8 if a["id"] == 5 else 3)}
json.dump(d, open(sys.argv[2], "w"))
EOF

d=$work/smart-grown
standin_case "$fixtures/ata-healthy-14tb.json" "$work/grown.json" 0
run_scan "$d" st --smartctl "$standin/smartctl" --json r.json --prometheus m.prom "$cdev"
check_eq "counts grow during the scan: exit 0 (every read succeeded)" 0 "$st"
check_eq "the stand-in was asked twice, for the scanned device" "-a --json=c $cdev|-a --json=c $cdev" \
	"$(paste -sd '|' "$standin/args")"
check "before the scan: the drive's account on stdout" \
	grep -qzP '^Scanning [^\n]*\nSMART: PASSED \(ATA, WDC WD140EDFZ-11A0VA0\)\n  reallocated sectors 0, ' "$d/out"
check "after the scan: the changes on stdout, then the verdict" \
	grep -qzP '\n  reallocated sectors 0 → 8 during this scan\n  pending sectors 0 → 3 during this scan\nVerdict: clean, but the drive.s SMART data warns - watch this disk\n' "$d/out"
readings "counts grow" "$d/r.json" "$d/m.prom" - \
	'"%d %d %s %s" % (d["smart"]["before"]["pending_sectors"], d["smart"]["after"]["pending_sectors"], ",".join("%s:%d:%d" % (c["field"], c["before"], c["after"]) for c in d["smart"]["changes"]), d["verdict"]["level"])'
check_eq "the JSON: before, after, changes, verdict watch" \
	"0 3 reallocated_sectors:0:8,pending_sectors:0:3 watch" "${J[0]}"
check "the Prometheus file counts the two changes" \
	grep -qxF "morvek_scan_smart_worse_during_scan{device=\"$cdev\",model=\"\"} 2" "$d/m.prom"

d=$work/smart-grown-bad
standin_case "$fixtures/ata-healthy-14tb.json" "$work/grown.json" 0
run_scan "$d" st --smartctl "$standin/smartctl" --from 128 --to 20480 "$rdev"
check_eq "counts grow on a disk with a failed read: exit 1" 1 "$st"
check "... the verdict counts the block and warns too" \
	grep -qxF "Verdict: 1 unreadable block; the drive's SMART data warns too" "$d/out"

d=$work/smart-failing
standin_case "$fixtures/ata-failing-usb-jmicron.json" "$fixtures/ata-failing-usb-jmicron.json" 216
run_scan "$d" st --smartctl "$standin/smartctl" --json r.json "$cdev"
check_eq "a failing drive whose counts stay: exit 0" 0 "$st"
check "a failing drive: SMART FAILED, nothing grew, verdict watch" \
	grep -qzP '\nSMART: FAILED \([^\n]*\n(.*\n)*  no SMART counter grew during this scan\nVerdict: clean, but the drive.s SMART data warns - watch this disk\n' "$d/out"
readings "a failing drive" "$d/r.json" - - 'd["smart"]["after"]["failing"]'
check_eq "a failing drive: the JSON says it is failing" true "${J[0]}"

d=$work/smart-garbage
printf 'smartctl 7.3: not JSON at all\n' >"$work/garbage.txt"
standin_case "$work/garbage.txt" "$work/garbage.txt" 0
run_scan "$d" st --smartctl "$standin/smartctl" --json r.json "$cdev"
readings "a smartctl that prints no JSON" "$d/r.json" - - 'd["verdict"]["level"]'
check_eq "a smartctl that prints no JSON: the run goes on (exit 0), verdict clean" "0 clean" "$st ${J[0]}"
check "... stdout says SMART is not available and why" \
	grep -qxF "SMART: not available (smartctl's output is not JSON (exit status 0))" "$d/out"
check_eq "... asked once only: nothing to compare after the scan" 1 "$(cat "$standin/count")"

end_checks
