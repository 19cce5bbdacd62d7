# Bash completion for morvent: commands, options and kind names. Commands
# and options are read from the tool's own help, kind names from
# `morvent types`, so the completion follows the installed tool.
_morvent() {
  local cur prev tool=${COMP_WORDS[0]} cmd="" sub="" i
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      -*) ;;
      *) if [[ -z $cmd ]]; then cmd=${COMP_WORDS[i]}; elif [[ $cmd == ledger && -z $sub ]]; then sub=${COMP_WORDS[i]}; fi ;;
    esac
  done
  # The sub-commands listed under the help's heading "子命令".
  _morvent_commands() { "$tool" "$@" --help 2>/dev/null | sed -n '/^子命令/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p'; }
  # The options listed under the help's heading "选项", each at the start of
  # its line.
  _morvent_options() {
    "$tool" "$@" --help 2>/dev/null | sed -n '/^选项/,/^$/p' | grep -oE -- '^  (-[a-zA-Z],)?--?[a-zA-Z][a-z-]*' |
      tr ',' '\n' | tr -d ' '
  }
  case $prev in
    --type | -t)
      COMPREPLY=($(compgen -W "$("$tool" types 2>/dev/null | cut -f1,2)" -- "$cur"))
      return ;;
    --acct-type) COMPREPLY=($(compgen -W "QY GY" -- "$cur")); return ;;
    --on-error) COMPREPLY=($(compgen -W "stop skip" -- "$cur")); return ;;
    --events) COMPREPLY=($(compgen -W "text jsonl" -- "$cur")); return ;;
    --imp-style | --coding-style) COMPREPLY=($(compgen -W "1 2" -- "$cur")); return ;;
    --port | --bind | --max-upload) return ;;
    --all) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --ledger | -l | --file | -f) COMPREPLY=($(compgen -f -- "$cur")); return ;;
  esac
  if [[ -z $cmd ]]; then
    COMPREPLY=($(compgen -W "$(_morvent_commands) --help --version" -- "$cur"))
  elif [[ $cmd == ledger && -z $sub ]]; then
    COMPREPLY=($(compgen -W "$(_morvent_commands ledger) --help" -- "$cur"))
  elif [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$(_morvent_options $cmd $sub)" -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _morvent morvent
