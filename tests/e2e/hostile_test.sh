#!/usr/bin/env bash
# morvek-scan under hostile conditions, on real loop devices: links planted
# where its files go, one file named twice, a dropped session and a closed
# pipe, a disk that vanishes mid-run, a FIFO given as a disk, two runs in one
# directory, a closed standard output, a usage error beside an older log and
# a full file system. Another disk's bytes must never change.
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

work=$(lib_tmpdir)

# A victim disk: a loop device over a file of known bytes, attached
# read-write, so that any write the program made through a planted link
# would land on it.
victim_img=$work/victim.img
make_sparse_image "$victim_img" 2048
printf 'the first sector of another disk' | dd of="$victim_img" conv=notrunc status=none
victim=$(attach_loop "$victim_img" --rw) || fail_test "cannot attach the victim"
victim_sum=$(sha256sum <"$victim")
# The checks below run through check(), which shellcheck does not follow.
# shellcheck disable=SC2317
victim_unchanged() { [[ $(sha256sum <"$victim") == "$victim_sum" ]]; }
# shellcheck disable=SC2317
has_no_nul() { ! tr -d '\n' <"$1" | grep -qaP '\x00'; }
# shellcheck disable=SC2317
lacks() { ! grep -qa "$1" "$2"; }
# shellcheck disable=SC2317
no_temporary_in() { ! find "$1" -maxdepth 1 -name '*.tmp' | grep -q .; }

# The disk scanned by most cases: 40,000 sectors, clean.
small=$work/small.img
make_sparse_image "$small" 40000
dev=$(attach_loop "$small") || fail_test "cannot attach a loop device"

run() { # DIR STATUS_VAR ARGS...: in DIR, stdout to DIR.out, stderr to DIR.err
	local dir=$1 var=$2 status
	shift 2
	(cd "$dir" && "$@" >"$dir.out" 2>"$dir.err")
	status=$?
	printf -v "$var" '%s' "$status"
}

# --- 1. planted links ----------------------------------------------------------
d=$work/links
mkdir -p "$d"
ln -s "$victim" "$d/kestrune.log"
ln -s "$victim" "$d/Scan.log"
run "$d" st "$scan" "$dev"
check_eq "links in the report's and the log's place: the scan still runs (exit 0)" 0 "$st"
check "links: the report is refused as a link, said on stderr" grep -q "scan report could not be written: .*kestrune.log is a symbolic link" "$d.err"
check "links: the log is refused, said on stderr" grep -q "Scan.log cannot be written (it is a symbolic link)" "$d.err"
check "links: both are still links" test -L "$d/kestrune.log" -a -L "$d/Scan.log"
ln -s "$victim" "$d/map.png"
ln -s "$victim" "$d/bad.txt"
run "$d" st "$scan" --map map.png "$dev"
check_eq "--map through a link: refused before the scan (exit 2)" 2 "$st"
check "--map through a link: says so" grep -q "cannot write map.png (--map): it is a symbolic link" "$d.err"
run "$d" st "$scan" --bad-list bad.txt "$dev"
check_eq "--bad-list through a link: refused (exit 2)" 2 "$st"
check "the victim disk's bytes are unchanged" victim_unchanged

# --- 2. one file, two spellings ------------------------------------------------
d=$work/spellings
mkdir -p "$d"
run "$d" st "$scan" --map x.png --bad-list ./x.png "$dev"
check_eq "--map x.png --bad-list ./x.png: refused (exit 2)" 2 "$st"
check "two spellings: says they are one file" grep -q "name the same file" "$d.err"
run "$d" st "$scan" --bad-list kestrune.log "$dev"
check_eq "--bad-list kestrune.log: refused (exit 2)" 2 "$st"
check "--bad-list kestrune.log: says it is the report" grep -q "the report and --bad-list name the same file" "$d.err"
check "refused runs leave no file behind" test -z "$(ls -A "$d")"

# --- 3. a dropped session and a closed pipe ------------------------------------
# A slow device keeps the run going: every read from sector 8192 on waits 20 ms.
# One read at a time (--queue-depth 1): reads in flight would cross the slow
# stretch in a fraction of the time these runs need to last.
sdev=$(make_fault_device 200000 "" "8192-199999:20") || fail_test "cannot make a slow device"
d=$work/hangup
mkdir -p "$d"
(cd "$d" && exec "$scan" --queue-depth 1 --bad-list bad.txt "$sdev" >"$d.out" 2>"$d.err") &
pid=$!
sleep 1
kill -HUP "$pid"
wait "$pid"
st=$?
check_eq "SIGHUP: the run stops as by Stop (exit 130)" 130 "$st"
check "SIGHUP: the report is written" test -f "$d/kestrune.log"
check "SIGHUP: the bad-block list is written" test -f "$d/bad.txt"

d=$work/pipe
mkdir -p "$d"
(cd "$d" && "$scan" --map map.png --bad-list bad.txt "$dev" 2>"$d.err" | head -n 1 >"$d.out")
st=${PIPESTATUS[0]}
check_eq "| head -1: the run ends as it would (exit 0), not by SIGPIPE" 0 "$st"
check "| head -1: report, map and bad-block list are all written" test -f "$d/kestrune.log" -a -f "$d/map.png" -a -f "$d/bad.txt"
check_eq "| head -1: head saw the first line" 1 "$(wc -l <"$d.out")"

