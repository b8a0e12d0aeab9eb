#!/usr/bin/env bash
# morvek-scan reading ahead: whatever the queue depth, a scan must give what
# the one-read-at-a-time scan gives, byte for byte.
#
#   - a faultfs device with bad and slow ranges (a bad range over the
#     boundary of two merged reads, two bad blocks in one merged read, a bad
#     range over several blocks, a bad block past the whole cylinders, a bad
#     last block) scanned at --queue-depth 1, at the default depth, at 64 and
#     with the read-ahead forced off (MORVEK_NO_IO_URING=1): the same report
#     (the scan-time line checked against the rules), map PNG, bad-block
#     list, Scan.log and progress percents; io_uring used at the default
#     depth only; the forced fallback said once on stderr
#   - a stop by SIGINT at the default depth with slow reads in flight: exit
#     130 at once, the report, map and list agree on one stop position, which
#     the device had served; nothing read ahead beyond the reads in flight,
#     and nothing reaches the device after the exit
#   - --queue-depth outside 1 to 64 is a usage error
#
# MORVEK_SCAN names the morvek-scan binary, FAULTFS the faultfs binary.
# Exit status: 0 passed, 1 failed, 77 skipped (no loop devices / FUSE).
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
command -v python3 >/dev/null || fail_test "python3 is needed to check the map picture"
command -v strace >/dev/null || fail_test "strace is needed to see io_uring in use"

work=$(lib_tmpdir)
total_of() { echo $((($1 / 16065) * 16065)); }

# The default depth and the size of its reads, as --help gives the depth.
default_depth=$("$scan" --help | sed -nE 's/.*--queue-depth N .*\(default ([0-9]+)\).*/\1/p')
[[ $default_depth =~ ^[0-9]+$ ]] || fail_test "--help gives no default queue depth"
read_kib() { # DEPTH -> KiB per read: 8 MiB of buffers, reads of 64 to 512 KiB
	local kib=$((8192 / $1 / 64 * 64))
	((kib < 64)) && kib=64
	((kib > 512)) && kib=512
	echo "$kib"
}

# The report with its scan-time line (line 8) left out.
report_without_time() { sed '8d' "$1/kestrune.log"; }
# The progress lines' percents and bad counts.
progress_of() { grep -E '^[0-9]+% ' "$1/out" | awk '{ print $1, $NF }'; }
# The report's scan-time line as text ("H:M:S").
report_time() { sed -n 8p "$1/kestrune.log" | iconv -f GBK -t UTF-8 | sed -E 's/.* : //; s/\r$//'; }

# --- the command line ----------------------------------------------------------
d=$work/usage
for value in 0 65 x -1 ""; do
	run_in "$d" st "$scan" --queue-depth="$value" /dev/null
	check_eq "--queue-depth=$value: a usage error (exit 2, one line naming 1 to 64)" "2 1 1" \
		"$st $(wc -l <"$d/err") $(grep -c 'from 1 to 64' "$d/err")"
done
check "--help explains --queue-depth and MORVEK_NO_IO_URING" \
	grep -qE -- '--queue-depth N .*1 to 64 \(default [0-9]+\)' <("$scan" --help)

# --- the same results at every depth ---------------------------------------------
# 20 cylinders (321,300 sectors: cells of 129) and 8,700 sectors more. Bad:
# 10239-10240 over the boundary of two reads of any merge size that divides
# 512 KiB; 20500 and 20700, two blocks of one 512 KiB read; 40000-40300 over
# four blocks; 325000 past the whole cylinders; the device's last sector.
# Slow: a stretch and a single block.
sectors=330000
total=$(total_of $sectors)
bad="10239-10240 20500-20500 20700-20700 40000-40300 325000-325000 329999-329999"
slow="50000-50500:30 200000-200127:50"
fdev=$(make_fault_device $sectors "$bad" "$slow") || fail_test "cannot make the fault device"
echo "# fault device $fdev: $sectors sectors, scanned total $total, bad $bad, slow $slow, default depth $default_depth"

names=(one default deep forced)
for name in "${names[@]}"; do
	d=$work/$name
	case $name in
	one) args=(--queue-depth 1) ;;
	default) args=() ;;
	deep) args=(--queue-depth 64) ;;
	forced) args=() ;;
	esac
	if [[ $name == forced ]]; then
		run_in "$d" st env MORVEK_NO_IO_URING=1 strace -f -qq -e trace=io_uring_setup -o "$d/trace" \
			"$scan" "${args[@]}" --map map.png --bad-list bad.txt "$fdev"
	else
		run_in "$d" st strace -f -qq -e trace=io_uring_setup -o "$d/trace" \
			"$scan" "${args[@]}" --map map.png --bad-list bad.txt "$fdev"
	fi
	check_eq "$name: exit 1 (reads failed)" 1 "$st"
	setups=$(grep -c 'io_uring_setup(' "$d/trace")
	case $name in
	one | forced) check_eq "$name: io_uring is not used" 0 "$setups" ;;
	*) check "$name: io_uring is used ($setups rings set up)" test "$setups" -ge 1 ;;
	esac
