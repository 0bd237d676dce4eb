#!/usr/bin/env bash
# The install target (its tavko part) puts tavko, its man page and its bash completion in
# place, and each works from there. tool-install.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=$1 out=$2
rm -rf "$out"
cmake --install "$build" --prefix "$out" --component tavko >/dev/null
"$out/bin/tavko" --version | grep "^tavko " >/dev/null
man -l "$out/share/man/man1/tavko.1" 2>/dev/null | grep "decode, encode and inspect QVX pictures" >/dev/null
source "$out/share/bash-completion/completions/tavko"
complete_words() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _tavko; echo "${COMPREPLY[*]}"; }
[ "$(complete_words tavko dec)" = "decode" ]
[ "$(complete_words tavko decode x.qvx --form)" = "--format" ]
[ "$(complete_words tavko decode x.qvx --format p)" = "png" ]
[ "$(complete_words tavko help en)" = "encode" ]
echo "tavko, its man page and its completion installed and working"
