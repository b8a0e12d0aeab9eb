# shellcheck shell=bash
# Bash completion for morvek-scan: its options, the values of --palette and
# --queue-depth, PNG names for --map, SVG and JSON names for --speed-graph and
# --resume, directories for --output-dir, and devices and image files as
# arguments.
# Installed as share/bash-completion/completions/morvek-scan.

_morvek_scan() {
	local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
	local options="--disk --map --bad-list --bad-sectors --json --speed-graph --prometheus --output-dir --from --to
		--resume --smartctl --no-smart --palette --queue-depth --list --version --help"

	case $prev in
	--disk)
		mapfile -t COMPREPLY < <(compgen -W "0 1 2 3" -- "$cur")
		;;
	--map)
		# PNG files and the directories that may hold one.
		mapfile -t COMPREPLY < <(compgen -f -X '!*.[pP][nN][gG]' -- "$cur"; compgen -d -S / -- "$cur")
		compopt -o nospace -o filenames 2>/dev/null
		;;
	--bad-list | --bad-sectors)
		mapfile -t COMPREPLY < <(compgen -W "-" -- "$cur"; compgen -f -- "$cur")
		compopt -o filenames 2>/dev/null
		;;
	--json | --prometheus)
		mapfile -t COMPREPLY < <(compgen -f -- "$cur")
		compopt -o filenames 2>/dev/null
		;;
	--speed-graph | --resume)
		# An SVG picture, a JSON report, and the directories that may hold one.
		local pattern='!*.[sS][vV][gG]'
		[[ $prev == --resume ]] && pattern='!*.[jJ][sS][oO][nN]'
		mapfile -t COMPREPLY < <(compgen -f -X "$pattern" -- "$cur"; compgen -d -S / -- "$cur")
		compopt -o nospace -o filenames 2>/dev/null
		;;
	--smartctl)
		mapfile -t COMPREPLY < <(compgen -c -- "$cur"; compgen -f -- "$cur")
		compopt -o filenames 2>/dev/null
		;;
	--from | --to)
		COMPREPLY=()
		;;
	--queue-depth)
		mapfile -t COMPREPLY < <(compgen -W "1 2 4 8 16 32 64" -- "$cur")
		;;
	--output-dir)
		mapfile -t COMPREPLY < <(compgen -d -- "$cur")
		compopt -o filenames 2>/dev/null
		;;
	--palette)
		mapfile -t COMPREPLY < <(compgen -W "window blue-orange text" -- "$cur")
		;;
	*)
		if [[ $cur == -* ]]; then
			mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
		else # devices and image files
			mapfile -t COMPREPLY < <(compgen -f -- "$cur")
			compopt -o filenames 2>/dev/null
		fi
		;;
	esac
}

complete -F _morvek_scan morvek-scan
