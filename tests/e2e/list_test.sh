#!/usr/bin/env bash
# morvek-scan --list on two real loop devices: the disk list's entries, the
# two size labels, the probe's lines in Scan.log, and a path that cannot be
# opened.
set -euo pipefail
scan=${MORVEK_SCAN:?MORVEK_SCAN names the morvek-scan binary}
[ -e /dev/loop-control ] || { echo "SKIP: no loop devices on this machine"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/morvek-list.XXXXXX")
loops=()
cleanup() {
  for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

truncate -s $((78156225 * 512)) "$work/a.img"
truncate -s $((1000000 * 512)) "$work/b.img"
a=$(losetup -f --show "$work/a.img") || { echo "SKIP: cannot attach a loop device"; exit 77; }
loops+=("$a")
b=$(losetup -f --show "$work/b.img")
loops+=("$b")

cd "$work"
fail=0
check() { # what expected actual
  if [ "$2" != "$3" ]; then echo "FAIL: $1"; echo "  expected: $(printf %q "$2")"; echo "  actual:   $(printf %q "$3")"; fail=1; fi
}

out=$("$scan" --list "$a" "$b")
check "list output" "$(printf 'Disk 0: \t37 G\t15 M\nDisk 1: \t486 M\t199 K')" "$out"

log=$(cat Scan.log; echo .)  # the dot keeps the trailing line ends
crlf=$'\r\n'
for line in "GetDiskinfoNt::OpenDrive 0 ok!" "MediaType=12, drive=0" "cyln=4865, head=255, sector=63" \
            "GetDiskinfoNt::OpenDrive 1 ok!" "MediaType=12, drive=1" "cyln=62, head=255, sector=63"; do
  case "$log" in *"$line$crlf$crlf"*) ;; *) echo "FAIL: Scan.log lacks '$line'"; fail=1 ;; esac
done

# A path that cannot be opened is skipped like an absent drive, and said so.
set +e
out=$("$scan" --list "$work/missing.img" "$b" 2>"$work/err")
status=$?
set -e
check "status with one usable disk" 0 "$status"
check "list with a missing path" "$(printf 'Disk 0: \t486 M\t199 K')" "$out"
grep -q "skipped $work/missing.img" "$work/err" || { echo "FAIL: no word about the missing path"; fail=1; }

set +e
"$scan" --list "$work/missing.img" >/dev/null 2>"$work/err"; status=$?
"$scan" --bogus >/dev/null 2>"$work/err2"; status2=$?
set -e
check "status with no usable disk" 2 "$status"
check "status for an unknown option" 2 "$status2"
check "unknown option message lines" 1 "$(wc -l <"$work/err2")"

# The scanned devices are opened read-only: no open asks for write access.
strace -f -e trace=open,openat -o "$work/trace" "$scan" --list "$a" "$b" >/dev/null
if grep -E "\"($a|$b)\"" "$work/trace" | grep -qE 'O_WRONLY|O_RDWR'; then
  echo "FAIL: a device was opened for writing"; grep -E "\"($a|$b)\"" "$work/trace"; fail=1
fi
grep -qE "\"$a\", O_RDONLY" "$work/trace" || { echo "FAIL: $a was not opened read-only"; fail=1; }

[ $fail = 0 ] && echo "list_test: all checks passed"
exit $fail
