#!/usr/bin/env bash
# Tests of the release package, as a host developer receives it.
#
#   package_test.sh contents BUILD OUT NAME OBJDUMP OBJCOPY
#       packs the built tree with scripts/package --pack into OUT/NAME.zip and checks it:
#       exactly the files of the layout, the module stripped and under 600 KB, its debug
#       information in ReaderSettings.dll.debug with a matching debug link, and the
#       shipped module still exporting and importing what the host expects.
#   package_test.sh version OUT NAME VERSIONINFO_EXE KEY=VALUE...
#       unpacks the zip and reads the module's version resource back with VersionInfo.exe
#       under Wine; every KEY=VALUE line must be printed exactly.
#   package_test.sh fresh-prefix OUT NAME VERSION
#       unpacks the zip into an empty folder, makes a new Wine prefix and plays the shipped
#       sample script through testing\try.cmd with the shipped Host.ini (Mode=interactive,
#       which a script plays recorded), with nothing of the build tree on any search path;
#       then, as the integration guide tells, installs the list-only reader library of the
#       package in a sub-application folder of its own and plays a script that expects the
#       toolkit's error box; then modhost --version.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
mode=$1
shift
fail=0
err() { echo "FAIL: $*"; fail=1; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/rs-package.XXXXXX")
prefix=
cleanup() {
  if [[ -n $prefix ]]; then
    local server=/usr/lib/wine/wineserver32
    [[ ${RS_WINEARCH:-} == win64 ]] && server=/usr/lib/wine/wineserver64
    WINEPREFIX=$prefix timeout 30 "$server" -k 2>/dev/null
    WINEPREFIX=$prefix timeout 30 "$server" -w 2>/dev/null
  fi
  rm -rf "$tmp" "$tmp.lock"
}
trap cleanup EXIT

unpack() {
  local zip=$1/$2.zip
  [[ -f $zip ]] || { echo "FAIL: no package $zip"; exit 1; }
  zip=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")
  mkdir -p "$tmp/unpacked"
  (cd "$tmp/unpacked" && cmake -E tar xf "$zip") || { echo "FAIL: cannot unpack $zip"; exit 1; }
  pkg=$tmp/unpacked/$2
  [[ -d $pkg ]] || { echo "FAIL: the zip has no top folder $2"; exit 1; }
}

# Windows form of a Unix path under Wine (drive Z: is the Unix root).
winpath() { echo "Z:${1//\//\\}"; }

# The package's architecture is the last part of its name: win32 (x86) or win64 (x64); its
# programs run in a Wine prefix of that architecture.
package_arch() {
  case $1 in
    *-win64) arch=x64; export RS_WINEARCH=win64 ;;
    *) arch=x86; export RS_WINEARCH=win32 ;;
  esac
}

case $mode in
contents)
  build=$1 out=$2 name=$3 objdump=$4 objcopy=$5
  package_arch "$name"
  "$src/scripts/package" --pack "$build" "$out" || { echo "FAIL: scripts/package --pack"; exit 1; }
  unpack "$out" "$name"
  want=$(sort <<'LAYOUT'
CHANGELOG.md
README.txt
ReaderSettings.dll
ReaderSettings.dll.debug
integration.md
testing/ModuleLib.dll
testing/host/Host.ini
testing/host/Messages.txt
testing/host/UserConfig.ini
testing/host/subapp-pcsc/SysConfig.ini
testing/host/subapp-pcsc/lurmScard.dll
testing/host/subapp-sim/README.md
testing/host/subapp-sim/SysConfig.ini
testing/host/subapp-sim/lurmScard.dll
testing/host/subapp-sim/lurmScard.dll.sim.ini
testing/host/subapp-sim/lurmScard_faulty.dll
testing/host/subapp-sim/lurmScard_listonly.dll
testing/host/subapp-sim/lurmScard_noerrortext.dll
testing/logQuery.dll
testing/modhost.exe
testing/sample-script.txt
testing/try.cmd
testing/wine-fonts.reg
LAYOUT
)
  got=$(cd "$pkg" && find . -type f | sed 's|^\./||' | sort)
  [[ $got == "$want" ]] || err "package files differ from the layout:
$(diff <(echo "$want") <(echo "$got"))"
  for f in $got; do
    [[ -s $pkg/$f ]] || err "$f is empty"
  done

  dll=$pkg/ReaderSettings.dll
  size=$(stat -c %s "$dll")
  echo "ReaderSettings.dll: $size bytes"
  ((size < 600 * 1024)) || err "ReaderSettings.dll is $size bytes, not under 600 KB"
  sections=$("$objdump" -h "$dll")
  grep -q '\.debug_' <<<"$sections" && err "ReaderSettings.dll still holds debug sections"
  grep -q '\.rsrc' <<<"$sections" || err "ReaderSettings.dll lost its resources"
  grep -q '\.debug_info' <<<"$("$objdump" -h "$dll.debug")" ||
    err "ReaderSettings.dll.debug holds no .debug_info"
  # The debug link: the debug file's name, NUL, padding to 4 bytes, its CRC-32 (little end).
  "$objcopy" --dump-section ".gnu_debuglink=$tmp/debuglink" "$dll" "$tmp/scratch.dll" ||
    err "cannot read the debug link"
  python3 - "$tmp/debuglink" "$dll.debug" <<'CHECK' || fail=1
