#!/usr/bin/env bash
# Runs every shell block of README.md, in order, in a fresh folder where
# build/ is this build, as a reader would type them. Blocks whose first line
# is a "# (...)" note (a display needed, the build itself) are left out.
set -uo pipefail
source_dir="$1"; build="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ln -s "$(cd "$build" && pwd)" "$work/build"

# Each block into its own file, numbered in reading order.
awk -v dir="$work" '
  /^```sh[[:space:]]*$/ { n++; inside = 1; first = 1; next }
  /^```/ && inside { inside = 0; next }
  inside {
    if (first && $0 ~ /^# \(/) { skipped[n] = 1 }
    first = 0
    if (!(n in skipped)) print > (dir "/block" n ".sh")
  }' "$source_dir/README.md"

status=0
ran=0
for block in $(ls "$work"/block*.sh 2>/dev/null | sort -V); do
  pending=""
  while IFS= read -r line; do
    # A line ending in a backslash goes on in the next, as in the shell.
    if [[ "$line" == *\\ ]]; then
      pending+="${line%\\} "
      continue
    fi
    line="$pending$line"
    pending=""
    [ -z "$line" ] && continue
    ran=$((ran + 1))
    if ! (cd "$work" && bash -c "$line" >"$work/out" 2>&1); then
      echo "README command failed: $line"
      sed 's/^/    /' "$work/out"
      status=1
    fi
  done < "$block"
done
[ "$ran" -gt 0 ] || { echo "no README command was run"; status=1; }
exit $status
