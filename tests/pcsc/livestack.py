#!/usr/bin/env python3
"""Runs a command inside a live PC/SC reader stack of its own, and tears the stack down.

  livestack.py run [--card SLOT]... [--timeout SECONDS] -- COMMAND [ARGS...]
  livestack.py ctl stop-service | start-service | insert-card SLOT [BEHAVIOUR] |
                  remove-card SLOT | service-pid | pause-service | resume-service

"run" starts, in a fresh temporary folder:
  - pcscd in the foreground (pcscd -f -d -c FOLDER/reader.conf.d) with the vsmartcard-vpcd
    driver, which gives two readers, "Virtual PCD 00 00" and "Virtual PCD 00 01", waiting
    for a card on two consecutive TCP ports that this run picks among the free ones
    (--port PORT takes PORT and PORT+1 instead), so that runs side by side never meet;
  - for each --card SLOT, virtual_card.py connected to the port of that slot over 127.0.0.1;
then runs COMMAND with these variables set:
  PCSCLITE_CSOCK_NAME  the service socket, FOLDER/pcscd.comm (pcsc-lite clients read it);
  LIVESTACK_CTL        the control socket that "ctl" and tests use to change the stack.
When COMMAND ends, or after --timeout seconds (COMMAND is then killed and the exit code
is 124), or on SIGTERM/SIGINT/SIGHUP, every process started here is stopped by its PID and
the folder is removed. The exit code is COMMAND's. The processes also die with this
supervisor if it is killed (parent-death signal).

pcscd 1.9.9 listens on its fixed socket /run/pcscd/pcscd.comm and does not read
PCSCLITE_CSOCK_NAME; it does accept a listening socket handed over the way systemd does
(LISTEN_FDS=1, LISTEN_PID, the socket as descriptor 3). So this supervisor binds
FOLDER/pcscd.comm itself and hands it over, and no system-wide socket is touched. pcscd still
writes /run/pcscd/pcscd.pid and cleans /run/pcscd when it ends; so it runs in a mount
namespace of its own in which /run/pcscd is an empty tmpfs, and what the machine's
/run/pcscd holds (another stack's, or the system's pcscd's) is never touched (the folder
is made, empty, when missing, as pcscd makes it). Where namespaces cannot be made (no
CAP_SYS_ADMIN), pcscd uses the machine's /run/pcscd, and no other pcscd may run
meanwhile (checked at start).

The vpcd driver listens on its ports on every address (it has no setting for that); the
cards, the only peers, connect over 127.0.0.1. The ports are checked free before pcscd
starts and checked to be pcscd's once it runs; ports that another program took in between
are given up for another pair.

Control requests, one line each over LIVESTACK_CTL, answered "ok" or "error TEXT":
  stop-service       stop pcscd (clients then get "no service"); cards keep retrying
  start-service      start pcscd again on the same socket path; waits for the driver
  insert-card SLOT [BEHAVIOUR]
                     start a virtual card on that slot; waits until the service read its ATR.
                     BEHAVIOUR is virtual_card.py's --behaviour (late:SECONDS, mute, drop,
                     short); a late or mute card shows it from its next power-on, so for
                     these the request also waits until the service powered the card down
  remove-card SLOT   stop that card
  service-pid        answered "ok PID" with pcscd's process id, for tests that count what
                     the service holds for its clients
  pause-service      freeze pcscd (SIGSTOP): it accepts no request and answers none
  resume-service     let it run again (SIGCONT)
"""
import argparse
import ctypes
import os
import random
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
VPCD_DRIVER = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so"
SLOTS = 2
START_TIMEOUT = 10.0
STOP_TIMEOUT = 5.0
# Ports are picked below the usual range of the system's outgoing ports (32768 up), so that
# a connection elsewhere on the machine does not take one by chance.
PORT_RANGE = (20000, 32700)
PORT_TRIES = 8
PCSCD_RUN = "/run/pcscd"
CLONE_NEWNS = 0x00020000
MS_REC = 0x4000
MS_PRIVATE = 1 << 18


class StackError(Exception):
    pass


def die_with_parent():
    # Runs in the child before exec: a killed supervisor must not leave its stack behind.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def socket_inodes(pid):
    """The inodes of the sockets the process holds open."""
    inodes = set()
    folder = "/proc/%d/fd" % pid
    try:
        names = os.listdir(folder)
    except OSError:
        return inodes
    for name in names:
        try:
            link = os.readlink(os.path.join(folder, name))
        except OSError:
            continue
        if link.startswith("socket:["):
            inodes.add(int(link[8:-1]))
    return inodes