done

# The one-at-a-time run against the rules; the others against it.
if out=$(python3 "$here/check_map.py" one "$work/one/map.png" "$work/one/bad.txt" $sectors "$total" "$bad" 2>&1); then
	pass "depth 1: map and bad-block list follow the rules: $out"
else
	fail "depth 1: map and bad-block list: $out"
fi
check_eq "depth 1: the last read, cut at the device's end, is listed last" 329984 "$(tail -n 1 "$work/one/bad.txt")"
for name in default deep forced; do
	check "$name: the same report as at depth 1 but for the scan time" \
		cmp -s <(report_without_time "$work/one") <(report_without_time "$work/$name")
	check "$name: the report's scan time is the run's own ($(report_time "$work/$name"))" \
		equals "$(report_time "$work/$name")" "$(grep -E '^100% ' "$work/$name/out" | tail -n 1 | awk '{ print $2 }')"
	check "$name: the same map PNG, byte for byte" cmp -s "$work/one/map.png" "$work/$name/map.png"
	check "$name: the same bad-block list" cmp -s "$work/one/bad.txt" "$work/$name/bad.txt"
	check "$name: the same Scan.log, byte for byte" cmp -s "$work/one/Scan.log" "$work/$name/Scan.log"
	check "$name: the same progress percents and bad counts" \
		cmp -s <(progress_of "$work/one") <(progress_of "$work/$name")
done
for name in one default deep; do
	check_eq "$name: nothing on stderr" "" "$(cat "$work/$name/err")"
done
check_eq "forced: said once on stderr" "morvek-scan: reading one block at a time: MORVEK_NO_IO_URING is set" \
	"$(cat "$work/forced/err")"
run_in "$work/forced1" st env MORVEK_NO_IO_URING=1 "$scan" --queue-depth 1 "$fdev"
check_eq "forced at --queue-depth 1: nothing to fall back from, nothing said" "1 " "$st $(cat "$work/forced1/err")"

# --- a stop with reads in flight -------------------------------------------------------
# 400,000 sectors; from sector 131,072 on every read waits 40 ms. SIGINT once
# the run is well into the slow area.
sectors=400000
total=$(total_of $sectors)
bad="1000-1000"
trace=$work/stop-trace
pdev=$(make_fault_device $sectors "$bad" "131072-399999:40" --trace "$trace") || fail_test "cannot make the slow device"
d=$work/stop
mkdir -p "$d"
(cd "$d" && exec "$scan" --map map.png --bad-list bad.txt "$pdev" >"$d/out" 2>"$d/err") &
pid=$!
for ((i = 0; i < 400; ++i)); do
	[[ -s $trace ]] && (($(tail -n 1 "$trace" | cut -d' ' -f1) >= 131072 * 512 + 40 * 65536)) && break
	sleep 0.05
done
kill -INT "$pid"
t0=$EPOCHREALTIME
wait "$pid"
st=$?
t1=$EPOCHREALTIME
check_eq "stopped run: exit 130" 130 "$st"
check "stopped run: ended within two seconds of SIGINT" awk -v a="$t0" -v b="$t1" 'BEGIN { exit !(b - a < 2) }'
served=$(wc -l <"$trace")
sleep 0.5
check_eq "stopped run: nothing reached the device after the exit" "$served" "$(wc -l <"$trace")"
furthest=$(awk '{ e = $1 + $2; if (e > m) m = e } END { print m / 512 }' "$trace")

# The stop position: the report gives it in MB; the map and the list must
# agree with one block start there (the first block the run did not take).
area=$(sed -n 7p "$d/kestrune.log" | iconv -f GBK -t UTF-8 | sed -nE 's/.* : ([0-9]+) M\r?$/\1/p')
stop_at=""
if [[ $area =~ ^[0-9]+$ ]]; then
	for ((p = area * 2048; p < (area + 1) * 2048; p += 128)); do
		if python3 "$here/check_map.py" stop "$d/map.png" "$d/bad.txt" $sectors "$total" "$bad" "$p" >/dev/null 2>&1; then
			stop_at=$p
			break
		fi
	done
fi
check "stopped run: the report ($area M), the map and the bad-block list agree on a stop at $stop_at" test -n "$stop_at"
if [[ -n $stop_at ]]; then
	echo "# stopped with the block at $stop_at not taken; the device served up to sector $furthest"
	check "stopped run: stopped in the slow area, before the end" test "$stop_at" -gt 131072 -a "$stop_at" -lt "$total"
	check "stopped run: every block taken was served by the device" test "$stop_at" -le "$furthest"
	window=$((default_depth * $(read_kib "$default_depth") * 2))
	check "stopped run: nothing read ahead beyond the reads in flight ($((furthest - stop_at)) sectors past the stop, at most $window)" \
		test $((furthest - stop_at)) -le "$window"
fi
check "stopped run: the percent field ends at 100" grep -qE '^100% ' "$d/out"
check "stopped run: stderr says it stops after the current read" grep -q "stopping after the current read" "$d/err"

end_checks
