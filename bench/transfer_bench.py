#!/usr/bin/env python3
"""File-transfer throughput: qorvel-xfer against lrzsz and lrzsz against itself, on pseudo-terminals.

Each row joins two pty pairs with a relay thread: one end runs the sender, the other the receiver.
With --paced BAUD the relay lets bytes through no faster than BAUD at 10 bits per byte, and the
row's efficiency is its payload rate over that line rate.

    bench/transfer_bench.py --xfer build/tools/xfer/qorvel-xfer [--mb 64] [--paced 115200] [--only ymodem]

Debugging aids: LRZSZ_LOG=FILE collects lrzsz's messages; XFER_OPT="--trace FILE" replaces
qorvel-xfer's --quiet and keeps its whole report of a failed row.
"""
import argparse
import fcntl
import os
import select
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

PROTOCOLS = ["xmodem", "xmodem-crc", "xmodem-1k", "ymodem", "zmodem"]
# lrzsz's command lines per protocol: (sender, receiver); the receiver runs in its folder.
LRZSZ = {
    "xmodem": (["sx", "-q"], ["rx", "-q"]),
    "xmodem-crc": (["sx", "-q"], ["rx", "-q", "-c"]),
    "xmodem-1k": (["sx", "-q", "-k"], ["rx", "-q", "-c"]),
    "ymodem": (["sb", "-q", "-k"], ["rb", "-q"]),
    "zmodem": (["sz", "-q"], ["rz", "-q"]),
}
BLOCK = {"xmodem": 128, "xmodem-crc": 128, "xmodem-1k": 1024, "ymodem": 1024, "zmodem": 1024}


def raw_pty():
    master, slave = os.openpty()
    tty.setraw(slave)
    return master, slave


class Relay(threading.Thread):
    """Copies bytes along routes (source fd -> destination fd) after a short line delay, optionally
    paced to a line rate. Without the delay two lrzsz programs race their own input flushes: an
    answer can arrive before the flush that follows the request that asked for it."""

    def __init__(self, baud=0, delay=0.0005):
        super().__init__(daemon=True)
        self.routes, self.baud, self.delay = {}, baud, delay
        self.stop = False

    def add(self, src, dst):
        self.routes[src] = [dst, [], 0.0, True]  # destination, [(due, bytes)], byte budget, source open

    def run(self):
        last = time.monotonic()
        while not self.stop:
            routes = dict(self.routes)
            now = time.monotonic()
            readable = [s for s, r in routes.items() if r[3] and len(r[1]) < 64]
            writable = [r[0] for r in routes.values() if r[1] and r[1][0][0] <= now]
            waits = [r[1][0][0] - now for r in routes.values() if r[1]]
            r, w, _ = select.select(readable, writable, [], max(0.0, min(waits + [0.01])))
            now = time.monotonic()
            for src, route in routes.items():
                route[2] = min(route[2] + (now - last) * self.baud / 10.0, 1024) if self.baud else 1 << 30
                if src in r:
                    try:
                        data = os.read(src, 65536)
                    except OSError:
                        data = b""
                    if data:
                        route[1].append((now + self.delay, data))
                    route[3] = bool(data)
                if route[0] in w and route[1] and route[1][0][0] <= now:
                    due, data = route[1][0]
                    n = min(len(data), int(route[2]))
                    try:
                        done = os.write(route[0], data[:n]) if n > 0 else 0
                    except OSError:
                        done = 0
                    route[1][0] = (due, data[done:])
                    if not route[1][0][1]:
                        route[1].pop(0)
                    route[2] -= done
            last = now


def spawn_on_tty(cmd, slave, cwd):
    """An lrzsz program reading the pty slave, in a session of its own. It writes into a pipe that
    the relay reads: lrzsz flushes its terminal right after its last ACK, and on a pty that flush
    drops the ACK before the relay can read it, where a real line would have sent it."""
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(cmd, stdin=slave, stdout=write_end, cwd=cwd, start_new_session=True,
                            stderr=open(os.environ.get("LRZSZ_LOG", os.devnull), "ab"))
    os.close(write_end)
    proc.out = read_end
    return proc


