#!/usr/bin/env bash
# The example programs beside the tools they stand in for, as whole processes
# on large generated files: wall time and peak memory (GNU time's %e and %M),
# each run once, outputs checked to agree.
#   sortlines               beside LC_ALL=C sort -f (two threads) and sort -f --parallel=1
#   sortlines --fields 2    beside LC_ALL=C sort -f -t, -k2,2 on a comma-separated file
#   linestat --word the     beside LC_ALL=C grep -cw the
# Writes <build>/sortlines.json for scripts/bench_report.py.
# Usage: bench/sortlines_vs_sort.sh [build folder, default build/bench] [size in MiB, default 100]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
mib=${2:-100}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Lines of 0 to 12 words of mixed-case letters with spaces and the
# punctuation ,.- (no [\]^_` : sort -f folds to upper case, sortlines to lower
# case, and these bytes lie between the two; no digits, which are word bytes
# for grep -w but not for linestat), "the" among them; and a comma-separated
# file of four columns.
python3 - "$work" "$mib" <<'PY'
import random, sys
random.seed(7)
letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
target = int(sys.argv[2]) << 20

def word():
    return "the" if random.random() < 0.03 else ''.join(random.choices(letters, k=random.randint(1, 9)))

def write(path, make_line):
    with open(path, "w", newline="") as out:
        written, chunk = 0, []
        while written < target:
            line = make_line()
            chunk.append(line)
            written += len(line)
            if len(chunk) == 10000:
                out.write(''.join(chunk))
                chunk = []
        out.write(''.join(chunk))

write(sys.argv[1] + "/in.txt",
      lambda: ' '.join(word() + random.choice(["", "", ",", ".", "-"]) for _ in range(random.randint(0, 12))) + "\n")
write(sys.argv[1] + "/in.csv",
      lambda: ','.join(''.join(random.choices(letters, k=random.randint(1, 12))) for _ in range(4)) + "\n")
PY

# Runs a command with GNU time; prints "seconds kilobytes".
measure() {
  local out=$1
  shift
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >"$out"
  cat "$work/time"
}

results=()
add() {  # name ours-measure peer peer-measure
  local ours=($2) theirs=($4)
  results+=("{\"task\": \"$1\", \"ours\": ${ours[0]}, \"ours_mib\": $((${ours[1]} / 1024)), \"peer\": \"$3\", \"peer_s\": ${theirs[0]}, \"peer_mib\": $((${theirs[1]} / 1024))}")
  echo "$1: ours ${ours[0]} s ${ours[1]} KiB, $3 ${theirs[0]} s ${theirs[1]} KiB"
}

folded() { tr -d '\r' <"$1" | tr 'A-Z' 'a-z'; }

ours=$(measure "$work/ours.txt" "$build/examples/sortlines" --output "$work/ours-file.txt" "$work/in.txt")
two=$(measure "$work/sort.txt" env LC_ALL=C sort -f "$work/in.txt")
one=$(measure "$work/sort1.txt" env LC_ALL=C sort -f --parallel=1 "$work/in.txt")
cmp <(folded "$work/ours-file.txt") <(folded "$work/sort.txt")
add "sortlines" "$ours" "sort -f" "$two"
add "sortlines" "$ours" "sort -f --parallel=1" "$one"

ours=$(measure "$work/ours.txt" "$build/examples/sortlines" --fields 2 --output "$work/ours-csv.txt" "$work/in.csv")
theirs=$(measure "$work/sort.txt" env LC_ALL=C sort -f -t, -k2,2 "$work/in.csv")
# The same order of second fields (lines with equal fields may differ in order).
cmp <(tr -d '\r' <"$work/ours-csv.txt" | cut -d, -f2 | tr 'A-Z' 'a-z') \
    <(cut -d, -f2 "$work/sort.txt" | tr 'A-Z' 'a-z')
add "sortlines --fields 2" "$ours" "sort -f -t, -k2,2" "$theirs"

ours=$(measure "$work/ours.txt" "$build/examples/linestat" --word the "$work/in.txt")
theirs=$(measure "$work/grep.txt" env LC_ALL=C grep -cw the "$work/in.txt")
[ "$(sed -n 's/^word\tthe\t//p' "$work/ours.txt")" = "$(cat "$work/grep.txt")" ]
add "linestat --word the" "$ours" "grep -cw the" "$theirs"

(IFS=,; printf '{"size_mib": %s, "runs": [%s]}\n' "$mib" "${results[*]}") > "$build/sortlines.json"
