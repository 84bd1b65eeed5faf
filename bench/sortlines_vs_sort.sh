#!/usr/bin/env bash
# examples/sortlines beside `sort -f` on one large file of random lines: whole
# processes, timed from start to end, and the same output checked (equal after
# case folding, and the same lines; lines that differ only in case may come in
# either order). Writes the times to <build>/sortlines.json for
# scripts/bench_report.py.
# Usage: bench/sortlines_vs_sort.sh [build folder, default build/bench] [size in MiB, default 100]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
mib=${2:-100}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Lines of 0 to 12 words of mixed-case letters and digits, with spaces and the
# punctuation ,.- (no [\]^_` : sort -f folds to upper case, sortlines to lower
# case, and these bytes lie between the two).
python3 - "$work/in.txt" "$mib" <<'PY'
import random, sys
random.seed(7)
letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789,.-"
target = int(sys.argv[2]) << 20
with open(sys.argv[1], "w", newline="") as out:
    written = 0
    chunk = []
    while written < target:
        words = [''.join(random.choices(letters, k=random.randint(1, 9)))
                 for _ in range(random.randint(0, 12))]
        line = ' '.join(words) + "\n"
        chunk.append(line)
        written += len(line)
        if len(chunk) == 10000:
            out.write(''.join(chunk))
            chunk = []
    out.write(''.join(chunk))
PY

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@"
  end=$(date +%s.%N)
  python3 -c "print(f'{$end - $start:.3f}')"
}

ours=$(seconds "$build/examples/sortlines" --output "$work/ours.txt" "$work/in.txt")
theirs=$(seconds env LC_ALL=C sort -f -o "$work/sort.txt" "$work/in.txt")

tr -d '\r' < "$work/ours.txt" > "$work/ours-lf.txt"
cmp <(tr 'A-Z' 'a-z' < "$work/ours-lf.txt") <(tr 'A-Z' 'a-z' < "$work/sort.txt")
cmp <(LC_ALL=C sort "$work/ours-lf.txt") <(LC_ALL=C sort "$work/sort.txt")

echo "sortlines ${ours} s, sort -f ${theirs} s on ${mib} MiB: same output"
printf '{"size_mib": %s, "ours": %s, "sort -f": %s}\n' "$mib" "$ours" "$theirs" > "$build/sortlines.json"