def run_row(sender, receiver, path, folder, xfer, proto, baud, timeout):
    """sender/receiver: 'ours' or 'lrzsz'. Returns (seconds, ok, note); ok is None when not built."""
    ma, sa = raw_pty()
    mb, sb = raw_pty()
    relay = Relay(baud)
    procs = []
    try:
        def ours(send):
            cmd = [xfer, "send" if send else "receive", "-p", proto, "--port", os.ttyname(sb)]
            cmd += os.environ.get("XFER_OPT", "--quiet").split() + ["--baud", str(baud or 115200)]
            cmd += [path] if send else ["--folder", folder] + ([] if proto in ("ymodem", "zmodem")
                                                               else ["--name", "out.bin"])
            return subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

        def theirs(send, slave, peer_master):
            s, r = LRZSZ[proto]
            cmd = s + [path] if send else r + ([] if proto in ("ymodem", "zmodem") else ["out.bin"])
            proc = spawn_on_tty(cmd, slave, folder)
            relay.add(proc.out, peer_master)
            return proc

        # Our side first: a port opened later would lose the receiver's first 'C' to the purge at
        # open, and lrzsz's receivers take about 10 s to repeat it.
        start = time.monotonic()
        if receiver == "ours":
            procs.append(ours(False))
            relay.add(mb, ma)
        elif sender == "ours":
            procs.append(ours(True))
            relay.add(mb, ma)
        if procs:
            time.sleep(0.3)
        if receiver == "lrzsz":
            procs.insert(0, theirs(False, sa, mb))
        if sender == "lrzsz":
            procs.append(theirs(True, sb if receiver == "lrzsz" else sa, ma if receiver == "lrzsz" else mb))
        relay.start()
        codes = []
        for p in procs:
            try:
                codes.append(p.wait(timeout=max(1, timeout - (time.monotonic() - start))))
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                codes.append("timeout")
        seconds = time.monotonic() - start
        note = ""
        for p in procs:
            if p.stderr:
                err = p.stderr.read().decode(errors="replace").strip()
                if "is not built" in err:
                    return seconds, None, "not built"
                if err and codes != [0, 0]:
                    note = err if os.environ.get("XFER_OPT") else err.splitlines()[-1]
        return seconds, codes == [0, 0], note or str(codes)
    finally:
        relay.stop = True
        if relay.is_alive():
            relay.join()
        for fd in [ma, sa, mb, sb] + [p.out for p in procs if hasattr(p, "out")]:
            os.close(fd)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--xfer", default="build/tools/xfer/qorvel-xfer")
    ap.add_argument("--mb", type=float, default=64)
    ap.add_argument("--paced", type=int, default=0, help="line rate in baud (10 bits per byte)")
    ap.add_argument("--only", action="append", choices=PROTOCOLS)
    ap.add_argument("--timeout", type=float, default=1800)
    args = ap.parse_args()
    size = int(args.mb * 1048576)
    with tempfile.TemporaryDirectory() as work:
        src = os.path.join(work, "payload.bin")
        with open(src, "wb") as f:
            f.write(os.urandom(size))
        print(f"{size} bytes, {'paced ' + str(args.paced) + ' baud' if args.paced else 'unpaced pty'}")
        print(f"{'protocol':<11} {'sender':<6} {'receiver':<8} {'seconds':>8} {'MiB/s':>8} {'blocks/s':>9}"
              + (" efficiency" if args.paced else ""))
        for proto in args.only or PROTOCOLS:
            for sender, receiver in (("ours", "lrzsz"), ("lrzsz", "ours"), ("lrzsz", "lrzsz")):
                folder = tempfile.mkdtemp(dir=work)
                seconds, ok, note = run_row(sender, receiver, src, folder, os.path.abspath(args.xfer), proto,
                                            args.paced, args.timeout)
                if ok is None:
                    print(f"{proto:<11} {sender:<6} {receiver:<8} not built")
                    continue
                got = os.path.join(folder, "out.bin" if proto.startswith("xmodem") else "payload.bin")
                exact = ok and os.path.exists(got) and open(got, "rb").read(size) == open(src, "rb").read()
                rate = size / seconds / 1048576
                line = (f"{proto:<11} {sender:<6} {receiver:<8} {seconds:8.2f} {rate:8.3f} "
                        f"{size / BLOCK[proto] / seconds:9.0f}")
                if args.paced:
                    line += f" {size / seconds / (args.paced / 10):10.3f}"
                if not exact:
                    line += f"  FAILED ({note})"
                print(line, flush=True)


if __name__ == "__main__":
    main()
