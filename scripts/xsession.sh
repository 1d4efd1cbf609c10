# Shared by the screenshot scripts (sourced, not run).
#   xsession_start [--wm]  a virtual X server (1280 x 800, or XSESSION_SCREEN, e.g. 1280x1024x24)
#                          on a free display, exported as DISPLAY, with the openbox window manager
#                          when --wm is given
#   xsession_stop          ends both; call it from the script's clean-up
#   tunesift_program NAME BUILD PATH  the program at BUILD/PATH, or ends the script saying so

xsession_xvfb_pid=
xsession_wm_pid=

xsession_start() {
  local display=90
  while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
  done
  Xvfb ":$display" -screen 0 "${XSESSION_SCREEN:-1280x800x24}" -nolisten tcp >/dev/null 2>&1 &
  xsession_xvfb_pid=$!
  export DISPLAY=:$display
  for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
  done
  if [ "${1:-}" = --wm ]; then
    openbox --sm-disable >/dev/null 2>&1 &
    xsession_wm_pid=$!
    sleep 1
  fi
}

xsession_stop() {
  if [ -n "$xsession_wm_pid" ]; then kill "$xsession_wm_pid" 2>/dev/null || true; fi
  if [ -n "$xsession_xvfb_pid" ]; then kill "$xsession_xvfb_pid" 2>/dev/null || true; fi
}

tunesift_program() {
  local program=$2/$3
  if [ ! -x "$program" ]; then
    echo "$1: $program not found; build its target first" >&2
    exit 1
  fi
  echo "$program"
}
