#!/usr/bin/env bash
# morvek-scan --list on two real loop devices: the disk list's entries, the
# two size labels, the device, its size in bytes and in decimal units, the
# serial number field, the probe's lines in Scan.log (also in an output
# directory), a path that cannot be opened, the usage errors, and that the
# devices are only opened read-only.
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

listed=$("$scan" --list "$a" "$b")
# The scan window's three texts come first, as they always have.
check_eq "list output, the window's fields" "$(printf 'Disk 0: \t37 G\t15 M\nDisk 1: \t486 M\t199 K')" \
	"$(cut -f 1-3 <<<"$listed")"
# Then the device, its exact size, the size as disk labels read it, and the
# serial number: loop devices answer no identify command, so it is empty.
check_eq "list output, all seven fields" \
	"$(printf 'Disk 0: \t37 G\t15 M\t%s\t40015987200\t40.0 GB\t\nDisk 1: \t486 M\t199 K\t%s\t512000000\t512 MB\t' "$a" "$b")" \
	"$listed"
check_eq "every line has seven TAB-separated fields" "7 7" "$(awk -F '\t' '{ print NF }' <<<"$listed" | paste -sd ' ')"

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
check_eq "list with a missing path" "$(printf 'Disk 0: \t486 M\t199 K\t%s\t512000000\t512 MB\t' "$b")" "$out"
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
listed=$("$scan" --list "$t3" "$t16")
check_eq "list of a 3 TiB and a 16 TB device" "$(printf 'Disk 0: \t3071 G\t1258 M\nDisk 1: \t14901 G\t6103 M')" \
	"$(cut -f 1-3 <<<"$listed")"
check_eq "their sizes in bytes and as their labels read" \
	"$(printf '3298534883328\t3.2 TB\n16000000000000\t16.0 TB')" "$(cut -f 5-6 <<<"$listed")"
log=$(cat Scan.log; echo .)
check "Scan.log: the 3 TiB device's 401,024 cylinders" log_has_line "cyln=401024, head=255, sector=63"
check "Scan.log: the 16 TB device's 1,945,222 cylinders" log_has_line "cyln=1945222, head=255, sector=63"
cd "$work"

# --output-dir: Scan.log goes there, not into the current directory.
mkdir "$work/out" "$work/elsewhere" && cd "$work/elsewhere"
st=0
"$scan" --list --output-dir "$work/out" "$a" >/dev/null 2>"$work/err" || st=$?
check_eq "--list --output-dir: exit 0" 0 "$st"
check "--list --output-dir: Scan.log in the output directory" test -s "$work/out/Scan.log"
check_eq "--list --output-dir: nothing in the current directory" "" "$(ls -A)"
st=0
"$scan" --list --output-dir "$work/no-such-dir" "$a" >"$work/out2" 2>"$work/err" || st=$?
check_eq "--list into a missing output directory: exit 2, one line, no list" "2 1 0" \
	"$st $(wc -l <"$work/err") $(wc -c <"$work/out2")"
cd "$work"

# The listed devices are opened read-only: no open asks for write access.
strace -f -e trace=open,openat -o "$work/trace" "$scan" --list "$a" "$b" >/dev/null
check_read_only "--list" "$work/trace" "$a"
check_read_only "--list" "$work/trace" "$b"

end_checks
