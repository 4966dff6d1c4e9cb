# Functions for running the window on a virtual display, shared by scripts/demo and the
# desktop test: source it, then xvfb_start WxH, and xvfb_stop when done.
#
#   xvfb_start 1000x560     starts Xvfb on a free display and exports DISPLAY
#   window_id "TITLE" [S]   waits up to S seconds (10) for a window of that title; prints its id
#   press ID KEYS...        sends keys to the window as a user types them (xdotool names)
#   screenshot FILE         saves the whole screen (import -window root)
#   xvfb_stop               ends the display

xvfb_start() {
  local size="$1" fdfile attempt
  fdfile="$(mktemp)"
  XVFB_LOG="${XVFB_LOG:-/dev/null}"
  for attempt in 1 2 3; do
    : >"$fdfile"
    # -displayfd picks a free display number and reports it once the server listens.
    # -noreset: a server that resets when its last client leaves refuses the next one a moment.
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$fdfile" >>"$XVFB_LOG" 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 1 100); do
      [ -s "$fdfile" ] && break
      sleep 0.05
    done
    if [ -s "$fdfile" ]; then
      export DISPLAY=":$(tr -d '\n' <"$fdfile")"
      # A display number another server left behind can be taken without being usable.
      if xdotool getdisplaygeometry >/dev/null 2>&1; then
        rm -f "$fdfile"
        return 0
      fi
    fi
    xvfb_stop
  done
  rm -f "$fdfile"
  echo "xvfb: the virtual display did not start" >&2
  return 1
}

xvfb_stop() {
  [ -n "${XVFB_PID:-}" ] || return 0
  kill "$XVFB_PID" 2>/dev/null || true
  wait "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=""
}

window_id() {
  local title="$1" seconds="${2:-10}" id=""
  for _ in $(seq 1 $((seconds * 10))); do
    id="$(xdotool search --name "^${title}\$" 2>/dev/null | head -n 1 || true)"
    [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || { echo "xvfb: no window \"$title\" appeared" >&2; return 1; }
  echo "$id"
}

press() {
  local id="$1"
  shift
  # Without a window manager nobody gives the window the keyboard: it is given here.
  xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  xdotool key --clearmodifiers "$@"
}

screenshot() {
  import -window root "$1"
}
