#!/usr/bin/env bash
# The man page and the bash completion against the program: the page renders
# without a warning (groff -ww, man --warnings), names every option that
# --help lists and the version; the completion offers every option and the
# values of --palette.
#
#   check_docs.sh MORVEK_SCAN MAN_PAGE COMPLETION
#
# Exit status: 0 passed, 1 failed, 77 skipped (groff or man missing).
set -u
scan=$1 page=$2 completion=$3

# shellcheck source=../e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"

command -v groff >/dev/null || skip_test "groff is not installed"
command -v man >/dev/null || skip_test "man is not installed"

warnings=$(groff -ww -man -Tutf8 "$page" 2>&1 >/dev/null)
check_eq "groff -ww -man renders the page without a warning" "" "$warnings"
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
check_eq "man --warnings -l renders the page without a warning" "" "$warnings"
text=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)
for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES ENVIRONMENT "EXIT STATUS" EXAMPLES; do
	check "the page has a $section section" grep -qx "$section" <<<"$text"
done
check "the page makes the never-writes promise" grep -q "never writes to a disk" <<<"$text"
check "the page carries the program's version" grep -qF "$("$scan" --version)" <<<"$text"

mapfile -t options < <("$scan" --help | sed -n 's/^  \(--[a-z-]*\).*/\1/p')
((${#options[@]} >= 8)) || fail "--help lists only ${#options[@]} options"
offered=$(bash -c 'source "$1"; COMP_WORDS=(morvek-scan --); COMP_CWORD=1; _morvek_scan; printf "%s\n" "${COMPREPLY[@]}"' _ \
	"$completion")
for option in "${options[@]}"; do
	check "the page describes $option" grep -qE "^ +$option( |,|$)" <<<"$text"
	check "the completion offers $option" grep -qx -- "$option" <<<"$offered"
done
for status in 0 1 2 3 130; do
	check "the page gives exit status $status" grep -qE "^ +$status( |$)" <<<"$text"
done
palettes=$(bash -c 'source "$1"; COMP_WORDS=(morvek-scan --palette ""); COMP_CWORD=2; _morvek_scan; echo "${COMPREPLY[*]}"' _ \
	"$completion")
check_eq "the completion offers the palettes" "window blue-orange text" "$palettes"
# A palette the parser takes lets it go on to the next argument.
# shellcheck disable=SC2317 # called through check
palette_taken() { "$scan" --palette "$1" --bogus 2>&1 | grep -qF "unknown option '--bogus'"; }
for palette in $palettes; do
	check "--palette $palette is taken" palette_taken "$palette"
done

end_checks
