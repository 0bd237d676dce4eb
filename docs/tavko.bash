# Bash completion for tavko: commands, options and file names by ending.
# File names come whole, spaces and all: from bash-completion's _filedir
# where it is loaded, else one a line through mapfile. No shell option is
# changed. config is left out: the Linux build has no dialog to open.

# Files ending in one of the endings given as "qvx|png" (any file when
# none), and folders; with -d folders only.
_tavko_files() {
  if declare -F _filedir >/dev/null; then
    _filedir "$@"
    return
  fi
  # The word as typed, its backslashes before spaces and an opening quote
  # taken off.
  local word=${cur//\\ / } pattern="\\.($1)\$" name
  local -a names
  word=${word#[\"\']}
  compopt -o filenames 2>/dev/null
  if [[ $1 == -d ]]; then
    mapfile -t COMPREPLY < <(compgen -d -- "$word")
    return
  fi
  mapfile -t names < <(compgen -f -- "$word")
  for name in "${names[@]}"; do
    if [[ -z $1 || -d $name || ${name,,} =~ $pattern ]]; then COMPREPLY+=("$name"); fi
  done
}

_tavko_words() {
  mapfile -t COMPREPLY < <(compgen -W "$1" -- "$cur")
}

_tavko() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} command=${COMP_WORDS[1]}
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    _tavko_words "info decode encode help --help --version -V"
    return
  fi
  case $prev in
    -d|--folder) _tavko_files -d; return ;;
    -o|--output) _tavko_files; return ;;
    --format) [[ $command == encode ]] && _tavko_words "qvx" || _tavko_words "png bmp"; return ;;
    --level) _tavko_words "1 2 3 4 5 6 7 8 9"; return ;;
    -j|--jobs|--offset|--max-pixels) return ;;
  esac
  case $command in
    help) _tavko_words "info decode encode" ;;
    info)
      if [[ $cur == -* ]]; then _tavko_words "--json --offset --help"
      else _tavko_files "qvx"; fi ;;
    decode)
      if [[ $cur == -* ]]; then
        _tavko_words "-o -d -j --format --level --offset --max-pixels --no-clobber --force --keep16 --keep32 --quiet --verbose --help"
      else _tavko_files "qvx|png|bmp"; fi ;;
    encode)
      if [[ $cur == -* ]]; then _tavko_words "-o --format --max-pixels --no-clobber --force --help"
      else _tavko_files "bmp|png|qvx"; fi ;;
  esac
}
complete -o filenames -F _tavko tavko
