# Sourced by the scripts that run the Windows build under Wine: a throwaway prefix on a headless
# display, both torn down when the sourcing script exits. Sets `work` (a scratch folder removed
# at exit, the prefix inside it), WINEPREFIX and, once start_wine_display has run, DISPLAY.
work=$(mktemp -d /tmp/salvora-wine.XXXXXX)
# No Mono or Gecko prompts; and no menu builder, which would mirror the prefix's Start menu and
# file types into this machine's own ~/.local and ~/.config.
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
xvfb_pid=
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_wine_display() {
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$work/display")"
  wineboot -u </dev/null >/dev/null 2>&1
  # A virtual desktop: without a window manager every window close costs seconds.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
    </dev/null >/dev/null 2>&1
  # Debian's Wine does not load its own fonts from where the package puts them.
  cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  wineserver -w
}
