# bash completion for lumenpick-cli.
# Commands, their options and the values an option takes are read from the program's own
# --help text each time, so a command added to the program completes without touching this file.

# The lumenpick-cli being completed: the one typed, else the one on PATH.
_lumenpick_cli_find() {
  local cli=$1
  if [[ $cli == "~/"* ]]; then cli=$HOME/${cli#\~/}; fi
  if ! type -P -- "$cli" >/dev/null 2>&1 && [[ ! -x $cli ]]; then cli=lumenpick-cli; fi
  _lumenpick_cli_program=$cli
}

# Completes one value of the placeholder $1 (as the usage writes it: FILE, DIR, maker|lan|local,
# NAME ...) for the command $2 and the option $3 (empty for a word that is not an option's).
_lumenpick_cli_value() {
  local placeholder=$1 command=$2 option=$3 cur=$4
  placeholder=${placeholder//[\[\]]/}
  local IFS=$'\n'
  case $placeholder in
    *FILE*)
      COMPREPLY=($(compgen -f -- "$cur"))
      compopt -o filenames 2>/dev/null
      return ;;
    DIR | *FOLDER*)
      COMPREPLY=($(compgen -d -- "$cur"))
      compopt -o filenames 2>/dev/null
      return ;;
  esac
  if [[ $option == --ranking || ($command == rank && -z $option && $placeholder == NAME*) ]]; then
    local names
    names=$("$_lumenpick_cli_program" rankings 2>/dev/null)
    COMPREPLY=($(compgen -W "$names" -- "$cur"))
    return
  fi
  # Lower-case alternatives are literal words: current|YEAR, maker|lan|local, N|all.
  local words="" alt
  IFS='|'
  for alt in $placeholder; do
    [[ $alt =~ ^[a-z][a-z0-9_-]*$ ]] && words+="$alt"$'\n'
  done
  IFS=$'\n'
  COMPREPLY=($(compgen -W "$words" -- "$cur"))
}

_lumenpick_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=""
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()

  local help _lumenpick_cli_program
  _lumenpick_cli_find "${COMP_WORDS[0]}"
  help=$("$_lumenpick_cli_program" --help 2>/dev/null) || return 0
  [[ -n $help ]] || return 0

  # The first help line carries the options every command takes; "  NAME ..." lines are the
  # commands' usages.
  local global_usage commands="" line
  global_usage=${help%%$'\n'*}
  declare -A usage_of=()
  while IFS= read -r line; do
    if [[ $line =~ ^\ \ ([a-z][a-z0-9-]*)(\ |$) ]]; then
      commands+="${BASH_REMATCH[1]} "
      usage_of[${BASH_REMATCH[1]}]=${line:2}
    fi
  done <<<"$help"

  # The command comes first; the options every command takes follow it.
  if ((COMP_CWORD == 1)); then
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W "--help --version" -- "$cur"))
    else
      COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    fi
    return 0
  fi
  local command=${COMP_WORDS[1]} i word
  local -A option_arg=()

  local usage=${usage_of[$command]-}
  [[ -n $usage ]] || return 0
  _lumenpick_cli_options "$global_usage $usage"
  if [[ -n ${option_arg[$prev]-} ]]; then
    _lumenpick_cli_value "${option_arg[$prev]}" "$command" "$prev" "$cur"
    return 0
  fi
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "${!option_arg[*]}" -- "$cur"))
    return 0
  fi

  # A positional word: the placeholder at its place in the usage (words after the command).
  local -a positional=()
  local -a tokens
  read -r -a tokens <<<"$usage"
  for ((i = 1; i < ${#tokens[@]}; ++i)); do
    word=${tokens[i]}
    [[ $word == \[* || $word == \|* ]] && break
    if [[ $word == --* ]]; then
      ((++i))
      continue
    fi
    positional+=("$word")
  done
  local n=0
  for ((i = 2; i < COMP_CWORD; ++i)); do
    word=${COMP_WORDS[i]}
    if [[ $word == --* ]]; then
      [[ -n ${option_arg[$word]-} ]] && ((++i))
      continue
    fi
    ((++n))
  done
  if ((n < ${#positional[@]})); then
    _lumenpick_cli_value "${positional[n]}" "$command" "" "$cur"
  fi
  return 0
}

# Fills option_arg (of the caller) from a usage text: "--name VALUE" maps --name to the
# placeholder VALUE, a lone "--name" (or one with an optional "[VALUE]") is a flag and maps to "".
_lumenpick_cli_options() {
  local -a tokens
  read -r -a tokens <<<"$1"
  local i name next
  for ((i = 0; i < ${#tokens[@]}; ++i)); do
    name=${tokens[i]#[}
    name=${name%%]*}
    [[ $name == --* ]] || continue
    next=${tokens[i + 1]-}
    local value=""
    if [[ ${tokens[i]} != *] && -n $next && $next != [-[\|]* && $next != ... ]]; then
      value=$next
    fi
    # "--out|--png FILE" names one option twice.
    local alias
    local IFS='|'
    for alias in $name; do
      [[ $alias == --* ]] && option_arg[$alias]=$value
    done
    unset IFS
  done
}

complete -F _lumenpick_cli lumenpick-cli
