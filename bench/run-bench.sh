#!/usr/bin/env bash
# Benchmarks (not tests): morvek-scan next to the usual ways of reading a
# whole disk, on the same freshly made loop device, with the page cache
# dropped before every run.
#
#   clean device:  fio --ioengine=io_uring --direct=1 --rw=read at 64 KiB x 1,
#                  64 KiB x 16 and 1 MiB x 8 in flight (the device's limit:
#                  the best of the three), dd bs=64k iflag=direct, morvek-scan
#                  at each depth of QUEUE_DEPTHS (its default among them),
#                  badblocks -b 512 -c 128 -sv, and the read-ahead engine
#                  alone (morvek-readahead-bench) at the settings of
#                  ENGINE_CONFIGS
#   faulty device: the same data through faultfs with a few bad ranges:
#                  dd conv=noerror,sync (the reference: plain dd stops at the
#                  first error), plain dd, morvek-scan at its default and at
#                  --queue-depth 1, badblocks
#
# Prints each tool's best and median time, its throughput (at the best and
# the median time) and the ratios of its best throughput to fio's best and to
# dd's best; then, for morvek-scan at its default depth, the same ratios at
# the median and its peak resident memory (VmHWM, sampled from /proc during
# one more, untimed run). Every round runs each tool once, in turn, so that
# a drift in the machine's speed hits all of them alike. dd, morvek-scan and
# badblocks are timed from start to exit; fio and the engine time their
# reads themselves (fio takes about half a second to start).
#
#   bench/run-bench.sh            (as root; build the linux preset first)
#
# Environment: BENCH_MIB (device size, default 4096), ROUNDS (default 3),
# QUEUE_DEPTHS (morvek-scan's depths on the clean device, default
# "1 2 4 8 16 32 64"), ENGINE_CONFIGS (the engine's settings, DEPTHxMERGE_KIB,
# default "8x512"; empty for none), BENCH_FAULTY (0 skips the faulty device),
# MORVEK_SCAN, READAHEAD_BENCH and FAULTFS
# (default: the linux preset's build), TMPDIR (where the image goes: not
# tmpfs, whose files refuse direct I/O).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
MORVEK_SCAN=${MORVEK_SCAN:-$root/build/linux/app/morvek-scan}
READAHEAD_BENCH=${READAHEAD_BENCH:-$root/build/linux/bench/readahead/morvek-readahead-bench}
FAULTFS=${FAULTFS:-$root/build/linux/tests/tools/faultfs}
mib=${BENCH_MIB:-4096}
rounds=${ROUNDS:-3}
read -r -a queue_depths <<<"${QUEUE_DEPTHS:-1 2 4 8 16 32 64}"
read -r -a engine_configs <<<"${ENGINE_CONFIGS-8x512}"

# shellcheck source=../tests/e2e/lib.sh
source "$root/tests/e2e/lib.sh"

