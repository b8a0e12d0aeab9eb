#!/usr/bin/env bash
# Checks that a faultfs device behaves like a disk with bad and slow sectors
# as the scanner sees it (O_DIRECT 64 KiB reads of a loop device): exactly the
# blocks that overlap a bad range fail with EIO, on every pass; a slow range
# slows exactly its own blocks; every read reaches the daemon once; and
# lib.sh leaves no loop device, mount or daemon behind, also when the script
# is killed or the daemon dies.
#
#   faultfs_test.sh FAULTFS_BINARY      (or FAULTFS=... faultfs_test.sh)
#
# Exit status: 0 passed, 1 failed, 2 usage, 77 skipped (no FUSE / loop devices).

set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
FAULTFS=${1:-${FAULTFS:-}}
if [[ -z "$FAULTFS" || ! -x "$FAULTFS" ]]; then
	echo "usage: $0 FAULTFS_BINARY (or set FAULTFS)" >&2
	exit 2
fi
FAULTFS=$(realpath "$FAULTFS")
export FAULTFS

# shellcheck source=lib.sh
source "$here/lib.sh"

[[ $EUID -eq 0 ]] || skip_test "loop devices and FUSE mounts need root"
require_fuse
require_loop


# 128 whole 64 KiB blocks and a half block at the end, whose last sector is bad;
# bad ranges inside a block, at its first and at its last sector, and over two.
readonly SECTORS=16448
readonly BLOCKS=$(((SECTORS + 127) / 128))
readonly BAD="1000-1000 2048-2048 3071-3071 5000-5127 16447-16447"
readonly SLOW_MS=500
readonly SLOW_BLOCK=64
readonly SLOW="$((SLOW_BLOCK * 128))-$((SLOW_BLOCK * 128 + 127)):$SLOW_MS"

