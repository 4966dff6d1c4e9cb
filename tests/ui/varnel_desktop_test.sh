#!/usr/bin/env bash
# The desktop program as a user drives it: varnel --port P on a virtual display against
# three simulated controllers; Alt+C scans, Alt+R checks their status, Alt+W writes their
# clocks; SIGTERM closes the window, which stores its ten settings, and started again it
# does so too while a status check waits. The controllers say what reached them. Runs inside a network namespace of its own where one can be made.
#   varnel_desktop_test.sh VARNEL WITNESS
set -euo pipefail
varnel="$1"
witness="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
skip() { echo "SKIP: $*"; exit 77; }
for tool in Xvfb xdotool import; do command -v "$tool" >/dev/null || skip "$tool is missing"; done

# Inside a namespace of its own nothing can reach a real network, whatever goes wrong.
if [ -z "${VARNEL_DESKTOP_NETNS:-}" ] && unshare -rn true 2>/dev/null; then
  export VARNEL_DESKTOP_NETNS=1
  exec unshare -rn bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
fi

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -n "${XVFB_PID:-}" ] && xvfb_stop
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  [ -n "${DISPLAY:-}" ] && import -window root "$work/failure.png" 2>/dev/null &&
    cp "$work/failure.png" "${TMPDIR:-/tmp}/varnel-desktop-failure.png" &&
    echo "screen at the failure: ${TMPDIR:-/tmp}/varnel-desktop-failure.png" >&2
  [ -f "$work/varnel.log" ] && sed "s/^/varnel: /" "$work/varnel.log" >&2
  [ -f "$work/xvfb.log" ] && sed "s/^/Xvfb: /" "$work/xvfb.log" >&2
  exit 1
}

coproc WITNESS { exec "$witness"; }
pids+=("$WITNESS_PID")
read -r word port <&"${WITNESS[0]}" || fail "the simulated controllers did not start"
[ "$word" = PORT ] || fail "the simulated controllers said \"$word $port\""

# What each controller received: "pings reads writes clock" by NAD.
report() {
  echo report >&"${WITNESS[1]}"
  REPORT=()
  local line
  while read -r line <&"${WITNESS[0]}"; do
    [ "$line" = end ] && break
    REPORT+=("$line")
  done
}
# Waits up to 20 s until every controller's report line satisfies the awk condition.
await() {
  local what="$1" condition="$2"
  for _ in $(seq 1 200); do
    report
    if printf '%s\n' "${REPORT[@]}" | awk "{ if (!($condition)) bad = 1 } END { exit bad }"; then
      return 0
    fi
    sleep 0.1
  done
  printf '%s\n' "${REPORT[@]}" >&2
  fail "$what"
}

# A settings folder of its own under $work, with adapter lo chosen: sets XDG_CONFIG_HOME
# and conf.
fresh_settings() {
  export XDG_CONFIG_HOME="$work/$1"
  conf="$XDG_CONFIG_HOME/Morvane/Kestrum.conf"
  mkdir -p "$(dirname "$conf")"
  printf '[General]\nEthernetAdapterID=lo\n' >"$conf"
}
# Starts the program and waits for its window: sets app and window.
start_varnel() {
  "$varnel" --port "$port" >"$work/varnel.log" 2>&1 &
  app=$!
  pids+=("$app")
  window="$(window_id "Varnel v1.3.3" 30)" || fail "$1"
  sleep 0.5
}

export QT_QPA_PLATFORM=xcb
fresh_settings config

export XVFB_LOG="$work/xvfb.log"
source "$here/../../scripts/xvfb.sh"
xvfb_start 1280x600 || fail "no virtual display"
start_varnel "the window did not open"

press "$window" alt+c
await "Alt+C: every controller hears the scan" '$4 >= 1'
sleep 1.5  # the scan listens a whole second for answers
press "$window" alt+r
await "Alt+R: every controller is asked its status" '$6 >= 5'
sleep 1
press "$window" alt+w
await "Alt+W: every clock is set to the PC's" '$10 >= -5 && $10 <= 5'
sleep 0.5
import -window root "$work/after.png"

kill -TERM "$app"
status=0
wait "$app" || status=$?
pids=("${pids[@]/$app/}")
[ "$status" -eq 0 ] || fail "SIGTERM: the program ended with status $status"
for name in EthernetAdapterID DirectConnection ExtraRetries ExtraTimeout Password Top Left Width \
            Height Maximized; do
  grep -q "^$name=" "$conf" || { cat "$conf" >&2; fail "SIGTERM: $name was not stored"; }
done
grep -q '^EthernetAdapterID=lo$' "$conf" || fail "the adapter was not kept"

# Closing during a wait: started again, the answers slowed down, SIGTERM while the status
# check waits on the first controller. The program ends soon, stores its settings, and
# the later controllers are never asked.
fresh_settings config-again
report
pings10="$(printf '%s\n' "${REPORT[@]}" | awk '$2 == 10 { print $4 }')"
start_varnel "the window did not open again"
press "$window" alt+c
await "Alt+C again: the scan is heard" "\$2 != 10 || \$4 > $pings10"
sleep 1.5
report
reads10="$(printf '%s\n' "${REPORT[@]}" | awk '$2 == 10 { print $6 }')"
reads12="$(printf '%s\n' "${REPORT[@]}" | awk '$2 == 12 { print $6 }')"
echo "slow 150" >&"${WITNESS[1]}"
press "$window" alt+r
await "Alt+R again: the first controller is asked" "\$2 != 10 || \$6 > $reads10"
kill -TERM "$app"
for _ in $(seq 1 100); do
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$app" 2>/dev/null && fail "SIGTERM during a status check: the program did not end within 10 s"
status=0
wait "$app" || status=$?
pids=("${pids[@]/$app/}")
[ "$status" -eq 0 ] || fail "SIGTERM during a status check: the program ended with status $status"
report
[ "$(printf '%s\n' "${REPORT[@]}" | awk '$2 == 12 { print $6 }')" = "$reads12" ] ||
  fail "SIGTERM during a status check: the check went on to the last controller"
[ "$(grep -c '^[A-Za-z]*=' "$conf")" -eq 10 ] || { cat "$conf" >&2; fail "SIGTERM during a status check: the settings were not stored"; }
echo "PASS: scan, status check and clock write as a user would; SIGTERM stored the settings, also during a status check"
