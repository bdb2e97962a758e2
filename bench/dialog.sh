#!/usr/bin/env bash
# The dialog benchmark (run by scripts/bench): ReaderSettings.dll against the plain Win32
# dialog of bench/plain, both stripped as shipped, under Wine in one host process
# (dialog_timing), with the simulated reader library of two readers; the modules take turns
# call by call. Prints the table of medians and ratios ours / plain and draws
# docs/dialog-performance.png.
#
#   DIALOG_ROUNDS=4 DIALOG_CALLS=20 DIALOG_LOADS=10 bench/dialog.sh [win32|win64]
#
# win32 (the default) measures the 32-bit modules, win64 the 64-bit ones (a 64-bit plain
# dialog, 64-bit Wine); the win64 picture is docs/dialog-performance-win64.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=${1:-win32}
case $arch in
  win32) toolchain=cmake/toolchain-mingw-i686.cmake strip=i686-w64-mingw32-strip
         png=$root/docs/dialog-performance.png ;;
  win64) toolchain=cmake/toolchain-mingw-x86_64.cmake strip=x86_64-w64-mingw32-strip
         png=$root/docs/dialog-performance-win64.png ;;
  *) echo "usage: bench/dialog.sh [win32|win64]" >&2; exit 2 ;;
esac
out=$root/build/bench/dialog-$arch
build=$root/build/bench-$arch
mkdir -p "$out"

echo "=== dialog: configure and build the $arch Release build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRS_BENCH=ON \
  --toolchain "$toolchain" \
  >"$out/configure.log" || { cat "$out/configure.log"; exit 1; }
cmake --build "$build" --target ReaderSettings PlainDialog dialog_timing lurmScard -j2

# The world: a host profile recording its messages, a sub-application folder with the
# simulated reader library (two readers, the first answers a connection test).
bin=$build/bin
world=$out/world
rm -rf "$world"
mkdir -p "$world/host/subapp"
cp "$bin/host-profile/Messages.txt" "$bin/host-profile/UserConfig.ini" "$world/host/"
cp "$bin/lurmScard.dll" "$world/host/subapp/"
printf '[system]\r\nServerType=99\r\n' >"$world/host/subapp/SysConfig.ini"
printf 'reader=ACS ACR38U-CCID 00 00\nreader=Generic Smart Card Reader 01 00\n' \
  >"$world/host/subapp/lurmScard.dll.sim.ini"
printf '[Host]\r\nMode=record\r\nTranscript=transcript.txt\r\nLog=host.log\r\n[SubApp]\r\nPath=subapp\r\nCode=YB01\r\nFuncCode=YB0105\r\n' \
  >"$world/host/Host.ini"
"$strip" -o "$world/ReaderSettings.dll" "$bin/ReaderSettings.dll"
"$strip" -o "$world/PlainDialog.dll" "$bin/PlainDialog.dll"

echo "=== dialog: run under Wine ($arch)"
if [[ -f $root/build/$arch/wineprefix/system.reg ]]; then
  export RS_WINEPREFIX=$root/build/$arch/wineprefix
fi
cmake/wine-run.sh --init "$build"
RS_WINE_TIMEOUT=900 cmake/wine-run.sh "$bin/dialog_timing.exe" "Z:$world/host" \
  "${DIALOG_ROUNDS:-4}" "${DIALOG_CALLS:-20}" "${DIALOG_LOADS:-10}" \
  "ours=Z:$world/ReaderSettings.dll" "plain=Z:$world/PlainDialog.dll" >"$out/samples.tsv"

echo "=== dialog: results"
python3 - "$out" "$png" "$world" "$arch" <<'EOF' | tee "$out/table.md"
import os, statistics, subprocess, sys

out, png, world, arch = sys.argv[1:5]
bits = arch[3:]
samples = {}
for line in open(f"{out}/samples.tsv"):
    module, measure, value = line.split("\t")
    samples.setdefault((module, measure), []).append(float(value))

def med(module, measure):
    v = samples.get((module, measure))
    return statistics.median(v) if v else None

rows = [
    ("LoadLibrary of the module (ms)", "load-ms"),
    ("FreeLibrary of the module (ms)", "free-ms"),
    ("ShowFrmOption entry -> dialog visible, calls 2.. (ms)", "visible-ms"),
    ("whole scripted cycle, calls 2.. (ms)", "cycle-ms"),
    ("first call: entry -> visible (ms)", "first-visible-ms"),
    ("first call: whole cycle (ms)", "first-cycle-ms"),
    ("GDI objects while open", "gdi"),
    ("USER objects while open", "user"),
    ("private bytes while open (KiB)", "private-kb"),
    ("working set while open (KiB)", "ws-kb"),
    ("GDI objects left once both are freed", "gdi-left"),
    ("USER objects left once both are freed", "user-left"),
]

def fmt(x):
    if x is None:
        return "-"
    return f"{x:.3g}" if abs(x) < 100 else f"{x:.0f}"

n = len(samples.get(("ours", "cycle-ms"), []))
print(f"Dialog under Wine ({bits}-bit): medians ({n} later calls, "
      f"{len(samples.get(('ours', 'load-ms'), []))} loads); objects and memory while open: "
      "more than just before the call")
print("| step | ours | plain dialog | ratio |")
print("|---|---|---|---|")
plot = []
for label, key in rows:
    # What stays after the unload is counted once for both modules together.
    a, b = (med("all", key), None) if key.endswith("-left") else (med("ours", key), med("plain", key))
    ratio = a / b if a is not None and b else None
    print(f"| {label} | {fmt(a)} | {fmt(b)} | {fmt(ratio)} |")
    plot.append((key, a, b, ratio))
size = {m: os.path.getsize(f"{world}/{m}.dll") for m in ("ReaderSettings", "PlainDialog")}
print(f"| stripped DLL (bytes) | {size['ReaderSettings']} | {size['PlainDialog']} | "
      f"{fmt(size['ReaderSettings'] / size['PlainDialog'])} |")

# The picture: times in ms on the left, the ratios ours / plain on the right.
with open(f"{out}/times.dat", "w") as d:
    for key, a, b, _ in plot[:6]:
        d.write(f"{key} {a:.4g} {b:.4g}\n")
with open(f"{out}/ratios.dat", "w") as d:
    for key, a, b, r in plot[:10]:
        if r is not None:
            d.write(f"{key} {r:.4g}\n")
script = f"""
set terminal pngcairo size 1400,600 font ",11"
set output "{png}"
set multiplot layout 1,2 title "ReaderSettings.dll against a plain Win32 dialog ({bits}-bit, under Wine; medians)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.9 border -1
set boxwidth 0.9
set grid ytics
set xtics rotate by -30
set ylabel "ms"
set key top left
set title "time per step"
plot "{out}/times.dat" using 2:xtic(1) title "ours" lc rgb "#d62728", \\
     "" using 3 title "plain dialog" lc rgb "#7f7f7f"
set ylabel "ours / plain"
set title "ratio ours / plain (1 = as the plain dialog)"
set logscale y
set yrange [0.1:10]
plot "{out}/ratios.dat" using 2:xtic(1) notitle lc rgb "#d62728", 1 notitle lc rgb "black"
unset multiplot
"""
subprocess.run(["gnuplot"], input=script, text=True, check=True)
print(f"\npicture: {png}")
EOF
