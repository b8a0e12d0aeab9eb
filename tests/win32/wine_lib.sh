# shellcheck shell=bash
# Shared pieces of the end-to-end tests that run MorvekScan.exe under Wine on
# a private X server: their options, the Wine prefix, image files as physical
# drives, the X server, the driver program and the scan report. The checks and
# the cleanup are tests/e2e/lib.sh's, which this file sources.
#
#   source "$here/wine_lib.sh"
#   wine_parse_args "app driver prefix work docs?" "$@"
#   wine_require                  # skips the test where wine64 or Xvfb is missing
#   wine_setup                    # absolute paths, Wine's environment
#   wine_prefix STAMP FILE HOOK   # kept between runs, remade when STAMP changes
#   wine_reset_drives             # no drive links but those made below
#   wine_image_drive 0 SECTORS    # a sparse image as physicaldrive0
#   wine_start_x FIRST LAST       # Xvfb on a free display number in FIRST..LAST
#
# The functions below use the variables the options fill: prefix, work and
# driver.

# shellcheck source=../e2e/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib.sh"

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
# The options a script may take, filled by wine_parse_args.
# shellcheck disable=SC2034 # read by the scripts that source this file
app='' driver='' dll='' prefix='' work='' docs=''

_wine_usage() { # MESSAGE
	echo "$(basename "$0"): $*" >&2
	echo "usage: see the top of $0" >&2
	exit 2
}

