#!/usr/bin/env bash
# How often the idle program wakes up: runs `ravolet --simulated-mouse` on a
# virtual X display (Xvfb) with a settings folder of its own, lets it settle,
# then counts each thread's context switches from /proc/<pid>/task/*/status
# over a window, after the first-run set-up has been completed. A thread that sleeps and wakes again makes one voluntary
# switch per wake-up; involuntary switches (preemptions) are shown apart.
#
#   bench/idle-wakeups.sh [path/to/ravolet] [seconds to measure] [rounds]
#
# Prints one line per thread and round (wake-ups per second) and the total.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
program="${1:-$root/build/RavoletApp/ravolet}"
window="${2:-30}"
rounds="${3:-1}"
settle=10

if [ ! -x "$program" ]; then
  echo "no program at $program (build it first, or name it)" >&2
  exit 1
fi
command -v Xvfb >/dev/null || { echo "Xvfb is missing (Debian package xvfb)" >&2; exit 1; }

work="$(mktemp -d)"
xvfb_pid=""
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null && wait "$program_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses: Xvfb picks one and writes it to a descriptor.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 10 -u "$display_fd" display || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }

mkdir -p "$work/home" "$work/config/ravolet" "$work/data" "$work/runtime"
chmod 700 "$work/runtime"
# Idle means set up and left alone in the tray: the set-up window, which polls
# the permissions while it is open, has been completed.
printf '{\n  "onboarding.completed": true\n}\n' >"$work/config/ravolet/preferences.json"
env -i PATH="$PATH" DISPLAY=":$display" HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
  XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/runtime" LANG=C.UTF-8 \
  "$program" --simulated-mouse >"$work/program.log" 2>&1 &
program_pid=$!
sleep "$settle"
if ! kill -0 "$program_pid" 2>/dev/null; then
  echo "the program ended early:" >&2
  cat "$work/program.log" >&2
  exit 1
fi

# "tid name voluntary involuntary" for every thread of the program.
snapshot() {
  local task
  for task in /proc/"$program_pid"/task/*; do
    [ -r "$task/status" ] || continue
    awk -v tid="${task##*/}" -v name="$(tr ' ' '_' <"$task/comm")" '
      /^voluntary_ctxt_switches/ { v = $2 }
      /^nonvoluntary_ctxt_switches/ { n = $2 }
      END { print tid, name, v, n }' "$task/status"
  done
}

for round in $(seq 1 "$rounds"); do
  snapshot >"$work/before"
  start=$(date +%s.%N)
  sleep "$window"
  snapshot >"$work/after"
  end=$(date +%s.%N)
  echo "round $round of $rounds: $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') s"
  awk -v a="$start" -v b="$end" '
    NR == FNR { v[$1] = $3; n[$1] = $4; next }
    {
      seconds = b - a
      dv = $3 - ($1 in v ? v[$1] : 0); dn = $4 - ($1 in n ? n[$1] : 0)
      threads += 1
      if (dv + dn == 0) { silent += 1; next }
      printf "  %-24s tid %-7s %6.2f wake-ups/s  (%d voluntary, %d involuntary)\n", $2, $1, dv / seconds, dv, dn
      total += dv; totaln += dn
    }
    END {
      printf "  %d other threads did not run at all\n", silent
      printf "  %-36s %6.2f wake-ups/s  (%d voluntary, %d involuntary, %d threads)\n", "all threads", total / (b - a), total, totaln, threads
    }
  ' "$work/before" "$work/after"
done
