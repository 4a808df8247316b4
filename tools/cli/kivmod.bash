# bash completion for kivmod: commands, options, and phone paths from "kivmod ls" when a
# phone answers (quickly: a short connection wait, errors hidden by the tool's -q).
_kivmod() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} cword=$COMP_CWORD
  local -a words=("${COMP_WORDS[@]}")
  local commands="detect info ls get put rm mv rename mkdir df resume playlist sounds java mail backup restore backup-info"
  local options="--link --port --bt --spp --json --yes --no-clobber --quiet --help --version
                 --recursive --long --parents --force --move --from-phone --restart --discard --replace --password"
  case $prev in
    --link) COMPREPLY=($(compgen -W "sim: serial: tcp: bt:" -- "$cur")); compopt -o nospace; return ;;
    --port|--bt) return ;;
  esac
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      --link|--port|--bt|--password) ((i++)) ;;
      -*) ;;
      *) command=${words[i]}; break ;;
    esac
  done
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi
  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    return
  fi
  case $command in
    playlist)
      [[ $prev == playlist ]] && COMPREPLY=($(compgen -W "ls show get put mv rm" -- "$cur"))
      return ;;
    info|resume) return ;;
  esac
  local folder=${cur%/*}
  [[ $cur == */* ]] || folder=""
  local link_args=() j
  for ((j = 1; j < cword; j++)); do
    case ${words[j]} in
      --link|--port|--bt) link_args+=("${words[j]}" "${words[j + 1]}"); ((j++)) ;;
      --link=*|--port=*|--bt=*|--spp) link_args+=("${words[j]}") ;;
    esac
  done
  local names
  names=$(KIVMOD_CONNECT_WAIT_MS=${KIVMOD_CONNECT_WAIT_MS:-1000} \
          "${words[0]}" -q "${link_args[@]}" ls "${folder:-/}" 2>/dev/null) || names=""
  local name candidate
  COMPREPLY=()
  while IFS= read -r name; do
    candidate="${folder:+$folder/}$name"
    [[ -n $name && $candidate == "$cur"* ]] && COMPREPLY+=("$candidate")
  done <<< "$names"
  # The PC files of put, and the PC folder get copies into.
  local f
  [[ $command == put ]] && while IFS= read -r f; do COMPREPLY+=("$f"); done < <(compgen -f -- "$cur")
  [[ $command == get ]] && while IFS= read -r f; do COMPREPLY+=("$f"); done < <(compgen -d -- "$cur")
  compopt -o nospace -o filenames
}
complete -F _kivmod kivmod