def listeners():
    """One reading of the kernel's TCP tables: each listened-on port with the inodes of
    the sockets listening on it."""
    ports = {}
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f)
                for line in f:
                    fields = line.split()
                    if fields[3] != "0A":  # LISTEN
                        continue
                    port = int(fields[1].rsplit(":", 1)[1], 16)
                    ports.setdefault(port, set()).add(int(fields[9]))
        except OSError:
            pass
    return ports


def listening_ports():
    """The TCP ports anyone listens on."""
    return set(listeners())


def port_owners(wanted, pid):
    """Of the ports wanted, those the process pid listens on and those another program
    listens on. One consistent reading: the kernel's list of listening sockets first,
    then the process's own descriptors. A socket the process opens after the list was read
    is simply not in it yet; one listed before is already among the descriptors read after,
    so a port is never counted as another program's for being read between its two steps."""
    listed = listeners()
    own = socket_inodes(pid)
    ours, others = set(), set()
    for port in wanted:
        inodes = listed.get(port, set())
        if inodes & own:
            ours.add(port)
        if inodes - own:
            others.add(port)
    return ours, others


def free_ports():
    """A first port such that it and the next SLOTS-1 are free on every address: bound
    here for a moment (never listened on), on the driver's address, 0.0.0.0."""
    rng = random.SystemRandom()
    for _ in range(200):
        first = rng.randrange(PORT_RANGE[0], PORT_RANGE[1] - SLOTS)
        probes = []
        try:
            for slot in range(SLOTS):
                probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                probes.append(probe)
                probe.bind(("0.0.0.0", first + slot))
            return first
        except OSError:
            continue
        finally:
            for probe in probes:
                probe.close()
    raise StackError("found no %d free consecutive ports in %d-%d" % (SLOTS, *PORT_RANGE))


def own_pcscd_run_folder():
    """In the process about to become pcscd: a mount namespace of its own with an empty
    tmpfs on /run/pcscd. Raises OSError when the namespace or a mount cannot be made."""
    libc = ctypes.CDLL(None, use_errno=True)
    os.makedirs(PCSCD_RUN, mode=0o755, exist_ok=True)  # as pcscd itself makes it
    steps = [
        lambda: libc.unshare(CLONE_NEWNS),
        # Nothing mounted from here on reaches the machine's namespace.
        lambda: libc.mount(b"none", b"/", None, ctypes.c_ulong(MS_REC | MS_PRIVATE), None),
        lambda: libc.mount(b"livestack", PCSCD_RUN.encode(), b"tmpfs", ctypes.c_ulong(0),
                           b"mode=0755"),
    ]
    for step in steps:
        if step() != 0:
            error = ctypes.get_errno()
            raise OSError(error, os.strerror(error))


def namespaces_work():
    """Whether own_pcscd_run_folder succeeds here: tried in a child that ends at once."""
    pid = os.fork()
    if pid == 0:
        try:
            own_pcscd_run_folder()
            os._exit(0)
        except BaseException:
            os._exit(1)
    _, status = os.waitpid(pid, 0)
    return os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0


def system_pcscd():
    """The PID of a pcscd that runs outside this stack, or 0."""
    try:
        with open("/run/pcscd/pcscd.pid") as f:
            pid = int(f.read().strip() or 0)
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read()
        # "PID (comm) STATE ...": a zombie left by a killed stack runs no more.
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        state = stat[stat.rindex(")") + 2:].split()[0]
        return pid if name == "pcscd" and state != "Z" else 0
    except (OSError, ValueError):
        return 0


def wait_until(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise StackError("timed out waiting for " + what)


def stop_process(pid):
    """SIGTERM, then SIGKILL after STOP_TIMEOUT; reaps the child."""
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + STOP_TIMEOUT
    while time.monotonic() < deadline:
        done, _ = os.waitpid(pid, os.WNOHANG)
        if done:
            return
        time.sleep(0.05)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)


class PortsTaken(StackError):
    pass


