#!/bin/bash
# The bash completion of lumenpick-cli, driven as bash drives it: COMP_WORDS/COMP_CWORD set, the
# completion function called, COMPREPLY read.
#   completion_test.sh CLI COMPLETION_SCRIPT
set -u
cli=$1
script=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/lp_completion_test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Loading the script registers the completion, in a shell that has nothing else loaded.
if ! registered=$(bash --norc --noprofile -c "source '$script' && complete -p lumenpick-cli" 2>&1); then
  fail "complete -p lumenpick-cli after sourcing: $registered"
fi
case $registered in *"-F _lumenpick_cli"*) ;; *) fail "registered as: $registered" ;; esac

# completions WORD... : what the completion offers for the command line WORD... (the last word
# is the one being completed), one a line, sorted.
completions() {
  (
    cd "$work" || exit 1
    # shellcheck disable=SC1090
    source "$script"
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _lumenpick_cli 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | LC_ALL=C sort
  )
}

# A scratch folder for file and folder names.
mkdir -p "$work/market/kabuka_db" "$work/mydir"
touch "$work/my_init.txt" "$work/mychart.png"

rankings=$("$cli" rankings)
first_ranking=$(head -n 1 <<<"$rankings")
ranking_prefix=${first_ranking:0:2}

# Each case: the words typed | the words that must be offered (space-separated) | the words that
# must not be offered. Paths are relative to the scratch folder.
cases=(
  "sc|screen|search series settings"
  "portfolio-|portfolio-add portfolio-delete|portfolio"
  "--|--help --version|--documents"
  "latest-date --|--documents --today|--help"
  "ra|rank rankings|"
  "screen --documents my|mydir/|my_init.txt"
  "rank --today 20240628 --documents mydir --write-results $ranking_prefix|$first_ranking|"
  "screen --in|--init|"
  "screen --init my_|my_init.txt|"
  "screen --criteria 1 --|--markets --set --documents|--criteria-x"
  "rank --write-results |$(tr '\n' ' ' <<<"$rankings")|screen"
  "download |current|maker"
  "download current --host |maker lan local|current"
  "results --page |all|"
  "chart 1301 --out myc|mychart.png|"
  "chart 1301 --no-volume --out myc|mychart.png|"
  "unpack mark|market/|"
  "rank --write-results $ranking_prefix|$first_ranking|"
)
for c in "${cases[@]}"; do
  IFS='|' read -r typed want refuse <<<"$c"
  read -r -a words <<<"$typed"
  [[ $typed == *" " ]] && words+=("")
  got=$(completions "$cli" "${words[@]}")
  # Folder names come back with or without their slash, as compgen -d gives them.
  got_norm=$(sed 's|/$||' <<<"$got")
  for w in $want; do
    grep -qxF -- "${w%/}" <<<"$got_norm" || fail "'lumenpick-cli $typed' does not offer $w (offers: $(tr '\n' ' ' <<<"$got"))"
  done
  for w in $refuse; do
    grep -qxF -- "$w" <<<"$got" && fail "'lumenpick-cli $typed' offers $w"
  done
done

# Commands come from the program's help text: a program that has more commands (a newer build)
# completes them without a change to the script.
fake="$work/bin/lumenpick-cli"
mkdir -p "$work/bin"
{
  echo '#!/bin/sh'
  echo 'if [ "$1" = --help ]; then'
  echo "  \"$cli\" --help"
  echo "  echo '  scrub [--delete NAME]'"
  echo "  echo '      a command this build does not have'"
  echo 'fi'
} >"$fake"
chmod +x "$fake"
got=$(completions "$cli" sc)
for w in screen screens; do
  grep -qxF -- "$w" <<<"$got" || fail "'lumenpick-cli sc' does not offer $w (offers: $(tr '\n' ' ' <<<"$got"))"
done
got=$(completions "$fake" scr)
grep -qxF -- scrub <<<"$got" || fail "newer program: 'scr' does not offer scrub (offers: $(tr '\n' ' ' <<<"$got"))"
got=$(completions "$fake" scrub --)
grep -qxF -- --delete <<<"$got" || fail "newer program: 'scrub --' does not offer --delete"

# No program at all: nothing is offered and nothing breaks.
got=$(PATH=/usr/bin:/bin completions "$work/none/lumenpick-cli" sc)
[[ -z $got ]] || fail "without a program the completion offers $got"

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "completion passed"