# EIO or ok for block K: does sectors K*128 .. K*128+127 (cut at the end) meet a bad range?
expected_result() {
	local k=$1 first last r lo hi
	first=$((k * 128))
	last=$((first + 127 < SECTORS - 1 ? first + 127 : SECTORS - 1))
	for r in $BAD; do
		lo=${r%-*}
		hi=${r#*-}
		if ((lo <= last && first <= hi)); then
			echo EIO
			return
		fi
	done
	echo ok
}

# One pass over the device, one O_DIRECT dd per block. Fills RESULTS[k] with
# ok / EIO / the unexpected error text, and MICROS[k] with the time taken.
declare -a RESULTS MICROS
read_pass() {
	local dev=$1 k err t0 t1
	for ((k = 0; k < BLOCKS; ++k)); do
		t0=${EPOCHREALTIME/./}
		if err=$(read_block "$dev" "$k" 2>&1); then
			RESULTS[k]=ok
		elif [[ $err == *"Input/output error"* ]]; then
			RESULTS[k]=EIO
		else
			RESULTS[k]="error: $err"
		fi
		t1=${EPOCHREALTIME/./}
		MICROS[k]=$((t1 - t0))
	done
}

compare_results() { # PASS_NAME
	local k wrong=""
	for ((k = 0; k < BLOCKS; ++k)); do
		if [[ "${RESULTS[k]}" != "$(expected_result "$k")" ]]; then
			wrong+=" block $k: ${RESULTS[k]} (expected $(expected_result "$k"));"
		fi
	done
	if [[ -z $wrong ]]; then
		pass "$1: exactly the blocks overlapping a bad range fail with EIO ($(grep -c EIO <<<"$(printf '%s\n' "${RESULTS[@]}")") of $BLOCKS)"
	else
		fail "$1:$wrong"
	fi
}

# The trace lines a pass added must be one request per block, in order, with
# the block's offset and length and the block's result.
compare_trace() { # PASS_NAME TRACE FIRST_LINE
	local lines expected="" k len
	lines=$(tail -n +"$3" "$2")
	for ((k = 0; k < BLOCKS; ++k)); do
		len=$(((SECTORS - k * 128 >= 128 ? 128 : SECTORS - k * 128) * 512))
		expected+="$((k * 65536)) $len $(expected_result "$k")"$'\n'
	done
	if [[ "$lines"$'\n' == "$expected" ]]; then
		pass "$1: the daemon served exactly one request per read ($BLOCKS), no retries, no read-ahead"
	else
		fail "$1: daemon requests differ from the reads made:"
		diff <(printf '%s' "$expected") <(printf '%s\n' "$lines") | head -n 20
	fi
}

check_slow_blocks() { # PASS_NAME
	local k min=$((SLOW_MS * 1000)) bad=""
	((MICROS[SLOW_BLOCK] >= min)) || bad+=" block $SLOW_BLOCK took ${MICROS[SLOW_BLOCK]} us;"
	for k in $((SLOW_BLOCK - 1)) $((SLOW_BLOCK + 1)); do
		((MICROS[k] < min)) || bad+=" neighbour block $k took ${MICROS[k]} us;"
	done
	if [[ -z $bad ]]; then
		pass "$1: only the slow block waited (${MICROS[SLOW_BLOCK]} us, neighbours ${MICROS[SLOW_BLOCK - 1]} and ${MICROS[SLOW_BLOCK + 1]} us)"
	else
		fail "$1: slow range not where it belongs:$bad"
	fi
}

# Nothing of ours may remain: no loop device on DIR, no mount of DIR, no daemon, no DIR.
# shellcheck disable=SC2317 # called through check, which shellcheck does not follow
nothing_left() { # DIR PID
	! losetup -a | grep -qF "$1/" &&
		! awk -v d="$1" '$2 == d { f = 1 } END { exit !f }' /proc/mounts &&
		! [[ "$(readlink "/proc/$2/exe" 2>/dev/null)" == "$FAULTFS" ]] &&
		! [[ -e "$1" ]]
}

work=$(lib_tmpdir)
trace=$work/trace

# --- bad and slow sectors -----------------------------------------------------

dev=$(make_fault_device "$SECTORS" "$BAD" "$SLOW" --trace "$trace") || fail_test "could not make the fault device"
dir=$(fault_device_dir "$dev")
pid=$(faultfs_pid "$dir")
echo "# $dev over $dir/disk.img ($SECTORS sectors), faultfs pid $pid"
check "the loop device reads its file with direct I/O" \
	test "$(cat "/sys/block/${dev#/dev/}/loop/dio")" = 1

for pass_name in "first pass" "second pass"; do
	start=$(($(wc -l <"$trace") + 1))
	read_pass "$dev"
	compare_results "$pass_name"
	compare_trace "$pass_name" "$trace" "$start"
	check_slow_blocks "$pass_name"
done

check "a good block reads as zeros" \
	cmp -s <(dd if="$dev" bs=64k iflag=direct skip=3 count=1 status=none) <(head -c 65536 /dev/zero)

# Plain buffered reads of the file itself (as a program given the image file
# rather than the device would make) must not be cached either.
# shellcheck disable=SC2317 # called through check, which shellcheck does not follow
plain_reads() {
	local start expected k
	start=$(($(wc -l <"$trace") + 1))
	expected="7 EIO 8 ok 7 EIO 8 ok"
	for k in 7 8 7 8; do
		if dd if="$dir/disk.img" of=/dev/null bs=64k skip="$k" count=1 status=none 2>/dev/null; then
			printf '%s ok ' "$k"
		else
			printf '%s EIO ' "$k"
		fi
	done >"$work/plain"
	[[ "$(cat "$work/plain")" == "$expected " ]] &&
		[[ "$(tail -n +"$start" "$trace" | tr '\n' ' ')" == "458752 65536 EIO 524288 65536 ok 458752 65536 EIO 524288 65536 ok " ]]
}
check "buffered reads of disk.img reach the daemon every time (bad block fails twice)" plain_reads

# --- backing file: good blocks carry its bytes ----------------------------------

head -c 1048576 /dev/urandom >"$work/backing"
bdev=$(make_fault_device 2048 "100-100" "" --backing "$work/backing") || fail_test "could not make the backed device"
check "a good block of a backed device carries the backing file's bytes" \
	cmp -s <(dd if="$bdev" bs=64k iflag=direct skip=5 count=1 status=none) \
	<(dd if="$work/backing" bs=64k skip=5 count=1 status=none)
# shellcheck disable=SC2016 # $1 is expanded by the inner shell
check "a bad block of a backed device fails" \
	bash -c '! dd if="$1" of=/dev/null bs=64k iflag=direct count=1 status=none 2>/dev/null' _ "$bdev"

# --- a dead daemon: every read fails, cleanup still works -----------------------

ddev=$(make_fault_device 2048 "" "") || fail_test "could not make a third device"
ddir=$(fault_device_dir "$ddev")
dpid=$(faultfs_pid "$ddir")
kill -KILL "$dpid"
sleep 0.2
# shellcheck disable=SC2016
check "after the daemon dies a good block fails to read" \
	bash -c '! dd if="$1" of=/dev/null bs=64k iflag=direct count=1 status=none 2>/dev/null' _ "$ddev"

lib_cleanup
check "explicit cleanup leaves nothing of the first device" nothing_left "$dir" "$pid"
check "explicit cleanup leaves nothing of the dead device" nothing_left "$ddir" "$dpid"

# --- cleanup by the EXIT trap: normal exit, error exit and SIGTERM --------------

work=$(lib_tmpdir) # the cleanup above removed the first one

# shellcheck disable=SC2016 # expanded by the child shell
child_script='
	set -eu
	source "$1"
	dev=$(make_fault_device 4096 "10-10" "")
	dir=$(fault_device_dir "$dev")
	echo "$dir $(faultfs_pid "$dir")" >"$2"
	case $3 in
	exit) exit 0 ;;
	error) false ;;
	term) while :; do sleep 0.1; done ;;
	esac'
for how in exit error term; do
	info=$work/child.$how
	bash -c "$child_script" child "$here/lib.sh" "$info" "$how" &
	child=$!
	for ((i = 0; i < 200; ++i)); do
		[[ -s $info ]] && break
		sleep 0.05
	done
	[[ $how == term ]] && kill -TERM "$child"
	wait "$child"
	read -r cdir cpid <"$info" || true
	if [[ -z "${cdir:-}" ]]; then
		fail "child ($how) did not make its device"
	else
		check "a script that ends by $how leaves nothing behind" nothing_left "$cdir" "$cpid"
	fi
done

end_checks
