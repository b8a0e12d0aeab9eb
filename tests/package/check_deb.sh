#!/usr/bin/env bash
# The Debian package against what it must hold: the program, its manual page
# and its bash completion under /usr; its runtime dependencies declared
# (libpng, liburing, not FUSE), smartmontools recommended; the version of
# res/Version.h; and the packaged program runs.
#
#   check_deb.sh BUILD_DIR      (after cmake --build BUILD_DIR --target package)
#
# Exit status: 0 passed, 1 failed.
set -u
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# shellcheck source=../e2e/lib.sh
source "$here/../e2e/lib.sh"

version=$(sed -n 's/^#define MORVEK_VERSION_TEXT "\(.*\)"$/\1/p' "$here/../../res/Version.h")
mapfile -t debs < <(find "$build" -maxdepth 1 -name "morvek-scan_${version}_*.deb")
((${#debs[@]} == 1)) || fail_test "expected one morvek-scan_${version}_*.deb in $build, found ${#debs[@]}"
deb=${debs[0]}
echo "# $deb"

contents=$(dpkg-deb -c "$deb" | awk '{ print $NF }')
for file in ./usr/bin/morvek-scan ./usr/share/man/man1/morvek-scan.1 ./usr/share/bash-completion/completions/morvek-scan; do
	check "the package holds $file" grep -qxF "$file" <<<"$contents"
done
check_eq "nothing else but directories" "" \
	"$(grep -vE '/$' <<<"$contents" | grep -vxF -e ./usr/bin/morvek-scan -e ./usr/share/man/man1/morvek-scan.1 \
		-e ./usr/share/bash-completion/completions/morvek-scan)"
check_eq "package name" morvek-scan "$(dpkg-deb -f "$deb" Package)"
check_eq "package version: res/Version.h's" "$version" "$(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
echo "# Depends: $depends"
check "Depends: libpng" grep -qE '(^|, )libpng16-16( |,|$)' <<<"$depends"
check "Depends: the C library" grep -qE '(^|, )libc6( |,|$)' <<<"$depends"
check "Depends: liburing (the reads in flight)" grep -qE '(^|, )liburing2( |,|$)' <<<"$depends"
check "Depends: no FUSE" test -z "$(grep -oE 'fuse[^,]*' <<<"$depends")"
check_eq "Recommends: smartmontools" smartmontools "$(dpkg-deb -f "$deb" Recommends)"

dir=$(lib_tmpdir)
dpkg-deb -x "$deb" "$dir"
check_eq "the packaged program runs and knows its version" "morvek-scan $version" "$("$dir/usr/bin/morvek-scan" --version)"
# Every library the packaged program is linked against comes from a declared
# dependency or from one of theirs (zlib comes with libpng).
declared=$(sed 's/ *([^)]*)//g; s/, */\n/g' <<<"$depends")
also=$(while read -r p; do dpkg-query -W -f='${Depends}\n' "$p" 2>/dev/null; done <<<"$declared" |
	sed 's/ *([^)]*)//g; s/ *|[^,]*//g; s/, */\n/g')
missing=""
while read -r lib; do
	owner=""
	# dpkg knows a library by the path its package installed (usrmerge puts
	# /lib under /usr, and some packages name the one, some the other).
	for path in "$lib" "/usr$lib" "$(realpath "$lib")" "/usr$(realpath "$lib")"; do
		owner=$(dpkg -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1)
		[[ -n $owner ]] && break
	done
	[[ -n $owner ]] || { missing+=" ?($lib)"; continue; }
	grep -qxF "$owner" <<<"$declared"$'\n'"$also" || missing+=" $owner($lib)"
done < <(ldd "$dir/usr/bin/morvek-scan" | awk '$2 == "=>" { print $3 }')
check_eq "every library the program is linked against is declared (or comes with one)" "" "$missing"

end_checks