[[ $EUID -eq 0 ]] || { echo "run-bench.sh needs root (loop devices, drop_caches)" >&2; exit 2; }
[[ -x $MORVEK_SCAN ]] || { echo "no $MORVEK_SCAN: build the linux preset first" >&2; exit 2; }
MORVEK_SCAN=$(realpath "$MORVEK_SCAN")
if ((${#engine_configs[@]} > 0)); then
	[[ -x $READAHEAD_BENCH ]] || { echo "no $READAHEAD_BENCH: build the linux preset first" >&2; exit 2; }
	READAHEAD_BENCH=$(realpath "$READAHEAD_BENCH")
fi
if [[ -x $FAULTFS ]]; then FAULTFS=$(realpath "$FAULTFS"); fi
export FAULTFS
have_loop || { echo "loop devices are not usable here" >&2; exit 2; }
for tool in dd badblocks fio; do
	command -v $tool >/dev/null || { echo "$tool is not installed (coreutils / e2fsprogs / fio)" >&2; exit 2; }
done
default_depth=$("$MORVEK_SCAN" --help | sed -nE 's/.*--queue-depth N .*\(default ([0-9]+)\).*/\1/p')
[[ $default_depth =~ ^[0-9]+$ ]] || { echo "morvek-scan --help gives no default queue depth" >&2; exit 2; }
default_name="morvek-scan (default, qd $default_depth)"

work=$(lib_tmpdir)
sectors=$((mib * 2048))
dev_bytes=$((sectors * 512)) # every tool reads the whole device; morvek-scan reads the tail too

now() { printf '%s' "$EPOCHREALTIME"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
rate_of() { awk -v s="$1" -v b="$2" 'BEGIN { printf "%.1f", b / 1048576 / s }'; }
ratio_of() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "-" }'; }
best_of() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | head -n 1; }
median_of() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

vm_hwm() { # PID -> kB; fails once the process has ended (a zombie has no VmHWM)
	local key value rest
	while read -r key value rest; do
		[[ $key == VmHWM: ]] && { printf '%s' "$value"; return 0; }
	done <"/proc/$1/status"
	return 1
} 2>/dev/null

# Runs COMMAND... once from a cold cache and sets T (seconds). Output goes to
# $work/out. A morvek-scan that fails (exit status other than 0 or 1) ends
# the benchmark.
timed() { # NAME COMMAND...
	local name=$1 t0 t1 st=0
	shift
	drop_caches
	t0=$(now)
	(cd "$work" && exec "$@" >"$work/out" 2>&1) || st=$?
	t1=$(now)
	if [[ $name == morvek-scan ]] && ((st != 0 && st != 1)); then
		echo "morvek-scan failed (exit status $st):" >&2
		cat "$work/out" >&2
		exit 1
	fi
	T=$(elapsed "$t0" "$t1")
}

# fio reading the whole device: sets T (seconds) and B (bytes) from fio's
# own figures.
fio_run() { # DEVICE BS DEPTH
	local line
	drop_caches
	line=$(fio --name=limit --filename="$1" --readonly --rw=read --bs="$2" --iodepth="$3" \
		--ioengine=io_uring --direct=1 --output-format=terse --terse-version=3) ||
		{ echo "fio failed on $1" >&2; exit 1; }
	# terse v3: 6 = KiB read, 9 = read runtime in ms
	B=$(awk -F';' '{ print $6 * 1024 }' <<<"$line")
	T=$(awk -F';' '{ printf "%.3f", $9 / 1000 }' <<<"$line")
}

# The engine alone at DEPTH x MERGE_KIB: sets T, B, and ENGINE_NOTE (failed
# blocks, peak RSS).
engine_run() { # DEVICE DEPTH MERGE_KIB
	local line
	drop_caches
	line=$("$READAHEAD_BENCH" --depth "$2" --merge "$3" "$1") || { echo "morvek-readahead-bench failed on $1" >&2; exit 1; }
	B=$(sed -E 's/.*bytes=([0-9]+).*/\1/' <<<"$line")
	T=$(sed -E 's/.*seconds=([0-9.]+).*/\1/' <<<"$line")
	ENGINE_NOTE=$(sed -E 's/.*bad=([0-9]+) depth=([0-9]+) merge_kib=([0-9]+) backend=([a-z_]+) rss_kb=([0-9]+).*/\1 bad blocks, \4, peak RSS \5 kB/' <<<"$line")
}

# morvek-scan's peak resident memory in kB, from one more (untimed) run: the
# sampling would disturb a timed one. VmHWM only grows, so the last value
# read before the process ends is its peak.
peak_rss() { # DEVICE [ARGS...]
	local pid hwm peak=0 dev=$1
	shift
	(cd "$work" && exec "$MORVEK_SCAN" "$@" "$dev" >/dev/null 2>&1) &
	pid=$!
	while hwm=$(vm_hwm "$pid"); do
		((hwm > peak)) && peak=$hwm
		sleep 0.02
	done
	wait "$pid" || true
	echo "$peak"
}

bench_device() { # TITLE DEVICE FAULTY(0|1)
	local title=$1 dev=$2 faulty=$3 round name ref copied="" cfg depth fio_best=0 fio_median=0 ref_rate
	local best median rate mrate label note
	local -a names
	local -A times=() bytes=() notes=()
	if ((faulty)); then
		names=("dd conv=noerror,sync" "dd bs=64k iflag=direct" "$default_name" "morvek-scan qd 1" badblocks)
	else
		names=("fio 64k x 1" "fio 64k x 16" "fio 1m x 8" "dd bs=64k iflag=direct")
		for depth in "${queue_depths[@]}"; do
			if ((depth == default_depth)); then names+=("$default_name"); else names+=("morvek-scan qd $depth"); fi
		done
		[[ " ${names[*]} " == *" $default_name "* ]] || names+=("$default_name")
		names+=(badblocks)
		for cfg in "${engine_configs[@]}"; do names+=("engine ${cfg%x*} x ${cfg#*x} KiB"); done
	fi
	ref=${names[0]}
	((faulty)) || ref="dd bs=64k iflag=direct"
	for ((round = 0; round < rounds; ++round)); do
		for name in "${names[@]}"; do
			case $name in
			"fio 64k x 1") fio_run "$dev" 64k 1 && bytes[$name]=$B ;;
			"fio 64k x 16") fio_run "$dev" 64k 16 && bytes[$name]=$B ;;
			"fio 1m x 8") fio_run "$dev" 1m 8 && bytes[$name]=$B ;;
			"dd conv=noerror,sync")
				timed dd dd if="$dev" of=/dev/null bs=64k iflag=direct conv=noerror,sync status=none
				bytes[$name]=$dev_bytes
				;;
			"dd bs=64k iflag=direct")
				if ((faulty)); then
					# Stops at the first bad block: shown for how far it got.
					timed dd dd if="$dev" of=/dev/null bs=64k iflag=direct
					copied=$(awk '/bytes/ { print $1; exit }' "$work/out")
					bytes[$name]=${copied:-0}
				else
					timed dd dd if="$dev" of=/dev/null bs=64k iflag=direct status=none
					bytes[$name]=$dev_bytes
				fi
				;;
			morvek-scan*)
				depth=${name##* }
				[[ $name == "$default_name" ]] && depth=$default_depth
				timed morvek-scan "$MORVEK_SCAN" --queue-depth "${depth%)}" "$dev"
				notes[$name]=$(grep -E '^Bad blocks:' "$work/out" || true)
				bytes[$name]=$dev_bytes
				;;
			badblocks)
				timed badblocks badblocks -b 512 -c 128 -sv "$dev"
				notes[$name]=$(grep -oE '[0-9]+ bad blocks found' "$work/out" || true)
				bytes[$name]=$dev_bytes
				;;
			engine*)
				cfg=${name#engine }
				engine_run "$dev" "${cfg%% x *}" "$(awk '{ print $3 }' <<<"$cfg")"
				bytes[$name]=$B
				notes[$name]=$ENGINE_NOTE
				;;
			esac
			times[$name]="${times[$name]:-} $T"
		done
	done

	ref_rate=$(rate_of "$(best_of "${times[$ref]}")" "${bytes[$ref]}")
	for name in "${names[@]}"; do
		if [[ $name == fio* ]]; then
			rate=$(rate_of "$(best_of "${times[$name]}")" "${bytes[$name]}")
			fio_best=$(awk -v a="$fio_best" -v b="$rate" 'BEGIN { print (b > a ? b : a) }')
			rate=$(rate_of "$(median_of "${times[$name]}")" "${bytes[$name]}")
			fio_median=$(awk -v a="$fio_median" -v b="$rate" 'BEGIN { print (b > a ? b : a) }')
		fi
	done

	echo
	echo "$title"
	printf '  %-32s %8s %8s %11s %11s  %-9s %-9s %s\n' tool best median "MB/s best" "MB/s med" "/fio best" "/${ref%% *}" ""
	for name in "${names[@]}"; do
		best=$(best_of "${times[$name]}")
		median=$(median_of "${times[$name]}")
		rate=$(rate_of "$best" "${bytes[$name]}")
		mrate=$(rate_of "$median" "${bytes[$name]}")
		label=$name
		note=${notes[$name]:-}
		ratio=$(ratio_of "$rate" "$ref_rate")
		case $name in
		badblocks) label="badblocks -b 512 -c 128 -sv" ;;
		"dd bs=64k iflag=direct")
			if ((faulty)); then
				ratio="-"
				note="(stops at the first error, after ${copied:-0} bytes)"
			fi
			;;
		esac
		printf '  %-32s %6.2f s %6.2f s %11s %11s  %-9s %-9s %s\n' "$label" "$best" "$median" "$rate" "$mrate" \
			"$(ratio_of "$rate" "$fio_best")" "$ratio" "$note"
	done
	best=$(best_of "${times[$default_name]}")
	median=$(median_of "${times[$default_name]}")
	if ((!faulty)); then
		# Best against best, and median against median: one lucky fio run
		# (the host's cache under the loop device) moves the first a lot.
		printf '  %s: best %s x fio best (%s MB/s), %s x dd; median %s x fio best median (%s MB/s), %s x dd median\n' \
			"$default_name" "$(ratio_of "$(rate_of "$best" "$dev_bytes")" "$fio_best")" "$fio_best" \
			"$(ratio_of "$(rate_of "$best" "$dev_bytes")" "$ref_rate")" \
			"$(ratio_of "$(rate_of "$median" "$dev_bytes")" "$fio_median")" "$fio_median" \
			"$(ratio_of "$(rate_of "$median" "$dev_bytes")" "$(rate_of "$(median_of "${times[$ref]}")" "${bytes[$ref]}")")"
		echo "  $default_name peak RSS: $(peak_rss "$dev" --queue-depth "$default_depth") kB;" \
			"qd 1: $(peak_rss "$dev" --queue-depth 1) kB; qd 64: $(peak_rss "$dev" --queue-depth 64) kB"
	else
		printf '  %s on the faulty device: best %s s, median %s s (qd 1: best %s s)\n' "$default_name" "$best" "$median" \
			"$(best_of "${times[morvek-scan qd 1]}")"
	fi
}

