#!/usr/bin/env bash
# mksetup.1.gz from mksetup's own help texts: the top level and each command.
# Usage: make-manpage.sh MKSETUP OUT
set -euo pipefail
mksetup=$1 out=$2
extra=$(mktemp)
trap 'rm -f "$extra"' EXIT
{
  echo "[COMMANDS]"
  for command in build inspect verify; do
    echo ".SS $command"
    echo ".nf"
    "$mksetup" "$command" --help | sed 's/\\/\\\\/g'
    echo ".fi"
  done
  echo "[SEE ALSO]"
  echo "The manifest format: /usr/share/doc/cabsetup/manifest.md"
} >"$extra"
help2man --no-info --no-discard-stderr --name "builds setup packages for 32-bit Windows" \
  --include "$extra" "$mksetup" | gzip -9n >"$out"
