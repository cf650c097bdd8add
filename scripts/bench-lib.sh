# Helpers the benchmark scripts share; sourced, not run.

# Wall time of one run of a command, in seconds.
once() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
# Least, greatest and median of a list of numbers.
least() { tr ' ' '\n' <<<"$1" | grep . | sort -n | head -1; }
greatest() { tr ' ' '\n' <<<"$1" | grep . | sort -n | tail -1; }
median() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.0f", n / s }'; }
# One program's speed as a share of another's, in per cent, for each round:
# the other program's times ($2) over this one's ($1), round by round.
shares() {
  paste -d' ' <(tr ' ' '\n' <<<"$1" | grep .) <(tr ' ' '\n' <<<"$2" | grep .) |
    awk '{ printf "%.0f ", 100 * $2 / $1 }'
}
# Times ($1) of runs over $2 frames each, scaled to what $3 frames would take.
scaled() {
  tr ' ' '\n' <<<"$1" | grep . | awk -v a="$2" -v b="$3" '{ printf "%.6f ", $1 * b / a }'
}
