#!/usr/bin/env bash
# A 32-bit host may enter the DLL with its stack aligned to 4 bytes only.
# Every SSE instruction that needs a 16-byte-aligned operand and addresses
# the stack must sit in a function that aligns its own stack first.
# stack-alignment.sh DLL_WITH_SYMBOLS
set -euo pipefail
dll=$1
i686-w64-mingw32-objdump -d --no-show-raw-insn "$dll" | awk '
  function finish() {
    if (name != "" && risky != "" && !realigns) { print "unaligned stack access in " name ":\n" risky; bad++ }
  }
  /^[0-9a-f]+ <.*>:$/ { finish(); name = $2; risky = ""; realigns = 0; functions++; next }
  /and +\$0xfffffff0,%esp/ { realigns = 1 }
  /%xmm/ && /\(%(esp|ebp)/ {
    split($0, parts, "\t"); op = parts[2]; sub(/ .*/, "", op)
    # Forms that take any alignment: unaligned moves, 32/64-bit moves and
    # inserts, and scalar arithmetic.
    if (op ~ /^(movups|movupd|movdqu|lddqu|movq|movd|movss|movsd|movlps|movhps|movlpd|movhpd|pinsr.|pextr.)$/) next
    if (op ~ /(ss|sd)$/ && op !~ /^(movaps|movapd)/) next
    risky = risky "  " $0 "\n"; checked++
  }
  END {
    finish()
    printf "%d functions, %d aligned SSE stack accesses, %d in functions that do not align their stack\n", functions, checked, bad
    exit bad > 0
  }'