import struct, sys, zlib
link = open(sys.argv[1], "rb").read()
name, _, _ = link.partition(b"\0")
crc_at = (len(name) + 1 + 3) & ~3
if name != b"ReaderSettings.dll.debug" or len(link) < crc_at + 4:
    sys.exit(f"FAIL: debug link names {name!r}")
want = struct.unpack_from("<I", link, crc_at)[0]
got = zlib.crc32(open(sys.argv[2], "rb").read()) & 0xFFFFFFFF
if want != got:
    sys.exit(f"FAIL: debug link CRC {want:08x}, ReaderSettings.dll.debug has {got:08x}")
print(f"debug link: {name.decode()} crc {got:08x}")
CHECK
  bash "$here/check_module_dll.sh" "$objdump" "$dll" "$arch" || err "the shipped module fails the DLL check"
  ;;

version)
  out=$1 name=$2 exe=$3
  package_arch "$name"
  shift 3
  unpack "$out" "$name"
  "$src/cmake/wine-run.sh" "$exe" "$(winpath "$pkg/ReaderSettings.dll")" >"$tmp/version.txt"
  status=$?
  printed=$(tr -d '\r' <"$tmp/version.txt")
  echo "$printed"
  ((status == 0)) || err "VersionInfo exited with $status"
  for line in "$@"; do
    grep -qxF -- "$line" <<<"$printed" || err "version resource: expected $line"
  done
  ;;

fresh-prefix)
  out=$1 name=$2 version=$3
  package_arch "$name"
  unpack "$out" "$name"
  testing=$pkg/testing
  grep -q '^Mode=interactive' "$testing/host/Host.ini" || err "the shipped Host.ini is not interactive"
  prefix=$tmp/prefix
  export RS_WINEPREFIX=$prefix
  unset WINEPATH WINEDLLPATH
  "$src/cmake/wine-run.sh" --init "$tmp" || { echo "FAIL: cannot make a Wine prefix"; exit 1; }
  cd "$testing" || exit 1
  "$src/cmake/wine-run.sh" cmd /c "$(winpath "$testing/try.cmd")" --script sample-script.txt \
    --timeout 90 >"$tmp/run.txt" 2>&1
  status=$?
  output=$(tr -d '\r' <"$tmp/run.txt" | iconv -f GBK -t UTF-8 -c)
  echo "$output"
  echo "--- transcript"
  iconv -f GBK -t UTF-8 "$testing/host/transcript.txt" 2>/dev/null
  ((status == 0)) || err "try.cmd --script sample-script.txt exited with $status"
  grep -qF 'playing the script with Mode=record' <<<"$output" ||
    err "no notice that the interactive profile is played recorded"
  grep -qxF 'script passed: 13 steps' <<<"$output" || err "no line \"script passed: 13 steps\""
  grep -qxF 'Global_nuvreader=ACS ACR38U-CCID 00 00' <<<"$output" ||
    err "the host's parameter does not hold the selected reader"
  grep -qxF 'UserConfig.ini [NuvReader] nuvreader=ACS ACR38U-CCID 00 00' <<<"$output" ||
    err "UserConfig.ini does not hold the selected reader"
  stored=$(tr -d '\r' <"$testing/host/subapp-sim/UserConfig.ini" 2>/dev/null)
  grep -qxF 'nuvreader=ACS ACR38U-CCID 00 00' <<<"$stored" ||
    err "testing/host/subapp-sim/UserConfig.ini was not written"
  for id in 70000527 70000530 70000967; do
    grep -q "^InforMsg $id " "$testing/host/transcript.txt" 2>/dev/null ||
      err "message $id was not shown"
  done

  # The list-only library in a sub-application folder of its own, as the guide says: a
  # connection test ends in the toolkit's error box, which the script expects.
  host=$testing/host
  mkdir "$host/subapp-listonly"
  cp "$host/subapp-sim/SysConfig.ini" "$host/subapp-sim/lurmScard.dll.sim.ini" \
    "$host/subapp-listonly/"
  cp "$host/subapp-sim/lurmScard_listonly.dll" "$host/subapp-listonly/lurmScard.dll"
  sed -i 's/^Path=subapp-sim/Path=subapp-listonly/' "$host/Host.ini"
  printf 'select 0\r\npress 测试连接\r\nexpect-error "SCConnectReader"\r\nexpect-no-message\r\npress 关闭\r\n' \
    >"$testing/listonly.txt"
  "$src/cmake/wine-run.sh" cmd /c "$(winpath "$testing/try.cmd")" --script listonly.txt \
    --timeout 90 >"$tmp/listonly.txt" 2>&1
  status=$?
  output=$(tr -d '\r' <"$tmp/listonly.txt" | iconv -f GBK -t UTF-8 -c)
  echo "$output"
  ((status == 0)) || err "try.cmd --script listonly.txt exited with $status"
  grep -qxF 'script passed: 5 steps' <<<"$output" || err "the list-only script did not pass"
  LC_ALL=C grep -q '^ErrorBox text=.*SCConnectReader' "$host/transcript.txt" ||
    err "the transcript records no error box naming SCConnectReader"

  shown=$("$src/cmake/wine-run.sh" "$testing/modhost.exe" --version | tr -d '\r')
  echo "$shown"
  [[ $shown == "modhost $version" ]] || err "modhost --version printed \"$shown\""
  ;;

*)
  echo "usage: package_test.sh contents|version|fresh-prefix ..." >&2
  exit 2
  ;;
esac

((fail)) && exit 1
echo "OK: $mode"
