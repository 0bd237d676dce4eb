#!/usr/bin/env bash
# The test machine finds the repository wherever it is cloned, root's home
# folder and /tmp included (folders that the machine gives memory of its
# own), and says what failed when the repository lacks what it runs.
#   repo-paths.sh [KIT_DIR]     (default: build/vm-kit)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
kit=${1:-$repo/build/vm-kit}
if [ ! -f "$kit/vmlinuz" ] || ! command -v qemu-system-x86_64 >/dev/null; then
  echo "skipped: no test machine here (no kit in $kit, or no QEMU)"
  exit 77
fi
copies=()
trap 'rm -rf "${copies[@]}"' EXIT
fail() { echo "FAIL: $*"; [ -f "$copy/out" ] && sed 's/^/  /' "$copy/out"; exit 1; }
checks=0
# where the copy lives | what it lacks | what vm-run.sh must say then
while IFS='|' read -r base lacks says; do
  copy=$(mktemp -d "$base/tavko-vm-XXXXXX")
  copies+=("$copy")
  mkdir -p "$copy/tests/scripts" "$copy/build"
  cp -r "$repo/tests/vm" "$copy/tests/"
  cp "$repo/tests/scripts/vm-run.sh" "$copy/tests/scripts/"
  ln -s "$kit" "$copy/build/vm-kit"
  [ -z "$lacks" ] || rm "$copy/$lacks"
  echo 'echo "inside $PWD"; touch build/written; test -w /tmp && test -w "$HOME"' >"$copy/probe.sh"
  status=0
  (cd "$copy" && bash tests/scripts/vm-run.sh probe.sh) >"$copy/out" 2>&1 || status=$?
  if [ -z "$says" ]; then
    [ "$status" = 0 ] || fail "a repository in $base: exit $status"
    grep -qx "inside $copy" "$copy/out" && [ -f "$copy/build/written" ] || fail "a repository in $base: not reached"
  else
    [ "$status" != 0 ] || fail "a repository in $base without $lacks: success"
    grep -q "^tavko-vm: .*$says" "$copy/out" || fail "a repository in $base without $lacks: not said"
  fi
  checks=$((checks + 1))
done <<END
${HOME:-/root}||
/tmp||
/tmp|tests/vm/job.sh|has no tests/vm/job.sh
END
echo "$checks repository places checked in the test machine"
