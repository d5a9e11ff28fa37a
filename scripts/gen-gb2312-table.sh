#!/usr/bin/env bash
# Writes the text form of the GB2312 code table (commlib/src/format/gb2312.txt) from the
# system's iconv: one line per hanzi cell 0xB0A1 .. 0xF7F9 in row order, the cell's
# UCS-2 code as four upper-case hex digits. The five empty cells of row 0xD7 get 0000.
# Usage: scripts/gen-gb2312-table.sh > commlib/src/format/gb2312.txt
set -euo pipefail
for lead in $(seq $((0xB0)) $((0xF7))); do
  for trail in $(seq $((0xA1)) $((0xFE))); do
    if [ "$lead" -eq $((0xF7)) ] && [ "$trail" -gt $((0xF9)) ]; then break; fi
    code=$(printf "\\x$(printf %02x "$lead")\\x$(printf %02x "$trail")" |
      iconv -f GB2312 -t UCS-2BE 2>/dev/null | od -An -tx1 | tr -d ' \n' | tr a-f A-F) || true
    echo "${code:-0000}"
  done
done