echo "Writing $mib MiB of random data to $work/disk.img ..."
dd if=/dev/urandom of="$work/disk.img" bs=1M count="$mib" iflag=fullblock status=none
sync

dev=$(attach_loop "$work/disk.img" --direct-io) || { echo "cannot attach a loop device" >&2; exit 2; }
echo "Device: $dev, $mib MiB of random data, loop in direct-I/O mode over $work/disk.img"
echo "Every tool reads the whole device; $rounds round(s), the tools taking turns in each; cold cache."
bench_device "Clean device ($dev):" "$dev" 0

if [[ ${BENCH_FAULTY:-1} == 0 ]]; then
	echo
	echo "(BENCH_FAULTY=0: the faulty-device figures are skipped)"
elif [[ -x $FAULTFS ]] && have_fuse; then
	bad="100000-100000 1000000-1000300 2000000-2000000 3000000-3000127"
	fdev=$(make_fault_device "$sectors" "$bad" "" --backing "$work/disk.img") ||
		{ echo "cannot make the faultfs device" >&2; exit 2; }
	echo
	echo "Faulty device: $fdev, the same data through faultfs, bad sectors $bad"
	bench_device "Faulty device ($fdev):" "$fdev" 1
else
	echo
	echo "(no faultfs or FUSE here: the faulty-device figures are skipped)"
fi
