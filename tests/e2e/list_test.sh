#!/usr/bin/env bash
# morvek-scan --list on two real loop devices: the disk list's entries, the
# two size labels, the probe's lines in Scan.log, a path that cannot be
# opened, the usage errors, and that the devices are only opened read-only.
#
# MORVEK_SCAN names the morvek-scan binary.
# Exit status: 0 passed, 1 failed, 77 skipped (no loop devices).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scan=${MORVEK_SCAN:?MORVEK_SCAN names the morvek-scan binary}
scan=$(realpath "$scan")

# shellcheck source=lib.sh
source "$here/lib.sh"

require_loop

# a: 4865 whole cylinders of 255 x 63 sectors (37 G); b: 62 and a part of one.
work=$(lib_tmpdir)
make_sparse_image "$work/a.img" 78156225
make_sparse_image "$work/b.img" 1000000
a=$(attach_loop "$work/a.img") || fail_test "cannot attach a loop device"
b=$(attach_loop "$work/b.img") || fail_test "cannot attach a loop device"
cd "$work"

check_eq "list output" "$(printf 'Disk 0: \t37 G\t15 M\nDisk 1: \t486 M\t199 K')" "$("$scan" --list "$a" "$b")"

# Each probe line is followed by an empty line (CR LF line ends).
log=$(cat Scan.log; echo .) # the dot keeps the trailing line ends
# shellcheck disable=SC2317 # called through check, which shellcheck does not follow
log_has_line() { [[ $log == *"$1"$'\r\n\r\n'* ]]; }
for line in "GetDiskinfoNt::OpenDrive 0 ok!" "MediaType=12, drive=0" "cyln=4865, head=255, sector=63" \
	"GetDiskinfoNt::OpenDrive 1 ok!" "MediaType=12, drive=1" "cyln=62, head=255, sector=63"; do
	check "Scan.log has '$line' and an empty line after it" log_has_line "$line"
done

# A path that cannot be opened is skipped like an absent drive, and said so.
st=0
out=$("$scan" --list "$work/missing.img" "$b" 2>"$work/err") || st=$?
check_eq "status with one usable disk" 0 "$st"
check_eq "list with a missing path" "$(printf 'Disk 0: \t486 M\t199 K')" "$out"
check "a word about the missing path" grep -qF "skipped $work/missing.img" "$work/err"

st=0
"$scan" --list "$work/missing.img" >/dev/null 2>"$work/err" || st=$?
check_eq "status with no usable disk" 2 "$st"
st=0
"$scan" --bogus >/dev/null 2>"$work/err2" || st=$?
check_eq "status for an unknown option" 2 "$st"
check_eq "unknown option message lines" 1 "$(wc -l <"$work/err2")"

# Disks past 2^32 sectors: a 3 TiB and a 16 TB device (sparse files).
make_sparse_image "$work/3t.img" $((3 * 2 ** 40 / 512))
make_sparse_image "$work/16t.img" $((16000000000000 / 512))
t3=$(attach_loop "$work/3t.img") || fail_test "cannot attach a loop device"
t16=$(attach_loop "$work/16t.img") || fail_test "cannot attach a loop device"
mkdir "$work/big" && cd "$work/big"
check_eq "list of a 3 TiB and a 16 TB device" "$(printf 'Disk 0: \t3071 G\t1258 M\nDisk 1: \t14901 G\t6103 M')" \
	"$("$scan" --list "$t3" "$t16")"
log=$(cat Scan.log; echo .)
check "Scan.log: the 3 TiB device's 401,024 cylinders" log_has_line "cyln=401024, head=255, sector=63"
check "Scan.log: the 16 TB device's 1,945,222 cylinders" log_has_line "cyln=1945222, head=255, sector=63"
cd "$work"

# The listed devices are opened read-only: no open asks for write access.
strace -f -e trace=open,openat -o "$work/trace" "$scan" --list "$a" "$b" >/dev/null
check_read_only "--list" "$work/trace" "$a"
check_read_only "--list" "$work/trace" "$b"

end_checks
