#!/usr/bin/env bash
# wine_test.sh WINE_RUN PREFIX TEST_EXE WORK_DIR
# Maps two sparse image files as physical drives 0 and 2 of a Wine prefix of
# this test's own, writes marker texts into chosen sectors, makes the prefix
# report Windows 98 to the test program and runs it. The links are removed
# again whatever happens; the images stay in WORK_DIR (they take no space).
set -euo pipefail
wine_run=$1 prefix=$2 exe=$3 work=$4
export WINEPREFIX=$prefix WINEDEBUG=-all
[ -x /usr/lib/wine/wine64 ] || { echo "skip: wine64 is not installed"; exit 77; }

mkdir -p "$work"
cd "$work"
rm -f Scan.log d0.img d2.img

# First use makes the prefix (wine-run holds its lock meanwhile).
"$wine_run" --prefix "$prefix" "$exe" --ready

drive0=$work/d0.img
drive2=$work/d2.img
truncate -s $((1000000 * 512)) "$drive0"
truncate -s $((9000000 * 512)) "$drive2"
mark() {  # IMAGE DRIVE SECTOR
  printf 'MORVEK drive %d sector %u' "$2" "$3" | dd of="$1" bs=512 seek="$3" conv=notrunc status=none
}
mark "$drive0" 0 0
mark "$drive0" 0 12345
mark "$drive0" 0 999999
mark "$drive2" 2 8388607
mark "$drive2" 2 8388608
mark "$drive2" 2 8400000

links=("$prefix/dosdevices/physicaldrive0" "$prefix/dosdevices/physicaldrive2")
trap 'rm -f "${links[@]}"' EXIT
ln -sfn "$drive0" "${links[0]}"
ln -sfn "$drive2" "${links[1]}"
rm -f "$prefix/dosdevices/physicaldrive1"

"$wine_run" --prefix "$prefix" reg add 'HKCU\Software\Wine\AppDefaults\halvex32_test.exe' \
  /v Version /t REG_SZ /d win98 /f >/dev/null
status=0
"$wine_run" --prefix "$prefix" "$exe" || status=$?
/usr/lib/wine/wineserver -w
exit $status
