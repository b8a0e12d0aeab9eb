# shellcheck shell=bash
# Shared helpers for end-to-end tests and benchmarks on Linux: the checks of
# a test script, sparse images, loop devices and faultfs devices with bad and
# slow sectors.
#
#   source "$(dirname "$0")/lib.sh"
#
# Everything created through these functions is recorded and undone in reverse
# order when the sourcing shell exits (normally, on error, or on INT/TERM/HUP),
# or earlier by lib_cleanup. Nothing is ever done to a loop device, mount or
# file this shell did not create. The record lives in a file, not in shell
# variables, so functions called inside $(...) register their resources too.
#
# Sourcing installs an EXIT trap; scripts should not set their own but hand
# extra cleanup to lib_defer. Scripts may use `set -e` and `set -u`. Create
# resources one at a time (not from parallel background jobs): the record is
# one file rewritten in place.
#
# Ranges are in 512-byte sectors, both ends included: bad ranges "1000-1000
# 5000-5127" (spaces or commas between them), slow ranges "8192-8319:300"
# (milliseconds per read that overlaps the range).

if [[ -n "${_LIB_E2E_LOADED:-}" ]]; then
	return 0
fi
_LIB_E2E_LOADED=1

# Exit status ctest reports as "skipped" (SKIP_RETURN_CODE 77).
readonly LIB_SKIP=77

_LIB_OWNER=$BASHPID
_LIB_STATE=$(mktemp -d "${TMPDIR:-/tmp}/morvek-e2e.XXXXXX")
_LIB_REGISTRY=$_LIB_STATE/resources
: >"$_LIB_REGISTRY"

lib_log() {
	printf '%s\n' "$*" >&2
}

# Checks of a test script: each prints "ok - ..." or "not ok - ..." and is
# counted; the script ends with end_checks, which gives the tally.
passes=0 failures=0 skips=0
pass() {
	echo "ok - $*"
	passes=$((passes + 1))
}
fail() {
	echo "not ok - $*"
	failures=$((failures + 1))
}
# A check that cannot run here, and why.
skip_check() {
	echo "ok - # SKIP $*"
	skips=$((skips + 1))
}
check() { # DESCRIPTION COMMAND...
	local what=$1
	shift
	if "$@"; then pass "$what"; else fail "$what"; fi
}
check_eq() { # DESCRIPTION EXPECTED ACTUAL
	if [[ "$2" == "$3" ]]; then
		pass "$1"
	else
		fail "$1: expected $(printf %q "$2"), got $(printf %q "$3")"
	fi
}
# Predicates for check that say what they got when they fail.
equals() { # ACTUAL EXPECTED
	[[ "$1" == "$2" ]] || { printf '      got "%s", expected "%s"\n' "$1" "$2"; return 1; }
}
matches() { # ACTUAL REGEX
	[[ "$1" =~ $2 ]] || { printf '      got "%s", expected to match %s\n' "$1" "$2"; return 1; }
}

# Prints the tally and ends the script: status 0 when no check failed, 1
# otherwise (a script without a single check passed has failed too).
end_checks() {
	echo "$passes passed, $failures failed, $skips skipped"
	if ((failures > 0 || passes == 0)); then
		echo "FAILED"
		exit 1
	fi
	echo "PASSED"
	exit 0
}

# Prints MESSAGE and ends the script as skipped.
skip_test() {
	lib_log "SKIP: $*"
	exit "$LIB_SKIP"
}

# Prints MESSAGE and ends the script as failed.
fail_test() {
	lib_log "FAIL: $*"
	exit 1
}

# --- bookkeeping ------------------------------------------------------------

_lib_register() { # KIND ARG [ARG2]
	printf '%s\t%s\t%s\n' "$1" "$2" "${3:-}" >>"$_LIB_REGISTRY"
}

_lib_forget() { # KIND ARG
	local kind=$1 arg=$2 tmp=$_LIB_STATE/resources.new
	awk -F '\t' -v k="$kind" -v a="$arg" '!($1 == k && $2 == a)' "$_LIB_REGISTRY" >"$tmp" &&
		mv -f "$tmp" "$_LIB_REGISTRY"
}

_lib_lookup() { # KIND ARG -> prints the recorded second value, fails if unknown
	awk -F '\t' -v k="$1" -v a="$2" '$1 == k && $2 == a { print $3; found = 1 } END { exit !found }' \
		"$_LIB_REGISTRY"
}

# Runs COMMAND (a shell string) at cleanup, in reverse order with everything else.
lib_defer() {
	_lib_register cmd "$*"
}

