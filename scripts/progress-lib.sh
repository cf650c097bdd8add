# Progress for the scripts' long steps, so that none is silent for more
# than 25 s; sourced, not run.
#
#   run_logged LOG WHAT COMMAND...
#       Runs COMMAND with its output in LOG, saying every 20 s
#       "  ... WHAT: N s" and, for a build, its last percentage in LOG.
#       Returns COMMAND's status.
#   tag_lines NAME
#       Copies standard input to standard output, each line after
#       "NAME | "; after 25 s without a line it says how long the input
#       has been quiet, and what its last line was (a run_logged inside
#       speaks first).

progress_every=20
quiet_every=25

run_logged() {
  local log=$1 what=$2
  shift 2
  local parent=$BASHPID
  (
    waited=0
    # The sleep's output is not the pipe a caller may be reading: the
    # pipe ends when this loop is killed.
    while sleep "$progress_every" >/dev/null 2>&1 && kill -0 "$parent" 2>/dev/null; do
      waited=$((waited + progress_every))
      percent=$( (grep -a -o '^\[ *[0-9]*%\]' "$log" 2>/dev/null || true) | tail -n 1 | tr -d '[] ')
      echo "  ... $what: $waited s${percent:+, $percent built}"
    done
  ) &
  local ticker=$! status=0
  "$@" >"$log" 2>&1 || status=$?
  kill "$ticker" 2>/dev/null || true
  wait "$ticker" 2>/dev/null || true
  return "$status"
}

tag_lines() {
  local name=$1 line="" pending="" quiet=0 last="" status
  while :; do
    IFS= read -r -t "$quiet_every" line && status=0 || status=$?
    if [ "$status" -eq 0 ]; then
      line=$pending$line
      pending=""
      printf '%-10s | %s\n' "$name" "$line"
      last=$line
      quiet=0
      continue
    fi
    # A timeout keeps what it read of a line for the next read.
    pending=$pending$line
    line=""
    if [ "$status" -le 128 ]; then
      [ -n "$pending" ] && printf '%-10s | %s\n' "$name" "$pending"
      return 0
    fi
    quiet=$((quiet + quiet_every))
    printf '%-10s | ... quiet for %d s since: %s\n' "$name" "$quiet" "${last:0:100}"
  done
}
