#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine, as CTest's emulator and for the scripts.
#
#   wine-run.sh [--arch win32|win64] PROGRAM.exe [ARGS...]   run it (exit status is the program's)
#   wine-run.sh [--arch win32|win64] --init BUILD_DIR        only make sure the prefix exists
#
# The architecture is the one given (--arch, or RS_WINEARCH), else the program's own (its PE
# header; win32 for what is no PE file, such as cmd); for --init, the build folder's. 32-bit programs run in a 32-bit prefix with the 32-bit
# loader, 64-bit ones in a 64-bit prefix with /usr/lib/wine/wine64 (the /usr/bin/wine wrapper
# prefers the 32-bit loader whenever it is installed). The prefix lives in the build folder
# (RS_WINEPREFIX, or the folder holding CMakeCache.txt above the program). ANSI code page 936
# comes from LC_ALL=zh_CN.UTF-8. Without a DISPLAY an Xvfb is started for this run and
# stopped afterwards. Every wait is bounded: the program by RS_WINE_TIMEOUT seconds (default
# 600).
#
# RS_WINE_HEAP_CHECKS=1 runs the program with Windows' own heap checks, as gflags sets them
# for a program: GlobalFlag 0xF0 (tail checking, free checking, parameter checking,
# validation at every call) under the prefix's Image File Execution Options for the
# program's name, and Wine's heap warnings on (WINEDEBUG warn+heap). Any heap warning or
# error line the program or a program it starts writes then fails the run, whatever its
# exit status: a double free, a free of a block the heap does not own, a write past a block,
# each of which Wine alone lets pass. Without it the program's name has no GlobalFlag. The
# tests that set it are the fault guard's and the dialog's fault table (the checks make the
# heap many times slower and keep freed blocks back, which the load/unload counts see).
set -uo pipefail

export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8
export WINEDEBUG=${WINEDEBUG:--all}
heap_checks=${RS_WINE_HEAP_CHECKS:-0}
[[ $heap_checks == 1 ]] && WINEDEBUG="$WINEDEBUG,warn+heap"
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}

arch=${RS_WINEARCH:-}
if [[ ${1:-} == --arch ]]; then
  arch=${2:?win32 or win64}
  shift 2
fi

# The machine field of a PE file: 0x8664 for x86-64, 0x14c for i386.
pe_arch() {
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [[ -n $offset ]] || return 1
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  case $machine in
    8664) echo win64 ;;
    014c) echo win32 ;;
    *) return 1 ;;
  esac
}

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
  build_dir=$(cd "${2:-.}" && pwd) || exit 1
  if [[ -z $arch ]]; then
    arch=win32
    grep -qs '^CMAKE_AR:.*x86_64-w64-mingw32' "$build_dir/CMakeCache.txt" && arch=win64
  fi
else
  build_dir=$(find_build_dir "${1:?program}")
  [[ -n $arch ]] || arch=$(pe_arch "$1") || arch=win32
fi
export WINEPREFIX=${RS_WINEPREFIX:-$build_dir/wineprefix}
export WINEARCH=$arch
if [[ $arch == win64 ]]; then
  export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
else
  export WINELOADER=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32
fi

xvfb_pid=
cleanup() {
  if [[ -n $xvfb_pid ]]; then
    timeout 20 "$WINESERVER" -w 2>/dev/null
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
    boot_log=$(LC_ALL=C; "$WINELOADER" --version 2>&1) &&
      boot_log=$(timeout 300 "$WINELOADER" wineboot -i 2>&1)
    timeout 60 "$WINESERVER" -w 2>/dev/null
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
      echo "wine-run: cannot make the $arch Wine prefix $WINEPREFIX: ${boot_log%%$'\n'*}" >&2
      exit 1
    fi
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
    timeout 60 "$WINELOADER" regedit "Z:${reg_file//\//\\}" >/dev/null 2>&1 &&
      touch "$WINEPREFIX/.rs-fonts"
  fi
  # Xvfb has no window manager: Wine would wait 2 s for one at every hidden window
  # unless its windows are unmanaged.
  if [[ ! -f $WINEPREFIX/.rs-unmanaged ]]; then
    timeout 60 "$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 &&
      touch "$WINEPREFIX/.rs-unmanaged"
  fi
  # Windows' heap checks for the program's name on or off (see above); the prefix keeps a
  # mark per name that has them, so the registry is written only when that changes.
  if [[ ${1:-} != --init && $1 == *.exe ]]; then
    marks=$WINEPREFIX/.rs-heapchecks
    name=$(basename "$1")
    key='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Image File Execution Options\'$name
    reg_file=
    if [[ $heap_checks == 1 && ! -f $marks/$name ]]; then
      reg_file=$marks/$name.reg
      mkdir -p "$marks"
      printf 'REGEDIT4\r\n\r\n[%s]\r\n"GlobalFlag"=dword:000000f0\r\n' "$key" >"$reg_file"
    elif [[ $heap_checks != 1 && -f $marks/$name ]]; then
      reg_file=$marks/$name.reg
      printf 'REGEDIT4\r\n\r\n[-%s]\r\n' "$key" >"$reg_file"
    fi
    if [[ -n $reg_file ]]; then
      if ! timeout 60 "$WINELOADER" regedit "Z:${reg_file//\//\\}" >/dev/null 2>&1; then
        echo "wine-run: could not set the heap checks of $name in $WINEPREFIX" >&2
        exit 1
      fi
      if [[ $heap_checks == 1 ]]; then touch "$marks/$name"; else rm -f "$marks/$name"; fi
      rm -f "$reg_file"
    fi
  fi
  # A program that dies of an exception nobody handles ends at once, with Wine's report on
  # stderr, instead of waiting behind Wine's crash dialog until its time runs out.
  if [[ ! -f $WINEPREFIX/.rs-nocrashdialog ]]; then
    timeout 60 "$WINELOADER" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD \
      /d 0 /f >/dev/null 2>&1 && touch "$WINEPREFIX/.rs-nocrashdialog"
  fi
) 9>"$WINEPREFIX.lock" || exit 1

[[ ${1:-} == --init ]] && exit 0

# A thread that dies under Wine (a fault its handlers could not take) can end the program
# with status 0. GoogleTest keeps the file named by TEST_PREMATURE_EXIT_FILE while its
# tests run and removes it when they end, so a file left behind is a program that died.
exit_marker=$(mktemp -u "${TMPDIR:-/tmp}/rs-wine-exit.XXXXXX")
export TEST_PREMATURE_EXIT_FILE="Z:${exit_marker//\//\\}"
if [[ $heap_checks == 1 ]]; then
  # The program's standard error passes through as it comes and is kept to be searched.
  heap_log=$(mktemp "${TMPDIR:-/tmp}/rs-wine-heap.XXXXXX")
  { timeout -k 10 "${RS_WINE_TIMEOUT:-600}" "$WINELOADER" "$@" 2>&1 1>&3 3>&- |
      tee "$heap_log" >&2; } 3>&1
  status=${PIPESTATUS[0]}
  if grep -Eq '^[0-9a-f]+:(warn|err):heap:' "$heap_log"; then
    echo "wine-run: $1 broke the heap checks (lines :warn:heap: or :err:heap: above)" >&2
    [[ $status == 0 ]] && status=1
  fi
  rm -f "$heap_log"
else
  timeout -k 10 "${RS_WINE_TIMEOUT:-600}" "$WINELOADER" "$@"
  status=$?
fi
if [[ -e $exit_marker ]]; then
  rm -f "$exit_marker"
  echo "wine-run: $1 ended before its tests did" >&2
  [[ $status == 0 ]] && status=1
fi
exit "$status"