# Prints a new temporary directory, removed at cleanup (unless something is
# still mounted on or under it).
lib_tmpdir() {
	local dir
	dir=$(mktemp -d "${TMPDIR:-/tmp}/morvek-e2e-tmp.XXXXXX") && dir=$(realpath -e "$dir") || return 1
	_lib_register dir "$dir"
	printf '%s\n' "$dir"
}

_lib_is_mounted() { # DIR: anything mounted on DIR or below it
	awk -v d="$1" '$2 == d || index($2, d "/") == 1 { found = 1 } END { exit !found }' /proc/mounts
}

# --- capabilities -----------------------------------------------------------

# Succeeds when a loop device can really be attached (not just when the device
# nodes exist): attaches a tiny image to a free device and detaches it again.
have_loop() {
	[[ -c /dev/loop-control && -r /dev/loop-control ]] || return 1
	command -v losetup >/dev/null || return 1
	local probe dev
	probe=$(mktemp "$_LIB_STATE/loop-probe.XXXXXX") || return 1
	truncate -s 1M "$probe" || return 1
	dev=$(losetup -r -f --show "$probe" 2>/dev/null) || { rm -f "$probe"; return 1; }
	losetup -d "$dev"
	rm -f "$probe"
}

# Succeeds when /dev/fuse can be opened and fusermount3 exists.
have_fuse() {
	[[ -c /dev/fuse ]] || return 1
	command -v fusermount3 >/dev/null || return 1
	{ : <>/dev/fuse; } 2>/dev/null
}

require_loop() {
	have_loop || skip_test "loop devices are not usable here (/dev/loop-control, losetup)"
}

require_fuse() {
	have_fuse || skip_test "FUSE is not usable here (/dev/fuse, fusermount3)"
}

# --- images and loop devices ------------------------------------------------

# Runs COMMAND in DIR (made if need be), its stdout to DIR/out and stderr to
# DIR/err, and puts its exit status into the variable STATUS_VAR.
run_in() { # DIR STATUS_VAR COMMAND ARGS...
	local dir=$1 var=$2 status
	shift 2
	mkdir -p "$dir"
	(cd "$dir" && "$@" >"$dir/out" 2>"$dir/err")
	status=$?
	printf -v "$var" '%s' "$status"
}

# Creates a sparse file of SECTORS x 512 bytes at PATH (which must not exist);
# it is deleted at cleanup.
make_sparse_image() {
	local path=$1 sectors=$2
	[[ "$sectors" =~ ^[0-9]+$ ]] || { lib_log "make_sparse_image: bad sector count '$sectors'"; return 1; }
	if [[ -e "$path" ]]; then
		lib_log "make_sparse_image: $path exists; not touching it"
		return 1
	fi
	(set -o noclobber && : >"$path") || return 1
	_lib_register file "$path"
	truncate -s "$((sectors * 512))" "$path"
}

# Attaches FILE to a free loop device and prints its path. The device is
# read-only unless --rw is given (a faultfs file is read-only either way).
# With --direct-io the device reads its file with O_DIRECT (no page cache
# under it); the function fails if the kernel did not grant that.
attach_loop() {
	local file=$1 dio=off ro=-r dev="" name opt i
	shift
	for opt in "$@"; do
		case $opt in
		--direct-io) dio=on ;;
		--rw) ro= ;;
		*) lib_log "attach_loop: unknown option $opt"; return 1 ;;
		esac
	done
	file=$(realpath -e "$file") || return 1
	# Another session may take the free device between losetup's look-up and
	# its attach (EBUSY); the next try gets another free one.
	for ((i = 0; i < 5; ++i)); do
		dev=$(losetup ${ro:+"$ro"} --direct-io="$dio" -f --show "$file") && break
		dev=""
		sleep 0.1
	done
	[[ -n "$dev" ]] || return 1
	name=${dev#/dev/}
	_lib_register loop "$dev" "$file"
	if [[ $dio == on && "$(cat "/sys/block/$name/loop/dio" 2>/dev/null)" != 1 ]]; then
		lib_log "attach_loop: $dev did not get direct I/O on $file"
		detach_loop "$dev"
		return 1
	fi
	printf '%s\n' "$dev"
}

_lib_loop_backing() { # DEV -> current backing file, empty when detached
	cat "/sys/block/${1#/dev/}/loop/backing_file" 2>/dev/null || true
}

