#!/usr/bin/env python3
"""Tests of the live reader stack's supervisor (livestack.py).

- Whose ports: a port the process itself listens on is its own, one another process listens
  on is taken, one nobody listens on is neither, from one reading.
- Many starts in a row: the whole stack (pcscd, the vpcd driver on fresh ports, a card) is
  started and stopped STARTS times; every start must succeed. A check that read the
  process's sockets before the kernel's list of listeners counted pcscd's own ports as
  another program's whenever the driver began listening between the two reads.
"""
import os
import socket
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import livestack  # noqa: E402

STARTS = int(os.environ.get("LIVESTACK_STARTS", "30"))


def listener():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    s.listen(1)
    return s


class PortOwners(unittest.TestCase):
    def test_own_foreign_and_free_ports(self):
        mine = listener()
        self.addCleanup(mine.close)
        # A child process listening on a port of its own, reporting it, then waiting.
        child = subprocess.Popen(
            [sys.executable, "-c",
             "import socket,sys\n"
             "s=socket.socket(); s.bind(('127.0.0.1',0)); s.listen(1)\n"
             "print(s.getsockname()[1], flush=True); sys.stdin.read()"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(child.wait)
        self.addCleanup(child.stdout.close)
        self.addCleanup(child.stdin.close)
        foreign = int(child.stdout.readline())
        unused = livestack.free_ports()

        ours, others = livestack.port_owners(
            {mine.getsockname()[1], foreign, unused}, os.getpid())
        self.assertEqual(ours, {mine.getsockname()[1]})
        self.assertEqual(others, {foreign})

        # The child's own view: its port is its own, ours is taken.
        ours, others = livestack.port_owners({mine.getsockname()[1], foreign}, child.pid)
        self.assertEqual(ours, {foreign})
        self.assertEqual(others, {mine.getsockname()[1]})


    def test_a_port_opened_between_the_two_reads_is_never_another_programs(self):
        # The process starts listening on its port right between the two readings (the
        # kernel's list of listeners and the process's descriptors), whichever comes first.
        # That port is its own, or not listening yet; never another program's.
        port = livestack.free_ports()
        opened = []
        real = {"listeners": livestack.listeners, "socket_inodes": livestack.socket_inodes}

        def open_after(name):
            def read(*args):
                result = real[name](*args)
                if not opened:
                    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                    s.bind(("0.0.0.0", port))
                    s.listen(1)
                    opened.append(s)
                return result
            return read

        for name in real:
            setattr(livestack, name, open_after(name))
        try:
            ours, others = livestack.port_owners({port}, os.getpid())
        finally:
            for name, function in real.items():
                setattr(livestack, name, function)
            for s in opened:
                s.close()
        self.assertEqual(len(opened), 1)
        self.assertEqual(others, set())
        self.assertLessEqual(ours, {port})


class ManyStarts(unittest.TestCase):
    def test_stack_starts_every_time(self):
        failures = []
        for n in range(STARTS):
            run = subprocess.run(
                [sys.executable, os.path.join(HERE, "livestack.py"), "run", "--card", "0",
                 "--timeout", "30", "--", "true"],
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
            if run.returncode != 0:
                failures.append("start %d: exit %d: %s" % (
                    n + 1, run.returncode, run.stdout.decode(errors="replace").strip()))
        self.assertEqual(failures, [], "%d of %d starts failed" % (len(failures), STARTS))


if __name__ == "__main__":
    unittest.main(verbosity=2)