# --- 4. a disk that vanishes mid-run -------------------------------------------
# The daemon behind the device is killed while the run is in its slow area:
# every later read fails at once. The run must say the disk stopped
# answering, within seconds, without listing the rest of the disk as bad.
vdev=$(make_fault_device 400000 "" "8192-399999:20") || fail_test "cannot make the vanishing device"
dpid=$(faultfs_pid "$(fault_device_dir "$vdev")") || fail_test "no daemon pid"
d=$work/vanish
mkdir -p "$d"
(cd "$d" && exec "$scan" --bad-list bad.txt "$vdev" >"$d.out" 2>"$d.err") &
pid=$!
sleep 1
kill -KILL "$dpid"
t0=$EPOCHREALTIME
wait "$pid"
st=$?
t1=$EPOCHREALTIME
check_eq "vanished disk: exit 3" 3 "$st"
check "vanished disk: ended within five seconds" awk -v a="$t0" -v b="$t1" 'BEGIN { exit !(b - a < 5) }'
check "vanished disk: fewer than 100 blocks listed bad" test "$(wc -l <"$d/bad.txt")" -lt 100
check "vanished disk: Scan.log stays small" test "$(stat -c %s "$d/Scan.log")" -lt 65536
check "vanished disk: Scan.log says where, once" test "$(grep -ac 'disk stopped answering at sector' "$d/Scan.log")" -eq 1
check "vanished disk: stderr says so" grep -q "the disk stopped answering at sector" "$d.err"
check "vanished disk: the report is written" test -f "$d/kestrune.log"

# --- 5. a FIFO given as a disk -------------------------------------------------
d=$work/fifo
mkdir -p "$d"
mkfifo "$d/pipe"
t0=$EPOCHREALTIME
run "$d" st timeout 10 "$scan" "$d/pipe"
t1=$EPOCHREALTIME
check_eq "FIFO: refused (exit 2), not hung" 2 "$st"
check "FIFO: at once" awk -v a="$t0" -v b="$t1" 'BEGIN { exit !(b - a < 2) }'
check "FIFO: says it is not a disk" grep -q "not a disk" "$d.err"

# --- 6. two runs in one directory ----------------------------------------------
d=$work/two
d2=$work/other
mkdir -p "$d" "$d2"
(cd "$d" && exec "$scan" --queue-depth 1 --disk 0 "$sdev" >"$d.out1" 2>"$d.err1") &
first=$!
for ((i = 0; i < 100; ++i)); do [[ -s $d/Scan.log ]] && break; sleep 0.05; done
run "$d" st "$scan" "$dev"
check_eq "a second run in the same directory: refused (exit 2)" 2 "$st"
check "the second run says another run uses the directory" grep -q "another morvek-scan run is using" "$d.err"
run "$d2" st "$scan" "$dev"
check_eq "a run in another directory meanwhile: independent (exit 0)" 0 "$st"
kill -INT "$first"
wait "$first"
check_eq "the first run ends as its own Stop says (exit 130)" 130 "$?"
check_eq "the first run's log holds its own probe once, from its start" "GetDiskinfoNt::OpenDrive 0 ok! 1" \
	"$(head -n 1 "$d/Scan.log" | tr -d '\r') $(grep -ac 'GetDiskinfoNt::OpenDrive' "$d/Scan.log")"
check "the first run's log has no NUL bytes" has_no_nul "$d/Scan.log"
check "the first run's report is its own: written at its stop" test -f "$d/kestrune.log"

# --- 7. closed standard output, a usage error, a full file system -------------
d=$work/closed
mkdir -p "$d"
(cd "$d" && "$scan" "$dev" >&- 2>"$d.err")
check_eq "standard output closed: the run ends normally (exit 0)" 0 "$?"
check "standard output closed: no progress line went into Scan.log" lacks "remaining" "$d/Scan.log"
check "standard output closed: the report is written" test -f "$d/kestrune.log"

d=$work/usage
mkdir -p "$d"
printf 'an older log\r\n' >"$d/Scan.log"
run "$d" st "$scan" --disk 4 "$dev"
check_eq "--disk 4 with one disk: exit 2" 2 "$st"
check_eq "a usage error leaves the older log as it was" "an older log" "$(tr -d '\r' <"$d/Scan.log")"

d=$work/full
mkdir -p "$d"
mount -t tmpfs -o size=512k tmpfs "$d" || fail_test "cannot mount a small tmpfs"
lib_defer "umount '$d'"
printf 'the report of an earlier run\r\n' >"$d/kestrune.log"
dd if=/dev/zero of="$d/filler" bs=4k status=none 2>/dev/null || true
run "$d" st "$scan" "$dev"
check_eq "full file system: the run still ends normally (exit 0)" 0 "$st"
check_eq "full file system: the older report is untouched" "the report of an earlier run" "$(tr -d '\r' <"$d/kestrune.log")"
check "full file system: stderr says the report could not be written" grep -q "scan report could not be written" "$d.err"
check "full file system: no temporary file is left" no_temporary_in "$d"

# The scanned devices are still only ever opened read-only.
d=$work/readonly
mkdir -p "$d"
(cd "$d" && strace -f -qq -e trace=openat -o "$d/trace" "$scan" "$dev" >/dev/null 2>&1)
check_read_only "hostile conditions" "$d/trace" "$dev"
check "the victim disk's bytes are unchanged at the end" victim_unchanged

end_checks
