#!/usr/bin/env bash
# Text merge against cat, text split by lines against split -l, in one run:
# wall and CPU time, throughput ratio and peak memory (GNU time). Not a test.
# Our outputs are on the disk when we finish (flushed before they take their
# names); the peers leave theirs in the page cache. So each peer is timed a
# second time followed by `sync`, which is the same work as ours.
# Usage: bench/text_bench.sh PLINTHWICK_CLI TEXT_BENCH_GEN [ROUNDS]
#   or:  cmake --build build --target text_bench
# Needs about 5 GB free in $TMPDIR (default /tmp); everything is removed at the end.
set -euo pipefail
cli=$(realpath "${1:?plinthwick-cli}")
gen=$(realpath "${2:?text_bench_gen}")
rounds=${3:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/pw-text-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "generating 200 files of 5 MiB and one of 1 GiB (CR LF lines, and the same with LF) in $work ..."
mkdir m
for i in $(seq -w 1 200); do "$gen" "m/f$i.txt" 5242880 "$i"; done
"$gen" big.txt 1073741824 7
tr -d '\r' <big.txt >lf.txt

declare -A wall cpu
mem_ours=0 mem_peer=0

# measure KEY WHO COMMAND...: one run after the disks are quiet; keeps wall, CPU, peak.
measure() {
  local key=$1 who=$2
  shift 2
  sync
  /usr/bin/time -f "%e %U %S %M" -o time.out "$@" >/dev/null 2>stderr.out || {
    echo "failed: $*" >&2
    cat stderr.out >&2
    exit 1
  }
  read -r e u s m <time.out
  wall[$key]+="$e "
  cpu[$key]+="$(awk -v u="$u" -v s="$s" 'BEGIN {printf "%.2f", u + s}') "
  if [ "$who" = ours ]; then
    [ "$m" -gt "$mem_ours" ] && mem_ours=$m
  else
    [ "$m" -gt "$mem_peer" ] && mem_peer=$m
  fi
  return 0
}

merge_ours() { measure merge.ours ours "$cli" merge txt -o "$work/ours" m/*.txt; }
merge_peer() {
  measure merge.peer peer sh -c 'exec cat m/*.txt > "$0"' "$work/cat.txt"
  measure merge.synced peer sh -c 'cat m/*.txt > "$0" && sync' "$work/cat.txt"
}
# split_* KEY FILE LINES
split_ours() { measure "$1.ours" ours "$cli" split txt --lines "$3" "$2"; }
split_peer() {
  rm -rf s && mkdir s && measure "$1.peer" peer split -a 4 -l "$3" "$2" s/x
  rm -rf s && mkdir s && measure "$1.synced" peer sh -c 'split -a 4 -l "$1" "$2" s/x && sync' sh "$3" "$2"
}

for r in $(seq 1 "$rounds"); do
  echo "round $r of $rounds ..."
  # Alternate who goes first, so that neither always meets the other's leftovers.
  if ((r % 2)); then merge_ours && merge_peer; else merge_peer && merge_ours; fi
  cmp -s ours.txt cat.txt || { echo "merge output differs from cat's" >&2; exit 1; }
  rm -f ours.txt cat.txt
  for case in "crlf100k big.txt 100000" "lf100k lf.txt 100000" "crlf10k big.txt 10000"; do
    set -- $case
    if ((r % 2)); then split_ours "$@" && split_peer "$@"; else split_peer "$@" && split_ours "$@"; fi
    cmp -s "${2%.txt}1.txt" <(head -n "$3" "$2" | sed 's/\r*$/\r/') ||
      { echo "first part of $2 is not its first $3 lines with CR LF" >&2; exit 1; }
    rm -rf big[0-9]*.txt lf[0-9]*.txt s
  done
done

median() { printf '%s\n' $1 | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
report() { # title key peer-name
  local ow pw sw oc pc
  ow=$(median "${wall[$2.ours]}") pw=$(median "${wall[$2.peer]}") sw=$(median "${wall[$2.synced]}")
  oc=$(median "${cpu[$2.ours]}") pc=$(median "${cpu[$2.peer]}")
  awk -v t="$1" -v p="$3" -v ow="$ow" -v pw="$pw" -v sw="$sw" -v oc="$oc" -v pc="$pc" 'BEGIN {
    printf "%-34s wall: ours %5.2f s, %-8s %5.2f s, ratio %.2f; with sync %5.2f s, ratio %.2f | cpu: ours %5.2f s, %-8s %5.2f s, ratio %.2f\n",
      t, ow, p, pw, pw / ow, sw, sw / ow, oc, p, pc, pc / oc }'
  echo "    wall runs: ours ${wall[$2.ours]}| $3 ${wall[$2.peer]}| $3; sync ${wall[$2.synced]}"
}
echo
echo "medians of $rounds rounds; ratio = peer time / our time, our throughput relative to the peer's"
report "merge 200 x 5 MiB (1 GiB)" merge cat
report "split 1 GiB CR LF, 100,000 lines a part" crlf100k "split -l"
report "split 1 GiB LF, 100,000 lines a part" lf100k "split -l"
report "split 1 GiB CR LF, 10,000 lines a part" crlf10k "split -l"
echo "peak memory (largest process): ours $((mem_ours / 1024)) MiB, peers $((mem_peer / 1024)) MiB"
