#!/usr/bin/env bash
# Checks the built module as the host loads it: a PE32 i386 DLL (x86) or a PE32+ x86-64 DLL
# (x64) whose only export is ShowFrmOption at ordinal 1, importing nothing but system DLLs,
# ModuleLib.dll and logQuery.dll (no compiler runtime DLL beside it).
#
#   check_module_dll.sh OBJDUMP ReaderSettings.dll x86|x64
set -uo pipefail
objdump=$1 dll=$2 arch=${3:-x86}
fail=0
err() { echo "FAIL: $*"; fail=1; }

dump=$("$objdump" -p "$dll") || { echo "FAIL: cannot read $dll"; exit 1; }

case $arch in
  x86) machine='i386' magic='010b[[:space:]]+\(PE32\)' format=PE32 ;;
  x64) machine='i386:x86-64' magic='020b[[:space:]]+\(PE32\+\)' format=PE32+ ;;
  *) echo "FAIL: unknown architecture $arch"; exit 1 ;;
esac
grep -qx "architecture: $machine, flags 0x[0-9a-f]*:" <<<"$("$objdump" -f "$dll")" ||
  err "not an $machine image"
grep -qE "^Magic[[:space:]]+$magic" <<<"$dump" || err "not a $format image"

exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -E '^\s+\[' || true)
base=$(sed -nE 's/^Ordinal Base[[:space:]]+([0-9]+).*/\1/p' <<<"$dump" | head -1)
if [[ $(wc -l <<<"$exports") -ne 1 ]] || ! grep -qE '\]\s+ShowFrmOption$' <<<"$exports"; then
  err "exports are not exactly ShowFrmOption: $(tr '\n' ' ' <<<"$exports")"
fi
# The name's ordinal: its index in the name table plus the ordinal base.
index=$(sed -nE 's/^\s*\[\s*([0-9]+)\]\s+ShowFrmOption$/\1/p' <<<"$exports")
[[ -n $base && -n $index && $((base + index)) -eq 1 ]] || err "ShowFrmOption is not at ordinal 1 (base $base, index $index)"

system_dlls=" kernel32.dll user32.dll gdi32.dll imm32.dll msvcrt.dll advapi32.dll comctl32.dll shell32.dll ole32.dll oleaut32.dll oleacc.dll uxtheme.dll ws2_32.dll "
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$dump")
for d in $imports; do
  lower=${d,,}
  case $lower in
    modulelib.dll|logquery.dll) ;;
    *) [[ $system_dlls == *" $lower "* ]] || err "imports $d, which is neither a system DLL nor a host library" ;;
  esac
done
grep -qx 'ModuleLib.dll' <<<"$imports" || err "does not import ModuleLib.dll"
grep -qx 'logQuery.dll' <<<"$imports" || err "does not import logQuery.dll"

echo "exports: $(tr -s ' \t\n' ' ' <<<"$exports")"
echo "imports: $(tr '\n' ' ' <<<"$imports")"
((fail)) && exit 1
echo "OK: $dll"
