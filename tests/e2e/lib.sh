# Shared by the end-to-end tests and scripts/demo: a private Xvfb, a Wine
# prefix of our own, the demo in a Wine virtual desktop, and the clean-up that
# stops all of it. Source this file; it defines functions and variables only.
#
# Needs: TW_E2E_PREFIX (the Wine prefix folder) set before e2e_wine_setup.

# The Wine loader: wine64 where it is installed apart, else the wine command.
if [ -x /usr/lib/wine/wine64 ]; then
  TW_WINE=/usr/lib/wine/wine64
elif command -v wine64 >/dev/null 2>&1; then
  TW_WINE=wine64
else
  TW_WINE=wine
fi
TW_DESKTOP=e2e
TW_XVFB_PID=""
TW_DEMO_PID=""

e2e_log() { printf '[e2e] %s\n' "$*"; }

# Copies the Marlett font of the fonts-wine package into the prefix's
# windows/Fonts when it is not there yet: Wine loads its system fonts only from
# that folder, and without Marlett the title-bar buttons show the letters 0, 1
# and r instead of their glyphs.
e2e_wine_marlett() {
  local fonts="$WINEPREFIX/drive_c/windows/Fonts" font
  [ -f "$fonts/marlett.ttf" ] && return 0
  font=$(dpkg -L fonts-wine 2>/dev/null | grep '/marlett\.ttf$' | head -n 1)
  [ -n "$font" ] && [ -f "$font" ] || font=/usr/share/wine/fonts/marlett.ttf
  [ -f "$font" ] || { e2e_log "fonts-wine's marlett.ttf not found"; return 0; }
  mkdir -p "$fonts" && cp "$font" "$fonts/marlett.ttf.$$" && mv "$fonts/marlett.ttf.$$" "$fonts/marlett.ttf"
}

# Prepares the prefix once (under a lock): initialised, the Marlett font in
# place, the probe placed on the demo's virtual desktop, and a grey menu colour
# so that the white menu background the demo sets cannot be mistaken for the
# system's.
#
# With TW_E2E_WIN32=1 the prefix serves the 32-bit demo as well: the i386
# builtin DLLs, drivers and programs go into windows/syswow64 (64-bit Wine's
# boot leaves it empty), and the probe stays on the default desktop, where the
# 32-bit demo shows its window (see e2e_start_demo32).
e2e_wine_setup() {
  export WINEPREFIX="$TW_E2E_PREFIX" WINEDEBUG=-all WINELOADER="$TW_WINE"
  if [ -f "$WINEPREFIX/.tw-e2e-ready" ]; then
    e2e_wine_marlett  # prefixes made before the font was copied get it now
    return 0
  fi
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.tw-e2e-ready" ]; then
      # No display yet: keep wineboot from looking for one.
      DISPLAY= timeout 300 "$TW_WINE" wineboot --init >/dev/null 2>&1
      e2e_wine_marlett
      if [ "${TW_E2E_WIN32:-}" = 1 ]; then
        cp /usr/lib/i386-linux-gnu/wine/i386-windows/* "$WINEPREFIX/drive_c/windows/syswow64/"
      else
        DISPLAY= "$TW_WINE" reg add 'HKCU\Software\Wine\AppDefaults\e2e_probe.exe\Explorer' \
          /v Desktop /d "$TW_DESKTOP" /f >/dev/null 2>&1
      fi &&
        DISPLAY= "$TW_WINE" reg add 'HKCU\Control Panel\Colors' /v Menu /d '212 208 200' /f \
          >/dev/null 2>&1 &&
        DISPLAY= "$TW_WINE" reg add 'HKCU\Control Panel\Colors' /v MenuBar /d '212 208 200' /f \
          >/dev/null 2>&1 &&
        wineserver -w && touch "$WINEPREFIX/.tw-e2e-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
  [ -f "$WINEPREFIX/.tw-e2e-ready" ]
}

# Starts a private Xvfb of the given size (e.g. 1920x1080) on a free display
# number and exports DISPLAY.
e2e_start_xvfb() {
  local size=$1 dir=$2 waited=0
  rm -f "$dir/xvfb-display"
  Xvfb -displayfd 5 -screen 0 "${size}x24" -nolisten tcp 5>"$dir/xvfb-display" \
    >"$dir/xvfb.log" 2>&1 &
  TW_XVFB_PID=$!
  while [ ! -s "$dir/xvfb-display" ]; do
    sleep 0.1
    waited=$((waited + 1))
    if [ $waited -gt 100 ] || ! kill -0 "$TW_XVFB_PID" 2>/dev/null; then
      e2e_log "Xvfb did not start"
      return 1
    fi
  done
  export DISPLAY=":$(head -n 1 "$dir/xvfb-display")"
}

# Starts the demo in a Wine virtual desktop of the given size; its standard
# output goes to the transcript file, its standard error beside it.
e2e_start_demo() {
  local exe=$1 size=$2 transcript=$3
  "$TW_WINE" explorer "/desktop=$TW_DESKTOP,$size" "$exe" >"$transcript" 2>"$transcript.stderr" &
  TW_DEMO_PID=$!
}

# Starts the 32-bit demo under 32-bit Wine through the emulator, on the
# default desktop of the X display (a 32-bit process there cannot start
# explorer's virtual desktop, or any other process): a 64-bit program of the
# prefix starts the desktop first, then the demo connects to the same
# persistent 64-bit server.
e2e_start_demo32() {
  local exe=$1 probe_exe=$2 transcript=$3
  /usr/lib/wine/wineserver64 -p
  timeout 120 "$TW_WINE" "$probe_exe" find 100 >/dev/null 2>&1
  WINELOADERNOEXEC=1 qemu-i386 -R 0xffff0000 /usr/lib/wine/wine "$exe" \
    >"$transcript" 2>"$transcript.stderr" &
  TW_DEMO_PID=$!
}

# Stops everything this run started: the prefix's Wine processes, the desktop
# and Xvfb. Safe to call more than once.
e2e_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "$TW_DEMO_PID" ]; then
    kill "$TW_DEMO_PID" 2>/dev/null || true
    wait "$TW_DEMO_PID" 2>/dev/null || true
    TW_DEMO_PID=""
  fi
  e2e_stop_xvfb
}

e2e_stop_xvfb() {
  if [ -n "$TW_XVFB_PID" ]; then
    kill "$TW_XVFB_PID" 2>/dev/null || true
    wait "$TW_XVFB_PID" 2>/dev/null || true
    TW_XVFB_PID=""
  fi
}

# Screenshot of the whole virtual screen.
e2e_screenshot() { import -display "$DISPLAY" -window root "$1" 2>/dev/null; }