# Reads "--NAME VALUE" options into variables of the same names. NAMES lists
# the options the script takes; one ending in "?" may be left out (its
# variable is then empty). Anything else is a usage error (exit 2).
wine_parse_args() { # NAMES ARGS...
	local -a _names
	local _option _name
	read -r -a _names <<<"$1"
	shift
	for _option in "${_names[@]}"; do printf -v "${_option%\?}" '%s' ""; done
	while (($# > 0)); do
		_name=${1#--}
		if [[ $1 != --* || (" ${_names[*]} " != *" $_name "* && " ${_names[*]} " != *" $_name? "*) ]]; then
			_wine_usage "unknown argument $1"
		fi
		(($# >= 2)) || _wine_usage "$1 needs a value"
		printf -v "$_name" '%s' "$2"
		shift 2
	done
	for _option in "${_names[@]}"; do
		[[ $_option == *\? || -n ${!_option} ]] || _wine_usage "--$_option is missing"
	done
}

# Ends the test as skipped where the two things it cannot do without are
# missing.
wine_require() {
	command -v Xvfb >/dev/null || skip_test "Xvfb is not installed (apt-get install xvfb xauth)"
	[[ -x $wine ]] || skip_test "wine64 is not installed (apt-get install wine wine64)"
}

# Makes the paths of the options absolute (app, driver and dll must exist;
# work and docs are made; prefix's parent is made) and sets Wine's
# environment: the prefix, no debug output, no Mono or Gecko installer, no
# menu entries.
wine_setup() {
	local name path
	for name in app driver dll; do
		[[ -n ${!name:-} ]] || continue
		path=$(realpath -e "${!name}") || fail_test "--$name: no such file ${!name}"
		printf -v "$name" '%s' "$path"
	done
	for name in work docs; do
		[[ -n ${!name:-} ]] || continue
		mkdir -p "${!name}"
		path=$(realpath -e "${!name}")
		printf -v "$name" '%s' "$path"
	done
	mkdir -p "$(dirname "$prefix")"
	prefix=$(realpath -m "$prefix")
	export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
	export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

wine_reg() { # KEY NAME TYPE DATA: sets one registry value in the prefix
	"$wine" reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null 2>&1
}

# Makes the prefix unless FILE in it holds STAMP (making one takes 15 to 20 s,
# so it is kept between runs): crash dialogs off, so that a crash fails at
# once instead of waiting on a dialog nobody sees; the script's own settings
# by the function HOOK; windows unmanaged. Other runs wait on a lock
# meanwhile. At cleanup the prefix's processes are ended.
wine_prefix() { # STAMP FILE HOOK
	local stamp=$1 file=$prefix/$2 hook=$3
	(
		flock 9
		if [[ "$(cat "$file" 2>/dev/null)" != "$stamp" ]]; then
			rm -rf "$prefix"
			DISPLAY='' "$wine" wineboot -u >/dev/null 2>&1 || true
			wine_reg 'HKCU\Software\Wine\WineDbg' ShowCrashDialog REG_DWORD 0
			"$hook"
			# No window manager runs on Xvfb: unmanaged windows spare the X11
			# driver its wait for a manager's answer (2 s whenever a window is
			# hidden).
			wine_reg 'HKCU\Software\Wine\X11 Driver' Managed REG_SZ N
			"$wineserver" -w
			printf '%s\n' "$stamp" >"$file"
		fi
	) 9>"$prefix.lock"
	lib_defer "WINEPREFIX='$prefix' '$wineserver' -k 2>/dev/null"
}

# Physical drives. wine_reset_drives removes every drive link of the prefix
# (now and at cleanup) and the images of an earlier run; wine_link_drive N
# FILE maps FILE as "\\.\PHYSICALDRIVEn"; wine_image_drive N SECTORS makes a
# sparse image of that size in $work/images (deleted at cleanup) and maps it.
wine_reset_drives() {
	rm -f "$prefix"/dosdevices/physicaldrive*
	rm -rf "$work/images"
	lib_defer "rm -f '$prefix'/dosdevices/physicaldrive*"
}
wine_link_drive() { # N FILE
	ln -s "$2" "$prefix/dosdevices/physicaldrive$1"
}
wine_image_drive() { # N SECTORS
	mkdir -p "$work/images"
	make_sparse_image "$work/images/disk$1.img" "$2"
	wine_link_drive "$1" "$work/images/disk$1.img"
}

# Starts Xvfb on the first free display from FIRST to LAST (two tests running
# at once use different ranges), exports DISPLAY and lets the prefix's old
# session end. At cleanup the prefix's processes go before their X server does.
wine_start_x() { # FIRST LAST
	local n pid display=""
	for ((n = $1; n <= $2; ++n)); do
		[[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
		Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
		pid=$!
		lib_defer "kill $pid 2>/dev/null; wait $pid 2>/dev/null"
		for _ in {1..100}; do
			[[ -e /tmp/.X11-unix/X$n ]] && break
			kill -0 "$pid" 2>/dev/null || break
			sleep 0.05
		done
		if [[ -e /tmp/.X11-unix/X$n ]] && kill -0 "$pid" 2>/dev/null; then
			display=:$n
			break
		fi
	done
	[[ -n $display ]] || fail_test "Xvfb did not start ($(cat "$work/xvfb.log"))"
	export DISPLAY=$display
	lib_defer "WINEPREFIX='$prefix' '$wineserver' -k 2>/dev/null"
	"$wineserver" -w # a session left from a command without DISPLAY would show no window
}

ms_since() { # START (date +%s%N): milliseconds since then
	echo $((($(date +%s%N) - $1) / 1000000))
}

# The window's driver, a console program in the same prefix.
drive() { "$wine" "$driver" "$@"; }

# The report with its date and scan-time lines put in a fixed form, as UTF-8.
normalised_report() { # FILE
	iconv -f GBK -t UTF-8 "$1" |
		sed -E 's/^(硬盘扫描报告 )[0-9]{4}年[0-9]{1,2}月[0-9]{1,2}日\r$/\1<DATE>\r/; s/^(扫描时间 : )[0-9]+:[0-9]+:[0-9]+\r$/\1<TIME>\r/'
}
# The report as it must be, in the same form.
expected_report() { # DESC SIZE UNIT AREA RESULT PROMO1 PROMO2
	local sep
	sep=$(printf '%085d' 0 | tr 0 -)
	printf '%s\r\n' "Morvek磁盘扫描V1.1.20071201" "硬盘扫描报告 <DATE>" "" "硬盘型号 : $1" "硬盘大小 : $2" \
		"扫描单位 : $3" "已扫描区域 : $4" "扫描时间 : <TIME>" "" "扫描结果: $5" "" "" "$sep" "$6" "" "$7" "$sep"
}
report_line() { iconv -f GBK -t UTF-8 "$1" | sed -n "${2}p" | tr -d '\r'; } # FILE N: line N as UTF-8
