# Bash completion for tavko: commands, options and file names by ending.
_tavko() {
  local cur prev command
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  command=${COMP_WORDS[1]}
  if [ "$COMP_CWORD" -eq 1 ]; then
    COMPREPLY=($(compgen -W "info decode encode config help --help --version -V" -- "$cur"))
    return
  fi
  case $prev in
    -d) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --format) COMPREPLY=($(compgen -W "$([ "$command" = encode ] && echo qvx || echo png bmp)" -- "$cur")); return ;;
    -o|--output) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --level) COMPREPLY=($(compgen -W "1 2 3 4 5 6 7 8 9" -- "$cur")); return ;;
    -j|--offset|--max-pixels) return ;;
  esac
  case $command in
    help) COMPREPLY=($(compgen -W "info decode encode config" -- "$cur")) ;;
    info)
      if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "--json --offset --help" -- "$cur"))
      else COMPREPLY=($(compgen -f -X '!*.@(qvx|QVX)' -- "$cur") $(compgen -d -- "$cur")); fi ;;
    decode)
      if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "-o -d -j --format --level --offset --max-pixels --no-clobber --keep16 --keep32 --quiet --verbose --help" -- "$cur"))
      else COMPREPLY=($(compgen -f -X '!*.@(qvx|QVX|png|PNG|bmp|BMP)' -- "$cur") $(compgen -d -- "$cur")); fi ;;
    encode)
      if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "-o --format --max-pixels --no-clobber --help" -- "$cur"))
      else COMPREPLY=($(compgen -f -X '!*.@(bmp|BMP|png|PNG|qvx|QVX)' -- "$cur") $(compgen -d -- "$cur")); fi ;;
  esac
}
shopt -s extglob
complete -o filenames -F _tavko tavko
