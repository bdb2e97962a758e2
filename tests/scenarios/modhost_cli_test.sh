#!/usr/bin/env bash
# The host simulator's command line as a host developer meets it: each case runs modhost
# in a fresh host profile (the simulated library with two readers) and checks its exit
# status and what it printed.
#
#   modhost_cli_test.sh BIN_DIR MODHOST [MODULE]
#
# Under Wine (MODHOST ending in .exe) every run goes through cmake/wine-run.sh, except the
# one that needs another ANSI code page.
set -uo pipefail
bin=$(cd "$1" && pwd) modhost=$(cd "$(dirname "$2")" && pwd)/$(basename "$2") module=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../cmake/wine-run.sh
tmp=$(mktemp -d "${TMPDIR:-/tmp}/rs-modhost-cli.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
windows=0
[[ $modhost == *.exe ]] && windows=1
native_path() { if ((windows)); then echo "Z:$1"; else echo "$1"; fi; }
fail=0

# A fresh world in $tmp/world: host/ (Host.ini with the given mode), host/subapp with the
# simulated library, and scripts.
make_world() {
  local mode=$1 w=$tmp/world
  rm -rf "$w"
  mkdir -p "$w/host/subapp"
  cp "$bin/host-profile/Messages.txt" "$bin/host-profile/UserConfig.ini" "$w/host/"
  printf '[Host]\r\nMode=%s\r\n[SubApp]\r\nPath=subapp\r\n' "$mode" >"$w/host/Host.ini"
  cp "$bin/lurmScard.dll" "$w/host/subapp/lurmScard_old.dll"
  printf 'reader=ACS 0\nreader=Reader 1\nconnect=0x8010000C Reader 1\n' \
    >"$w/host/subapp/lurmScard_old.dll.sim.ini"
  cat >"$w/pass.txt" <<'SCRIPT'
# stores the first reader
select 0
press 选择
expect-message 70000527 "ACS 0"
press 关闭
SCRIPT
  cat >"$w/fail.txt" <<'SCRIPT'
select 0
press 选择
expect-message 70000530
press 关闭
SCRIPT
  cat >"$w/slow.txt" <<'SCRIPT'
wait 6000
press 关闭
SCRIPT
}

# run NAME MODE DIR ARGS...: runs modhost in DIR, output in $tmp/NAME.{out,err,status}
# MODE "again" keeps the world of the last run.
run() {
  local name=$1 mode=$2 dir=$3
  shift 3
  [[ $mode == again ]] || make_world "$mode"
  local args=("$@")
  [[ -n $module ]] && args=(--module "$(native_path "$module")" "${args[@]}")
  if ((windows)); then
    (cd "$dir" && "$wine_run" "$modhost" "${args[@]}") >"$tmp/$name.raw" 2>"$tmp/$name.rawerr"
  else
    (cd "$dir" && "$modhost" "${args[@]}") >"$tmp/$name.raw" 2>"$tmp/$name.rawerr"
  fi
  echo $? >"$tmp/$name.status"
  iconv -f GBK -t UTF-8 -c "$tmp/$name.raw" | tr -d '\r' >"$tmp/$name.out"
  iconv -f GBK -t UTF-8 -c "$tmp/$name.rawerr" | tr -d '\r' >"$tmp/$name.err"
}

# check NAME STATUS [out|err TEXT]...: the exit status, and texts the output must hold.
check() {
  local name=$1 want=$2 got
  shift 2
  got=$(cat "$tmp/$name.status")
  [[ $got == "$want" ]] || { echo "FAIL $name: exit status $got, expected $want"; fail=1; }
  while (($#)); do
    grep -qF -- "$2" "$tmp/$name.$1" || { echo "FAIL $name: $1 lacks: $2"; fail=1; }
    shift 2
  done
  if ((fail)); then
    echo "--- $name stdout"; cat "$tmp/$name.out"; echo "--- $name stderr"; cat "$tmp/$name.err"
  fi
}

w=$tmp/world
run help record "$tmp" --help
check help 0 out "--trace FILE" out "--script FILE" out "expect-error" out "ErrorBox text="

run usage record "$tmp"
check usage 2 err "--trace FILE" err "--profile is required"

run pass record "$tmp" --profile "$(native_path "$w/host")" --script "$(native_path "$w/pass.txt")"
check pass 0 out "script passed: 4 steps" out "Global_nuvreader=ACS 0"

run fail record "$tmp" --profile "$(native_path "$w/host")" --script "$(native_path "$w/fail.txt")"
check fail 1 err "line 3: expect-message 70000530: message 70000527" \
  err "script failed: 1 failure in 4 of 4 steps"

# A relative profile: the module changes the current directory while the dialog is up.
run relative record "$w" --profile host --script pass.txt
check relative 0 out "script passed: 4 steps" \
  out "UserConfig.ini [NuvReader] nuvreader=ACS 0"
grep -q '^InforMsg 70000527 ' "$w/host/transcript.txt" 2>/dev/null ||
  { echo "FAIL relative: the transcript in the profile folder lacks 70000527"; fail=1; }

# The same profile again: the transcript of the earlier run is no part of this one.
run again again "$w" --profile host --script pass.txt
check again 0 out "script passed: 4 steps"

# An interactive profile with a script: played recorded, with one line saying so.
run interactive interactive "$tmp" --profile "$(native_path "$w/host")" \
  --script "$(native_path "$w/pass.txt")"
check interactive 0 err "Mode=interactive; playing the script with Mode=record" \
  out "script passed: 4 steps"

# A step that takes long says what the host waits for.
run slow record "$tmp" --profile "$(native_path "$w/host")" --script "$(native_path "$w/slow.txt")"
check slow 0 err "modhost: waiting 2 s for line 1 (wait 6000) to finish"

# Another ANSI code page (Wine with the C locale) gets one warning line naming the fix.
if ((windows)); then
  make_world record
  ( "$wine_run" --init "$(dirname "$bin")" >/dev/null 2>&1
    # The loader of modhost's architecture: 0x8664 in the PE header is x86-64.
    offset=$(od -An -tu4 -j60 -N4 "$modhost" | tr -d ' ')
    loader=/usr/lib/wine/wine
    export WINEARCH=win32
    if [[ $(od -An -tx2 -j$((offset + 4)) -N2 "$modhost" | tr -d ' ') == 8664 ]]; then
      loader=/usr/lib/wine/wine64
      export WINEARCH=win64
    fi
    export LC_ALL=C LANG=C WINEDEBUG=-all
    export WINEPREFIX=${RS_WINEPREFIX:-$(dirname "$bin")/wineprefix}
    timeout -k 10 120 "$loader" "$modhost" --profile "Z:$tmp/no-such-profile" ) \
    >"$tmp/codepage.raw" 2>"$tmp/codepage.rawerr"
  echo $? >"$tmp/codepage.status"
  tr -d '\r' <"$tmp/codepage.raw" >"$tmp/codepage.out"
  tr -d '\r' <"$tmp/codepage.rawerr" >"$tmp/codepage.err"
  check codepage 2 err "warning: the ANSI code page is" err "LC_ALL=zh_CN.UTF-8"
  run codepage936 record "$tmp" --profile "Z:$tmp/no-such-profile"
  grep -q "code page" "$tmp/codepage936.err" &&
    { echo "FAIL codepage936: warned under code page 936"; fail=1; }
fi

((fail)) && exit 1
echo "OK: modhost command line"
