#!/usr/bin/env bash
# Usage: with-wine-session.sh PREFIX_DIR -- COMMAND [ARGS...]
#
# Runs COMMAND with a private X display (Xvfb) and a persistent wine server for the Wine
# prefix PREFIX_DIR (created when missing), then stops both whatever happens, so that no
# process outlives the session. Exits with COMMAND's status.
set -uo pipefail

usage() {
  echo "usage: $0 PREFIX_DIR -- COMMAND [ARGS...]" >&2
  exit 2
}
[ $# -ge 3 ] && [ "$2" = "--" ] || usage
prefix_arg=$1
shift 2

# Wine wants an absolute prefix path.
mkdir -p "$(dirname "$prefix_arg")"
prefix=$(realpath -m "$prefix_arg")

xvfb_pid=""
server_started=0

cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  if [ "$server_started" = 1 ]; then
    # -k ends every Wine process of the prefix with the server; -w waits until it is gone.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

display_ready() {
  if command -v xdpyinfo >/dev/null 2>&1; then
    xdpyinfo -display "$1" >/dev/null 2>&1
  else
    [ -S "/tmp/.X11-unix/X${1#:}" ]
  fi
}

# Takes the first display number that is free; a number taken by someone else between our
# check and Xvfb's start makes Xvfb exit, and we move on to the next one.
start_xvfb() {
  local n waited
  for n in $(seq 91 140); do
    [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ] && continue
    Xvfb ":$n" -nolisten tcp -screen 0 1024x768x24 >/dev/null 2>&1 &
    xvfb_pid=$!
    for waited in $(seq 1 100); do
      if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=""
        break
      fi
      if display_ready ":$n"; then
        export DISPLAY=":$n"
        return 0
      fi
      sleep 0.1
    done
    if [ -n "$xvfb_pid" ]; then
      kill "$xvfb_pid" 2>/dev/null
      wait "$xvfb_pid" 2>/dev/null
      xvfb_pid=""
    fi
  done
  echo "with-wine-session: no free X display found" >&2
  return 1
}

start_xvfb || exit 1

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko installer prompts.
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$prefix/system.reg" ]; then
  echo "with-wine-session: creating Wine prefix $prefix (this takes a few minutes)" >&2
  server_started=1
  wineboot -i >/dev/null 2>&1 || { echo "with-wine-session: wineboot -i failed" >&2; exit 1; }
  # The server wineboot started must end (saving the new registry) before ours can start.
  wineserver -w >/dev/null 2>&1 || true
fi

server_started=1
# Keeps the server (and with it the prefix's services) up between the Wine programs of
# COMMAND, so that each program does not pay for starting Wine again.
if ! wineserver -p; then
  echo "with-wine-session: cannot start a wine server for $prefix (is one running already?)" >&2
  server_started=0  # not ours to stop
  exit 1
fi

# Starts the prefix's service processes (services, explorer, winedevice...) now, with their
# output on /dev/null: started by COMMAND's first Wine program they would inherit its output
# pipes and hold them open for the whole session. The 64-bit loader does it in a second; the
# "wine" command goes through the 32-bit loader, which may run emulated and take a minute.
wine64_loader=$(command -v wine64 || true)
for candidate in /usr/lib/wine/wine64 /usr/lib64/wine/wine64; do
  [ -n "$wine64_loader" ] || { [ -x "$candidate" ] && wine64_loader=$candidate; }
done
"${wine64_loader:-wine}" cmd /c exit </dev/null >/dev/null 2>&1 || true

# For COMMAND: the loader that starts 64-bit programs (the lab programs) without delay.
export WINE64_LOADER="${wine64_loader:-wine}"
"$@"
exit $?
