#!/usr/bin/env python3
"""scripts/check-layers against faults planted in trees of its own.

The real table is checked on a copy of the repository's sources into which upward and
undeclared includes are planted one at a time; the rules of the table (what a use brings,
named headers, which entry owns a file, where includes are found, the table's own errors)
on small trees written here.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from dataclasses import dataclass, field

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "check-layers")
TABLE = os.path.join("cmake", "layers.txt")
SCANNED = ("src", "standins", "tests", "bench", "fuzz", "runtime")
SOURCES = (".c", ".cpp", ".h", ".rc")


def check(root):
    """Runs the check on the tree: (exit status, output lines)."""
    done = subprocess.run([sys.executable, SCRIPT, "--root", root], capture_output=True,
                          text=True, timeout=60)
    return done.returncode, done.stdout.splitlines() + done.stderr.splitlines()


def write(root, path, text):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w", encoding="utf-8") as f:
        f.write(text)


@dataclass
class Plant:
    name: str
    file: str  # a source file of the repository; the include goes in as its first line
    include: str
    says: str  # how the line goes on after "FILE:1 includes "
    absent: list = field(default_factory=list)  # what the line must not offer as allowed


PLANTS = [
    Plant("the bottom layer includes the top of the dialog", "src/platform/Profile.cpp",
          "settings/f_option.h",
          "settings/f_option.h: platform -> settings, but platform may use nothing above it"),
    Plant("a middle layer includes the one above it", "src/dialogs/f_CustomDlg.cpp",
          "settings/f_option.h",
          "settings/f_option.h: dialogs -> settings, but dialogs may use toolkit, host",
          ["settings"]),
    Plant("a layer includes its neighbour", "src/toolkit/Forms.cpp", "host/HostApi.h",
          "host/HostApi.h: toolkit -> host, but toolkit may use platform", ["host"]),
    Plant("the toolkit's core includes a backend", "src/toolkit/Forms.cpp",
          "toolkit/win32/Peer_win.h",
          "toolkit/win32/Peer_win.h: toolkit -> toolkit/win32, but toolkit may use platform",
          ["toolkit/win32"]),
    Plant("the module includes a stand-in", "src/settings/f_option.cpp", "HostSim.h",
          "HostSim.h (standins/host/HostSim.h): settings -> standins/host, but settings may use "
          "dialogs", ["standins/host", "standins/host/HostSim.h"]),
    Plant("a host service DLL includes the toolkit", "standins/host/ModuleLib.cpp",
          "toolkit/Forms.h", "toolkit/Forms.h: standins/host -> toolkit, but standins/host may use",
          ["toolkit", "toolkit/Forms.h"]),
    Plant("a host service DLL includes the module's service calls", "standins/host/logQuery.cpp",
          "host/HostServices.h",
          "host/HostServices.h: standins/host -> host, but standins/host may use",
          ["host", "host/HostServices.h"]),
    Plant("the native host simulator reaches the dialog's class",
          "standins/host/modhost/Run_posix.cpp", "settings/f_option.h",
          "settings/f_option.h: standins/host/modhost/Run_posix.cpp -> settings, but "
          "standins/host/modhost/Run_posix.cpp may use", ["settings", "settings/f_option.h"]),
    Plant("the Windows host simulator reaches the toolkit", "standins/host/modhost/Driver_win.cpp",
          "toolkit/UserInput.h",
          "toolkit/UserInput.h: standins/host/modhost -> toolkit, but standins/host/modhost may use",
          ["toolkit", "toolkit/UserInput.h"]),
    Plant("a layer's test includes a stand-in header it does not declare",
          "tests/dialogs/CustomDlg_test.cpp", "HostProfile.h",
          "HostProfile.h (standins/host/HostProfile.h): tests/dialogs -> standins/host, but "
          "tests/dialogs may use dialogs", ["standins/host", "standins/host/HostProfile.h"]),
    Plant("a host service DLL includes the toolkit by angle brackets",
          "standins/host/ModuleLib.cpp", "<toolkit/Forms.h>",
          "<toolkit/Forms.h>: standins/host -> toolkit, but standins/host may use",
          ["toolkit", "toolkit/Forms.h"]),
    Plant("a dialog includes a backend by angle brackets (found through the folder links)",
          "src/dialogs/f_CustomDlg.cpp", "<toolkit/win32/Peer_win.h>",
          "<toolkit/win32/Peer_win.h>: dialogs -> toolkit/win32, but dialogs may use",
          ["toolkit/win32"]),
    Plant("a fuzzer reaches past the unit it drives", "fuzz/profile_fuzzer.cpp",
          "platform/Window.h", "platform/Window.h: fuzz -> platform, but fuzz may use",
          ["platform", "platform/Window.h"]),
]


def offered(line):
    """The names a problem line offers as allowed: "... may use a, b (c is above d)"."""
    names = line.split(" may use ", 1)[1]
    if names.endswith(")") and " (" in names:
        names = names[: names.rindex(" (")]
    return names.split(", ")


class PlantedInTheRepositoryTable(unittest.TestCase):
    """The repository's own table and sources, copied, with one fault planted at a time."""

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="check-layers-")
        os.makedirs(os.path.join(cls.root, "cmake"))
        shutil.copyfile(os.path.join(ROOT, TABLE), os.path.join(cls.root, TABLE))
        for top in SCANNED:
            for folder, _, files in os.walk(os.path.join(ROOT, top)):
                for file in files:
                    if file.endswith(SOURCES):
                        source = os.path.join(folder, file)
                        copy = os.path.join(cls.root, os.path.relpath(source, ROOT))
                        os.makedirs(os.path.dirname(copy), exist_ok=True)
                        shutil.copyfile(source, copy)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root)

    def test_the_copy_passes_as_it_is(self):
        status, lines = check(self.root)
        self.assertEqual(status, 0, "\n".join(lines))
        self.assertEqual(len(lines), 1, lines)

    def test_each_planted_include_is_named_with_its_line_and_arrow(self):
        for plant in PLANTS:
            with self.subTest(plant.name):
                path = os.path.join(self.root, plant.file)
                with open(path, encoding="utf-8") as f:
                    original = f.read()
                written = (plant.include if plant.include.startswith("<")
                           else f'"{plant.include}"')
                write(self.root, plant.file, f"#include {written}\n" + original)
                try:
                    status, lines = check(self.root)
                finally:
                    write(self.root, plant.file, original)
                self.assertEqual(status, 1, lines)
                self.assertEqual(len(lines), 2, lines)  # the planted include and the summary
                self.assertTrue(lines[0].startswith(f"{plant.file}:1 includes {plant.says}"),
                                lines[0])
                for name in plant.absent:
                    self.assertNotIn(name, offered(lines[0]))


