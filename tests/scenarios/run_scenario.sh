#!/usr/bin/env bash
# Runs one dialog scenario through the host simulator, as the host would: a fresh host
# profile and sub-application folder, the simulated reader library installed there,
# then modhost plays the scenario's script and checks its expectations.
#
#   run_scenario.sh BIN_DIR MODHOST SCENARIO_DIR [MODULE]
#
# SCENARIO_DIR holds script.txt and may hold: reader.sim.ini (configuration of the
# simulated library, installed as the file named in its first line "# install: NAME",
# built as the variant named in a line "# variant: FILE", lurmScard.dll by default),
# SysConfig.ini, Params.ini (the host's [Params] section), modhost.args, a folder subapp/
# whose files are copied into the sub-application folder, and expect-fail.txt: then the
# script must fail (exit status 1) and modhost's error output must hold each line of it.
set -uo pipefail
bin=$(cd "$1" && pwd) modhost=$2 scenario=$(cd "$3" && pwd) module=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d "${TMPDIR:-/tmp}/rs-scenario.XXXXXX")
trap 'rm -rf "$root"' EXIT

profile=$root/host
sub=$profile/subapp
mkdir -p "$sub"
cp "$bin/host-profile/Messages.txt" "$profile/"
cp "$bin/host-profile/UserConfig.ini" "$profile/"

windows=0
[[ $modhost == *.exe ]] && windows=1
# Paths the module and the libraries see: Wine maps the Unix root to drive Z:.
native_path() { if ((windows)); then echo "Z:$1"; else echo "$1"; fi; }

{
  printf '[Host]\r\nMode=record\r\nTranscript=transcript.txt\r\nLog=host.log\r\n'
  printf '[SubApp]\r\nPath=subapp\r\nCode=YB01\r\nFuncCode=YB0105\r\n'
  [[ -f $scenario/Params.ini ]] && cat "$scenario/Params.ini"
} >"$profile/Host.ini"

if [[ -f $scenario/reader.sim.ini ]]; then
  name=$(sed -n '1s/^# install: *//p' "$scenario/reader.sim.ini")
  name=${name:-lurmScard_old.dll}
  variant=$(sed -n 's/^# variant: *//p' "$scenario/reader.sim.ini")
  cp "$bin/${variant:-lurmScard.dll}" "$sub/$name"
  { cat "$scenario/reader.sim.ini"; echo "trace=$(native_path "$root/calls.txt")"; } >"$sub/$name.sim.ini"
fi
[[ -f $scenario/SysConfig.ini ]] && cp "$scenario/SysConfig.ini" "$sub/"
[[ -d $scenario/subapp ]] && cp -R "$scenario/subapp/." "$sub/"

args=(--profile "$(native_path "$profile")" --script "$(native_path "$scenario/script.txt")"
      --trace "$(native_path "$root/calls.txt")" --timeout 60)
[[ -f $scenario/modhost.args ]] && read -r -a extra <"$scenario/modhost.args" && args+=("${extra[@]}")

if ((windows)); then
  "$here/../../cmake/wine-run.sh" "$modhost" --module "$(native_path "$module")" "${args[@]}" \
    2>"$root/stderr.txt"
else
  "$modhost" "${args[@]}" 2>"$root/stderr.txt"
fi
status=$?
# modhost writes in the system code page.
iconv -f GBK -t UTF-8 -c "$root/stderr.txt" | tr -d '\r' >"$root/stderr.utf8"
cat "$root/stderr.utf8" >&2
echo "--- transcript"; cat "$profile/transcript.txt" 2>/dev/null
echo "--- host log"; cat "$profile/host.log" 2>/dev/null
echo "--- reader library calls"; cat "$root/calls.txt" 2>/dev/null
echo "--- UserConfig.ini"; cat "$sub/UserConfig.ini" 2>/dev/null
if [[ -f $scenario/expect-fail.txt ]]; then
  ((status == 1)) || { echo "FAIL: the script was to fail with status 1, not $status"; exit 1; }
  while IFS= read -r want; do
    [[ -z $want || $want == \#* ]] && continue
    grep -qF -- "$want" "$root/stderr.utf8" || { echo "FAIL: modhost did not print: $want"; exit 1; }
  done <"$scenario/expect-fail.txt"
  echo "OK: the script failed as expected"
  exit 0
fi
exit $status
