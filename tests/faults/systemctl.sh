#!/bin/sh
# A scripted `systemctl` for the fault matrix: one unit whose state lives in files beside this
# script, in the folder named by MRV_FAKE_UNIT_DIR (default: the script's own folder):
#   state         "ActiveState SubState", changed by stop and start requests
#   pending       queued changes, one "DEADLINE_NS ActiveState SubState" per line; each is applied
#                 by the first call made after its deadline, as a systemd job ends on its own time
#   stop.delay    seconds a stop job keeps the unit deactivating (default 0.2)
#   start.delay   seconds a start job keeps the unit activating (default 0.2)
#   stop.refuse   the stop request fails: the file's text goes to stderr, exit status 4
#   start.refuse  the same for start requests
#   stop.timeout  the stop job runs into the unit's stop time-out: the unit is killed and ends
#                 "failed" with result "timeout"
#   start.fail    the start job fails: activating, then "failed failed"
#   calls.log     every call, one line of arguments each
dir=${MRV_FAKE_UNIT_DIR:-$(cd "$(dirname "$0")" && pwd)}
printf '%s\n' "$*" >> "$dir/calls.log"

now() { date +%s%N; }
later() {  # later SECONDS -> a deadline in ns
  awk -v n="$(now)" -v s="$1" 'BEGIN { printf "%.0f\n", n + s * 1000000000 }'
}
settle() {
  [ -s "$dir/pending" ] || return 0
  t=$(now) || return 0
  : > "$dir/pending.next"
  while read -r deadline active sub; do
    if [ "$deadline" -le "$t" ] && [ ! -s "$dir/pending.next" ]; then
      printf '%s %s\n' "$active" "$sub" > "$dir/state.next" || return 0
      mv "$dir/state.next" "$dir/state"
    else
      printf '%s %s %s\n' "$deadline" "$active" "$sub" >> "$dir/pending.next"
    fi
  done < "$dir/pending"
  mv "$dir/pending.next" "$dir/pending"
}
# A job is queued whole or not at all, however this client ends: its later states first, then
# the state it starts in (the state file changes last, by rename).
queue() {
  mv "$dir/pending.new" "$dir/pending"
  echo "$1" > "$dir/state.new" && mv "$dir/state.new" "$dir/state"
}
delay() { cat "$dir/$1.delay" 2>/dev/null || echo 0.2; }

verb=; unit=; rest=
for a in "$@"; do
  if [ -n "$rest" ]; then unit=$a; continue; fi
  case "$a" in
    --) rest=1 ;;
    -*) [ "$a" = --version ] && verb=version ;;
    *) [ -z "$verb" ] && verb=$a ;;
  esac
done

settle
case "$verb" in
  version) echo "systemd 252 (252.0)" ;;
  show)
    set -- $(cat "$dir/state")
    result=success
    [ "$2" = failed ] && result=$(cat "$dir/result" 2>/dev/null || echo exit-code)
    printf 'Id=%s\nLoadState=loaded\nActiveState=%s\nSubState=%s\nResult=%s\n' "$unit" "$1" "$2" "$result" ;;
  stop)
    if [ -f "$dir/stop.refuse" ]; then cat "$dir/stop.refuse" >&2; exit 4; fi
    set -- $(cat "$dir/state")
    case "$1" in inactive|failed) exit 0 ;; esac
    d=$(delay stop)
    if [ -f "$dir/stop.timeout" ]; then
      echo timeout > "$dir/result"
      { echo "$(later "$d") deactivating final-sigkill"
        echo "$(later "$(awk -v d="$d" 'BEGIN { print d * 2 }')") failed failed"; } > "$dir/pending.new"
    else
      echo "$(later "$d") inactive dead" > "$dir/pending.new"
    fi
    queue "deactivating stop-sigterm" ;;
  start)
    if [ -f "$dir/start.refuse" ]; then cat "$dir/start.refuse" >&2; exit 4; fi
    set -- $(cat "$dir/state")
    [ "$1" = active ] && exit 0
    rm -f "$dir/result"
    if [ -f "$dir/start.fail" ]; then
      echo exit-code > "$dir/result"
      echo "$(later "$(delay start)") failed failed" > "$dir/pending.new"
    else
      echo "$(later "$(delay start)") active running" > "$dir/pending.new"
    fi
    queue "activating start" ;;
  *) echo "Unknown command verb $verb." >&2; exit 1 ;;
esac