class Stack:
    def __init__(self, folder, port):
        """port: the first of the driver's ports, or None to pick free ones at the first
        start (kept for the run: the cards keep connecting to them)."""
        self.folder = folder
        self.port = port
        self.port_given = port is not None
        self.socket_path = os.path.join(folder, "pcscd.comm")
        self.config = os.path.join(folder, "reader.conf.d")
        self.log = os.path.join(folder, "pcscd.log")
        self.pcscd = None
        self.cards = {}
        self.own_run_folder = namespaces_work()
        os.makedirs(self.config)

    def write_config(self):
        with open(os.path.join(self.config, "vpcd"), "w") as f:
            f.write('FRIENDLYNAME "Virtual PCD"\n')
            f.write("DEVICENAME   /dev/null:0x%X\n" % self.port)
            f.write("LIBPATH      %s\n" % VPCD_DRIVER)
            f.write("CHANNELID    0x%X\n" % self.port)

    def ports(self):
        return {self.port + s for s in range(SLOTS)}

    def service_alive(self):
        if self.pcscd is None:
            return False
        done, _ = os.waitpid(self.pcscd, os.WNOHANG)
        if done:
            self.pcscd = None
            return False
        return True

    def start_service(self):
        if self.service_alive():
            return
        if not self.own_run_folder:
            other = system_pcscd()
            if other:
                # Ours would overwrite its pid file and remove it when it ends.
                raise StackError("another pcscd (pid %d) runs on this machine and this one "
                                 "cannot have a /run/pcscd of its own; stop it first" % other)
        if self.port is not None:
            self.start_on_ports()
            return
        # Picked now, for the rest of the run; a pair taken by another program just as
        # pcscd starts is given up for another.
        for attempt in range(PORT_TRIES):
            self.port = free_ports()
            try:
                self.start_on_ports()
                return
            except PortsTaken:
                self.port = None
                if attempt == PORT_TRIES - 1:
                    raise

    def start_on_ports(self):
        busy = listening_ports() & self.ports()
        if busy:
            raise StackError("ports %s already listen: another program holds them"
                             % sorted(busy))
        self.write_config()
        if os.path.exists(self.socket_path):
            os.unlink(self.socket_path)
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(self.socket_path)
        os.chmod(self.socket_path, 0o666)
        listener.listen(64)
        pid = os.fork()
        if pid == 0:
            try:
                die_with_parent()
                if self.own_run_folder:
                    own_pcscd_run_folder()
                if listener.fileno() != 3:
                    os.dup2(listener.fileno(), 3)
                os.set_inheritable(3, True)
                log = os.open(self.log, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
                null = os.open(os.devnull, os.O_RDONLY)
                os.dup2(null, 0)
                os.dup2(log, 1)
                os.dup2(log, 2)
                env = dict(os.environ, LISTEN_FDS="1", LISTEN_PID=str(os.getpid()))
                env.pop("LISTEN_FDNAMES", None)
                os.execvpe("pcscd", ["pcscd", "-f", "-d", "-c", self.config], env)
            finally:
                os._exit(127)
        listener.close()  # pcscd holds it now; a stopped service must refuse connections
        self.pcscd = pid
        wanted = self.ports()

        def listening():
            # pcscd's own listening sockets: another program on a port is not the driver.
            if not self.service_alive():
                return True
            ours, others = port_owners(wanted, self.pcscd)
            if others:
                raise PortsTaken("ports %s were taken by another program as pcscd started"
                                 % sorted(others))
            return wanted <= ours

        try:
            wait_until(listening, START_TIMEOUT, "the vpcd driver to listen")
        except StackError:
            self.stop_service()
            raise
        if not self.service_alive():
            raise StackError("pcscd ended at start; its log:\n" + self.log_tail())
        for slot, card in self.cards.items():
            self.wait_for_atr(slot, card)

    def wait_for_line(self, slot, card, wanted):
        deadline = time.monotonic() + START_TIMEOUT
        while time.monotonic() < deadline:
            ready, _, _ = select.select([card.stdout], [], [], deadline - time.monotonic())
            line = card.stdout.readline() if ready else b""
            if line.strip() == wanted:
                return
            if ready and not line:
                break
        raise StackError("the card on slot %d never said %s" % (slot, wanted.decode()))

    def wait_for_atr(self, slot, card):
        ready, _, _ = select.select([card.stdout], [], [], START_TIMEOUT)
        line = card.stdout.readline() if ready else b""
        if line.strip() != b"atr":
            raise StackError("the service did not read the card's ATR on slot %d" % slot)

    def stop_service(self):
        if self.pcscd is not None:
            os.kill(self.pcscd, signal.SIGCONT)  # a paused service would not hear SIGTERM
            stop_process(self.pcscd)
            self.pcscd = None
        # Forget what the cards told the old service, so a start waits for fresh ATR reads.
        for card in self.cards.values():
            while select.select([card.stdout], [], [], 0)[0]:
                if not card.stdout.readline():
                    break

    def insert_card(self, slot, behaviour="normal"):
        if not 0 <= slot < SLOTS:
            raise StackError("no slot %d" % slot)
        self.remove_card(slot)
        card = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "virtual_card.py"),
             "--host", "127.0.0.1", "--port", str(self.port + slot), "--behaviour", behaviour],
            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, preexec_fn=die_with_parent)
        self.cards[slot] = card
        if self.service_alive():  # otherwise the card connects when the service starts
            self.wait_for_atr(slot, card)
            if behaviour.split(":")[0] in ("late", "mute"):
                self.wait_for_line(slot, card, b"off")

    def remove_card(self, slot):
        card = self.cards.pop(slot, None)
        if card is not None:
            stop_process(card.pid)
            card.stdout.close()

    def teardown(self):
        for slot in list(self.cards):
            self.remove_card(slot)
        self.stop_service()

    def log_tail(self, lines=40):
        try:
            with open(self.log, errors="replace") as f:
                return "".join(f.readlines()[-lines:])
        except OSError:
            return ""

    def handle(self, request):
        """Carries out one request; returns the text after "ok" in the reply."""
        words = request.split()
        if words == ["stop-service"]:
            self.stop_service()
        elif words == ["start-service"]:
            self.start_service()
        elif words in (["pause-service"], ["resume-service"]):
            if not self.service_alive():
                raise StackError("the service is not running")
            os.kill(self.pcscd, signal.SIGSTOP if words[0] == "pause-service" else signal.SIGCONT)
        elif words == ["service-pid"]:
            if not self.service_alive():
                raise StackError("the service is not running")
            return str(self.pcscd)
        elif len(words) in (2, 3) and words[0] == "insert-card":
            self.insert_card(int(words[1]), *words[2:])
        elif len(words) == 2 and words[0] == "remove-card":
            self.remove_card(int(words[1]))
        else:
            raise StackError("unknown request: " + request)
        return ""