@dataclass
class Tree:
    name: str
    table: str
    files: dict  # path -> text
    status: int
    lines: list = field(default_factory=list)  # the lines before the summary, in order


TREES = [
    Tree("own folder first, own entry, system headers and commented includes",
         "a:\nb: a\ntests/t:\n",
         {"src/a/x.h": "",
          "src/a/deep/y.cpp": '#include "a/x.h"\n#include "z.h"\n#include <windows.h>\n'
                              '// #include "b/w.h"\n',
          "src/a/deep/z.h": "",
          "src/b/w.h": "",
          "tests/t/x.cpp": '#include "b/w.h"\n',
          "tests/t/b/w.h": ""},
         0),
    Tree("what a use uses comes with it; a line with blanks goes on",
         "c:\nb: c\nd:\na: b\n  d\n",
         {"src/a/x.cpp": '#include "c/z.h"\n#include "d/w.h"\n', "src/c/z.h": "",
          "src/d/w.h": "", "src/b/y.h": ""},
         0),
    Tree("a named header brings neither the rest of its layer nor what that uses",
         "c:\nb: c\ntests/t: b/y.h\n",
         {"tests/t/x.cpp": '#include "b/y.h"\n#include "b/v.h"\n#include "c/z.h"\n',
          "src/b/y.h": "", "src/b/v.h": "", "src/c/z.h": ""},
         1,
         ["tests/t/x.cpp:2 includes b/v.h: tests/t -> b, but tests/t may use b/y.h",
          "tests/t/x.cpp:3 includes c/z.h: tests/t -> c, but tests/t may use b/y.h"]),
    Tree("angle brackets: a header of the tree is checked, one found nowhere is the system's",
         "c:\nb: c\n",
         {"src/c/z.cpp": '#include <b/y.h>\n#include <vector>\n#  include <c/w.h>\n',
          "src/b/y.h": "", "src/c/w.h": ""},
         1,
         ["src/c/z.cpp:1 includes <b/y.h>: c -> b, but c may use nothing above it"]),
    Tree("an include made by a macro cannot be followed and is named",
         "a:\n",
         {"src/a/x.cpp": '#define HEADER "a/y.h"\n#include HEADER\n#include "a/y.h"\n',
          "src/a/y.h": ""},
         1,
         ["src/a/x.cpp:2 includes HEADER: a name made by the preprocessor cannot be followed; "
          "include the header by its name"]),
    Tree("a named header brings what it includes, directly and further down",
         "c:\nb: c\ntests/t: b/y.h\ntests/u: b/y.h c/z.h c/v.h\n",
         {"tests/t/x.cpp": '#include "b/y.h"\n', "tests/u/x.cpp": '#include "b/y.h"\n',
          "src/b/y.h": '#include "c/z.h"\n', "src/c/z.h": '#include "v.h"\n',
          "src/c/v.h": ""},
         1,
         ["tests/t/x.cpp:1 includes b/y.h, which brings c/v.h, c/z.h (tests/t -> c, but "
          "tests/t may use b/y.h)"]),
    Tree("upward and sideways includes between layers",
         "c:\nb: c\nd: c\na: b d\n",
         {"src/c/z.cpp": '#include "a/x.h"\n', "src/b/y.cpp": '#include "d/w.h"\n#include "a/x.h"\n',
          "src/a/x.h": "", "src/d/w.h": ""},
         1,
         ["src/b/y.cpp:1 includes d/w.h: b -> d, but b may use c",
          "src/b/y.cpp:2 includes a/x.h: b -> a, but b may use c (a is above b)",
          "src/c/z.cpp:1 includes a/x.h: c -> a, but c may use nothing above it"]),
    Tree("the longest name owns a file; its folder stays its own",
         "a:\nb:\ntests/t: a\ntests/t/one.cpp: b\n",
         {"tests/t/one.cpp": '#include "b/y.h"\n#include "w.h"\n',
          "tests/t/two.cpp": '#include "b/y.h"\n', "tests/t/w.h": "",
          "src/a/x.h": "", "src/b/y.h": ""},
         1,
         ["tests/t/two.cpp:1 includes b/y.h: tests/t -> b, but tests/t may use a"]),
    Tree("headers are looked for in the folders the entry may use, then anywhere",
         "standins/r:\nstandins/s:\ntests/t: standins/s/S.h\ntests/u:\n",
         {"standins/r/S.h": "", "standins/r/R.h": "", "standins/s/S.h": "",
          "tests/t/x.cpp": '#include "S.h"\n',
          "tests/u/x.cpp": '#include "R.h"\n#include "../t/x.cpp"\n#include "S.h"\n'},
         1,
         ["tests/u/x.cpp:1 includes R.h (standins/r/R.h): tests/u -> standins/r, but "
          "tests/u may use nothing outside itself",
          "tests/u/x.cpp:2 includes ../t/x.cpp (tests/t/x.cpp): tests/u -> tests/t, but "
          "tests/u may use nothing outside itself",
          "tests/u/x.cpp:3 includes S.h: not in its folder, src/ or a folder tests/u may use; "
          "there are standins/r/S.h, standins/s/S.h"]),
    Tree("a header that is nowhere, a file that belongs to no entry",
         "a:\n",
         {"src/a/x.cpp": '#include "a/gone.h"\n', "standins/new/y.cpp": ""},
         1,
         ["src/a/x.cpp:1 includes a/gone.h: not in its folder, src/ or a folder a may use; "
          "no such header",
          "standins/new/y.cpp: belongs to no entry of cmake/layers.txt; give its folder a line "
          "there"]),
    Tree("the table's own errors stop the check",
         "a: nowhere\nb: a\nb: a\nc d\n  a\nstandins/s:\ne: standins/s\nh: h\n",
         {"src/a/x.cpp": '#include "zz/none.h"\n', "src/b/y.h": "", "src/e/e.h": "",
          "src/h/h.h": "", "standins/s/s.h": ""},
         1,
         ["cmake/layers.txt:1: a uses nowhere, which is neither an entry nor a file "
          "(src/nowhere)",
          "cmake/layers.txt:3: b has an entry already (line 2)",
          "cmake/layers.txt:4: not an entry; write NAME: USES...",
          "cmake/layers.txt:5: uses with no entry above them",
          "cmake/layers.txt:7: e uses standins/s; nothing in src/ may know what lies outside it",
          "cmake/layers.txt:8: h names itself"]),
    Tree("uses that go round",
         "f: g\ng: f\n",
         {"src/f/f.h": "", "src/g/g.h": ""},
         1,
         ["cmake/layers.txt:1: the uses go round: f -> g -> f"]),
]


class TableRules(unittest.TestCase):
    """Small trees with tables of their own."""

    def test_trees(self):
        for tree in TREES:
            with self.subTest(tree.name), tempfile.TemporaryDirectory() as root:
                write(root, TABLE, tree.table)
                for path, text in tree.files.items():
                    write(root, path, text)
                status, lines = check(root)
                self.assertEqual(status, tree.status, lines)
                self.assertEqual(lines[:-1], tree.lines)
                self.assertTrue(lines[-1].startswith("check-layers: "), lines)


if __name__ == "__main__":
    unittest.main(verbosity=2)