# Detaches DEV, which must be a loop device attached by this script and still
# backed by the same file; anything else is refused.
detach_loop() {
	local dev=$1 file i
	file=$(_lib_lookup loop "$dev") || { lib_log "detach_loop: $dev was not attached here; leaving it"; return 1; }
	_lib_forget loop "$dev"
	if [[ "$(_lib_loop_backing "$dev")" != "$file" ]]; then
		return 0 # already gone, perhaps reused by someone else since: not ours now
	fi
	losetup -d "$dev" || return 1
	# The device lets go of its file asynchronously; wait so that an unmount
	# of the file system under it does not fail with EBUSY.
	for ((i = 0; i < 100; ++i)); do
		[[ "$(_lib_loop_backing "$dev")" == "$file" ]] || return 0
		sleep 0.05
	done
	lib_log "detach_loop: $dev still holds $file (still open by someone?)"
	return 1
}

# --- faultfs ----------------------------------------------------------------

_lib_faultfs_bin() {
	if [[ -z "${FAULTFS:-}" || ! -x "$FAULTFS" ]]; then
		lib_log "faultfs binary not found: set FAULTFS to the built tests/tools/faultfs"
		return 1
	fi
}

# A process is known by "PID STARTTIME" (start time in clock ticks since boot),
# so a pid reused by another process after ours ended is never mistaken for it.
_lib_proc_id() { # PID -> "PID STARTTIME" while the process runs (zombies have ended)
	local stat
	stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
	stat=${stat##*) } # fields after the command name, which may hold spaces
	read -r -a stat <<<"$stat"
	[[ ${stat[0]} != Z ]] || return 1
	printf '%s %s\n' "$1" "${stat[19]}"
}

_lib_is_our_daemon() { # "PID STARTTIME": that very process still runs
	[[ "$(_lib_proc_id "${1%% *}")" == "$1" ]]
}

# Mounts faultfs on DIR (an existing empty directory) serving DIR/disk.img of
# SIZE_BYTES bytes, and waits until the file is there. BAD_RANGES and
# SLOW_RANGES may be empty. Extra arguments go to faultfs, e.g. --trace FILE
# or --backing FILE. The daemon runs in the foreground as a background job;
# its output goes to a log that mount_faultfs shows if the mount fails.
mount_faultfs() {
	local dir=$1 size=$2 bad=${3:-} slow=${4:-} pid i log r
	local -a args list
	shift 4 2>/dev/null || shift $#
	_lib_faultfs_bin || return 1
	dir=$(realpath -e "$dir") || return 1
	if _lib_is_mounted "$dir"; then
		lib_log "mount_faultfs: something is already mounted on $dir"
		return 1
	fi
	args=("$dir" --size "$size")
	read -r -a list <<<"${bad//,/ }"
	for r in "${list[@]}"; do args+=(--bad "$r"); done
	read -r -a list <<<"${slow//,/ }"
	for r in "${list[@]}"; do args+=(--slow "$r"); done
	args+=("$@" -f)
	log=$(mktemp "$_LIB_STATE/faultfs.XXXXXX.log") || return 1
	# Detached from our stdout so that $(make_fault_device ...) does not wait for it.
	"$FAULTFS" "${args[@]}" </dev/null >"$log" 2>&1 &
	pid=$(_lib_proc_id $!) || pid="$! gone"
	_lib_register fuse "$dir" "$pid"
	for ((i = 0; i < 200; ++i)); do
		if [[ -f "$dir/disk.img" ]] && _lib_is_mounted "$dir"; then
			return 0
		fi
		if ! _lib_is_our_daemon "$pid"; then
			lib_log "mount_faultfs: faultfs exited: $(cat "$log")"
			unmount_faultfs "$dir" 2>/dev/null
			return 1
		fi
		sleep 0.025
	done
	lib_log "mount_faultfs: $dir/disk.img did not appear within 5 s"
	unmount_faultfs "$dir"
	return 1
}

# Unmounts a faultfs that mount_faultfs mounted on DIR and ends its daemon.
unmount_faultfs() {
	local dir=$1 pid i
	dir=$(realpath -m "$dir")
	pid=$(_lib_lookup fuse "$dir") || { lib_log "unmount_faultfs: $dir was not mounted here; leaving it"; return 1; }
	_lib_forget fuse "$dir"
	for ((i = 0; i < 40; ++i)); do
		_lib_is_mounted "$dir" || break
		fusermount3 -u "$dir" 2>/dev/null && break
		sleep 0.05 # EBUSY right after a loop detach: try again shortly
	done
	if _lib_is_our_daemon "$pid"; then
		for ((i = 0; i < 40; ++i)); do
			_lib_is_our_daemon "$pid" || break
			sleep 0.05
		done
		if _lib_is_our_daemon "$pid"; then
			kill -TERM "${pid%% *}" 2>/dev/null # faultfs unmounts itself on SIGTERM
			sleep 0.2
		fi
		_lib_is_our_daemon "$pid" && kill -KILL "${pid%% *}" 2>/dev/null
	fi
	if _lib_is_mounted "$dir"; then
		lib_log "unmount_faultfs: $dir still busy; detaching it lazily"
		fusermount3 -u -z "$dir" 2>/dev/null || umount -l "$dir"
	fi
	! _lib_is_mounted "$dir"
}

# Makes a loop device in direct-I/O mode over a fresh faultfs file of SECTORS
# sectors with the given bad and slow ranges, and prints the device path.
# Extra arguments go to faultfs (e.g. --trace FILE, --backing FILE).
# Cleanup detaches the device, unmounts the file system and removes its
# mount point.
make_fault_device() {
	local sectors=$1 bad=${2:-} slow=${3:-} dir dev
	shift 3 2>/dev/null || shift $#
	[[ "$sectors" =~ ^[0-9]+$ ]] || { lib_log "make_fault_device: bad sector count '$sectors'"; return 1; }
	dir=$(lib_tmpdir) || return 1
	mount_faultfs "$dir" "$((sectors * 512))" "$bad" "$slow" "$@" || return 1
	dev=$(attach_loop "$dir/disk.img" --direct-io) || return 1
	printf '%s\n' "$dev"
}

# Prints the faultfs mount point under a device made by make_fault_device.
fault_device_dir() {
	local file
	file=$(_lib_lookup loop "$1") || return 1
	dirname "$file"
}

# Prints the pid of the faultfs daemon serving DIR (to simulate a dead device).
faultfs_pid() {
	local id
	id=$(_lib_lookup fuse "$(realpath -m "$1")") || return 1
	printf '%s\n' "${id%% *}"
}

# --- reading ----------------------------------------------------------------

# Reads 64 KiB block K of DEV once with O_DIRECT, as the scanner does. Returns
# 0 on success; on failure returns 1 and prints dd's error to stderr.
read_block() {
	dd if="$1" of=/dev/null bs=64k iflag=direct skip="$2" count=1 status=none
}

# Drops the page cache (for cold-cache benchmarks).
drop_caches() {
	sync && echo 3 >/proc/sys/vm/drop_caches
}

# The device was opened, and never for writing: every open of DEVICE in the
# strace log TRACE (strace -f -e trace=openat -o TRACE) asks for O_RDONLY.
check_read_only() { # WHAT TRACE DEVICE
	local opens
	opens=$(grep -F "\"$3\"" "$2" || true) # none is a failure of its own below
	if [[ -z $opens ]]; then
		fail "$1: $3 was never opened"
	elif grep -qE 'O_WRONLY|O_RDWR|O_CREAT|O_TRUNC' <<<"$opens"; then
		fail "$1: $3 opened for writing: $opens"
	elif grep -vqE 'O_RDONLY' <<<"$opens"; then
		fail "$1: an open of $3 without O_RDONLY: $opens"
	else
		pass "$1: $3 opened $(wc -l <<<"$opens") times, always O_RDONLY"
	fi
}

# --- cleanup ----------------------------------------------------------------

# Undoes everything recorded, newest first. Safe to call more than once; runs
# by itself when the script exits.
lib_cleanup() {
	local -
	set +e # one step failing must not stop the others
	[[ $BASHPID == "$_LIB_OWNER" ]] || return 0
	[[ -f "$_LIB_REGISTRY" ]] || return 0
	local kind arg undo=$_LIB_STATE/undo
	tac "$_LIB_REGISTRY" >"$undo" || return 0
	while IFS=$'\t' read -r -u 3 kind arg _; do
		case $kind in
		loop) detach_loop "$arg" || true ;;
		fuse) unmount_faultfs "$arg" || true ;;
		file) rm -f -- "$arg"; _lib_forget file "$arg" ;;
		dir)
			if _lib_is_mounted "$arg"; then
				lib_log "cleanup: $arg is still mounted; not removing it"
			else
				rm -rf --one-file-system -- "$arg"
			fi
			_lib_forget dir "$arg"
			;;
		cmd) _lib_forget cmd "$arg"; eval "$arg" || true ;;
		esac
	done 3<"$undo"
	rm -f "$undo"
}

_lib_on_exit() {
	local status=$?
	set +e
	lib_cleanup
	[[ $BASHPID == "$_LIB_OWNER" ]] && rm -rf --one-file-system -- "$_LIB_STATE"
	exit "$status"
}

trap _lib_on_exit EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
