#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine, as CTest's emulator and for the scripts.
#
#   wine-run.sh PROGRAM.exe [ARGS...]     run it (exit status is the program's)
#   wine-run.sh --init                    only make sure the prefix exists
#
# The 32-bit prefix lives in the build folder (RS_WINEPREFIX, or the folder holding
# CMakeCache.txt above the program). ANSI code page 936 comes from LC_ALL=zh_CN.UTF-8.
# Without a DISPLAY an Xvfb is started for this run and stopped afterwards. Every wait
# is bounded: the program by RS_WINE_TIMEOUT seconds (default 600).
set -uo pipefail

export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8
export WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}

find_build_dir() {
  local d
  d=$(cd "$(dirname "$1")" && pwd)
  while [[ $d != / ]]; do
    [[ -f $d/CMakeCache.txt ]] && { echo "$d"; return; }
    d=$(dirname "$d")
  done
  pwd
}

if [[ ${1:-} == --init ]]; then
  build_dir=${2:-$PWD}
else
  build_dir=$(find_build_dir "${1:?program}")
fi
export WINEPREFIX=${RS_WINEPREFIX:-$build_dir/wineprefix}

xvfb_pid=
cleanup() {
  if [[ -n $xvfb_pid ]]; then
    timeout 20 wineserver -w 2>/dev/null
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
}
trap cleanup EXIT

start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
      [[ -e /tmp/.X11-unix/X$n ]] && { export DISPLAY=":$n"; return 0; }
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; xvfb_pid=
  done
  echo "wine-run: could not start Xvfb" >&2
  return 1
}

if [[ -z ${DISPLAY:-} ]]; then
  start_xvfb || exit 1
fi

# One prefix per build folder, made once; a lock keeps parallel tests from racing.
mkdir -p "$WINEPREFIX"
(
  flock -w 300 9 || { echo "wine-run: prefix lock timed out" >&2; exit 1; }
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    timeout 300 wineboot -i >/dev/null 2>&1
    timeout 60 wineserver -w 2>/dev/null
  fi
  # Wine's own fonts (Marlett draws the title bar's buttons) are not found by this Wine
  # unless they are in the prefix.
  fonts=$WINEPREFIX/drive_c/windows/Fonts
  if [[ -d $fonts && -d /usr/share/wine/fonts && ! -f $fonts/marlett.ttf ]]; then
    cp -n /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null
  fi
  # Wine has no 宋体 or 黑体 of its own. The face it takes by default (文泉驿正黑 from
  # fonts-wqy-zenhei) loses thin strokes at the dialog's sizes ("-" at 12 pixels, "_" at 11);
  # Noto Sans CJK SC (fonts-noto-cjk) keeps every one. The same file ships in the package.
  if [[ ! -f $WINEPREFIX/.rs-fonts ]]; then
    reg_file=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/package/wine-fonts.reg
    timeout 60 wine regedit "Z:${reg_file//\//\\}" >/dev/null 2>&1 &&
      touch "$WINEPREFIX/.rs-fonts"
  fi
  # Xvfb has no window manager: Wine would wait 2 s for one at every hidden window
  # unless its windows are unmanaged.
  if [[ ! -f $WINEPREFIX/.rs-unmanaged ]]; then
    timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 &&
      touch "$WINEPREFIX/.rs-unmanaged"
  fi
) 9>"$WINEPREFIX.lock" || exit 1

[[ ${1:-} == --init ]] && exit 0

# A thread that dies under Wine (a fault its handlers could not take) can end the program
# with status 0. GoogleTest keeps the file named by TEST_PREMATURE_EXIT_FILE while its
# tests run and removes it when they end, so a file left behind is a program that died.
exit_marker=$(mktemp -u "${TMPDIR:-/tmp}/rs-wine-exit.XXXXXX")
export TEST_PREMATURE_EXIT_FILE="Z:${exit_marker//\//\\}"
timeout -k 10 "${RS_WINE_TIMEOUT:-600}" wine "$@"
status=$?
if [[ -e $exit_marker ]]; then
  rm -f "$exit_marker"
  echo "wine-run: $1 ended before its tests did" >&2
  [[ $status == 0 ]] && status=1
fi
exit "$status"