def serve_control(stack, control, timeout):
    conn, _ = control.accept()
    with conn:
        conn.settimeout(timeout)
        request = b""
        while not request.endswith(b"\n"):
            chunk = conn.recv(256)
            if not chunk:
                break
            request += chunk
        try:
            detail = stack.handle(request.decode().strip())
            reply = ("ok %s\n" % detail) if detail else "ok\n"
        except (StackError, ValueError) as e:
            reply = "error %s\n" % str(e).replace("\n", " | ")
        conn.sendall(reply.encode())


class Terminated(Exception):
    pass


def on_signal(signum, _frame):
    raise Terminated(signum)


def run(args):
    if not args.command:
        raise SystemExit("livestack.py run: no command given")
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, on_signal)
    folder = tempfile.mkdtemp(prefix="livestack-")
    stack = Stack(folder, args.port)
    command = None
    status = 1
    try:
        control_path = os.path.join(folder, "ctl")
        control = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        control.bind(control_path)
        control.listen(4)
        stack.start_service()
        for slot in args.card:
            stack.insert_card(slot)
        env = dict(os.environ, PCSCLITE_CSOCK_NAME=stack.socket_path,
                   LIVESTACK_CTL=control_path)
        command = subprocess.Popen(args.command, env=env, preexec_fn=die_with_parent)
        deadline = time.monotonic() + args.timeout
        while command.poll() is None:
            left = deadline - time.monotonic()
            if left <= 0:
                print("livestack: %s did not end within %g s; killed" %
                      (args.command[0], args.timeout), file=sys.stderr)
                stop_process(command.pid)
                command = None
                status = 124
                break
            ready, _, _ = select.select([control], [], [], min(left, 0.2))
            if ready:
                serve_control(stack, control, START_TIMEOUT)
        else:
            status = command.returncode
            command = None
        if status != 0:
            print("livestack: pcscd log tail:\n" + stack.log_tail(), file=sys.stderr)
    except StackError as e:
        print("livestack: " + str(e), file=sys.stderr)
        status = 125
    except Terminated:
        status = 128 + signal.SIGTERM
    finally:
        if command is not None and command.poll() is None:
            stop_process(command.pid)
        stack.teardown()
        shutil.rmtree(folder, ignore_errors=True)
    return status


def ctl(args):
    path = os.environ.get("LIVESTACK_CTL")
    if not path:
        raise SystemExit("livestack.py ctl: LIVESTACK_CTL is not set (run under livestack.py run)")
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as conn:
        conn.settimeout(START_TIMEOUT + STOP_TIMEOUT + 5)
        conn.connect(path)
        conn.sendall((" ".join(args.request) + "\n").encode())
        reply = conn.makefile().readline().strip()
    print(reply)
    return 0 if reply.split()[:1] == ["ok"] else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="verb", required=True)
    p_run = sub.add_parser("run")
    p_run.add_argument("--card", type=int, action="append", default=[])
    p_run.add_argument("--timeout", type=float, default=240.0)
    p_run.add_argument("--port", type=int, default=None)
    p_run.add_argument("command", nargs=argparse.REMAINDER)
    p_ctl = sub.add_parser("ctl")
    p_ctl.add_argument("request", nargs="+")
    args = parser.parse_args()
    if args.verb == "run":
        if args.command[:1] == ["--"]:
            args.command = args.command[1:]
        sys.exit(run(args))
    sys.exit(ctl(args))


if __name__ == "__main__":
    main()
