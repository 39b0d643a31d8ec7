#!/usr/bin/python3
"""Measures one serial monitor on a pseudo-terminal, for compare_peers.sh.

   peer_probe.py run PROGRAM --tools DIR --work DIR [--start-only] ...   one run, one JSON line
   peer_probe.py summary RESULTS.jsonl                                   the table and the goals

A run starts the program with the pseudo-terminal as its port and takes, in this order: the
time from exec to its first mapped top-level window, resident memory after start, CPU while
idle with the port open, a flood (bytes written into the master as fast as the program takes
them, while a ping of the window manager's kind goes to its window every 20 ms), resident
memory after the flood, and CPU while the line is paced at a realistic rate.

CPU is the sum of the program's threads' run time from /proc/PID/task/*/schedstat
(nanoseconds, unlike the 10 ms ticks of /proc/PID/stat). The ping is _NET_WM_PING: the
program's own event loop answers it by sending it on to the root window, so a busy loop
answers late; X server round trips (xdotool getwindowname) would not show that.
"""

import argparse
import fcntl
import json
import os
import select
import signal
import statistics
import struct
import subprocess
import sys
import termios
import threading
import time
import tty

from Xlib import X, display, protocol

# raw-reader is dd reading the line and throwing the bytes away: the most that any reader can
# take from a pseudo-terminal on this machine, for scale.
PROGRAMS = ("wattmeter", "bare-qt", "cutecom", "gtkterm", "putty", "raw-reader")


# ---------------------------------------------------------------------------------------------
# The process


_thread_times = {}  # pid -> {thread id: nanoseconds last seen}


def cpu_seconds(pid):
    """The process's CPU time so far. A thread that has ended keeps what it was last seen
    with; the sum over the live threads alone would go down when one ends."""
    seen = _thread_times.setdefault(pid, {})
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except FileNotFoundError:
        tasks = []
    for task in tasks:
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                seen[task] = max(seen.get(task, 0), int(f.read().split()[0]))
        except (FileNotFoundError, ProcessLookupError, IndexError, ValueError):
            pass  # a thread that ended meanwhile
    return sum(seen.values()) / 1e9


def sleep_watching(pid, seconds):
    """Sleeps, looking at the threads now and then, so short-lived ones are counted."""
    end = time.monotonic() + seconds
    while True:
        cpu_seconds(pid)
        left = end - time.monotonic()
        if left <= 0:
            return
        time.sleep(min(0.25, left))


def rss_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0
    return 0.0


def has_open(pid, path):
    try:
        for fd in os.listdir(f"/proc/{pid}/fd"):
            try:
                if os.readlink(f"/proc/{pid}/fd/{fd}") == path:
                    return True
            except OSError:
                pass
    except FileNotFoundError:
        pass
    return False


def wait_until_idle(pid, least_s, most_s, window_s=0.25, busy_s=0.0025):
    """Waits at least least_s, then until the program spent under busy_s in a window_s."""
    sleep_watching(pid, least_s)
    end = time.monotonic() + most_s - least_s
    last = cpu_seconds(pid)
    while time.monotonic() < end:
        time.sleep(window_s)
        now = cpu_seconds(pid)
        if now - last < busy_s:
            return True
        last = now
    return False


# ---------------------------------------------------------------------------------------------
# The line


class Line:
    """A raw pseudo-terminal. The slave stays open here as well, so the line never hangs up
    between programs, and FIONREAD on it tells how much the program has not read yet."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)
        self.received = bytearray()
        self._stop = False
        # Whatever the program sends (our RESET, a peer's echo) is taken off the line, so that
        # it never blocks on a full line.
        self._reader = threading.Thread(target=self._drain, daemon=True)
        self._reader.start()

    def _drain(self):
        while not self._stop:
            ready, _, _ = select.select([self.master], [], [], 0.1)
            if ready:
                try:
                    data = os.read(self.master, 65536)
                except OSError:
                    return
                self.received += data[-256:]
                del self.received[:-256]

    def unread(self):
        buf = fcntl.ioctl(self.slave, termios.FIONREAD, b"\0\0\0\0")
        return struct.unpack("i", buf)[0]

    def write_all(self, data):
        view = memoryview(data)
        while view:
            written = os.write(self.master, view[:65536])
            view = view[written:]

    def wait_drained(self, timeout_s):
        end = time.monotonic() + timeout_s
        while time.monotonic() < end:
            if self.unread() == 0:
                return True
            time.sleep(0.001)
        return False

    def close(self):
        self._stop = True
        self._reader.join()
        os.close(self.master)
        os.close(self.slave)


def flood_text(size):
    lines = []
    total = 0
    n = 0
    while total < size:
        line = b"%08d the quick brown fox jumps over the lazy dog 0123456789 ABCDEF\r\n" % n
        lines.append(line)
        total += len(line)
        n += 1
    return b"".join(lines)[:size]


# ---------------------------------------------------------------------------------------------
# The window


def window_pid(d, window):
    atom = d.intern_atom("_NET_WM_PID")
    try:
        prop = window.get_full_property(atom, X.AnyPropertyType)
    except Exception:
        return None
    return prop.value[0] if prop and len(prop.value) else None


def start_and_wait_for_window(command, env, timeout_s=30):
    """Starts the program; returns (process, ms from exec to its first mapped top-level
    window, that window's id)."""
    d = display.Display()
    root = d.screen().root
    root.change_attributes(event_mask=X.SubstructureNotifyMask)
    d.sync()
    started = time.monotonic()
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, start_new_session=True)
    end = started + timeout_s
    try:
        while time.monotonic() < end:
            if not d.pending_events():
                select.select([d.fileno()], [], [], 0.05)
                if process.poll() is not None:
                    raise RuntimeError(f"{command[0]} ended with {process.returncode}")
                continue
            event = d.next_event()
            if event.type != X.MapNotify or event.override:
                continue
            mapped = time.monotonic()
            pid = window_pid(d, event.window)
            if pid in (None, process.pid):
                return process, (mapped - started) * 1000.0, event.window.id
        raise RuntimeError(f"{command[0]} mapped no window within {timeout_s} s")
    finally:
        d.close()


def top_level_windows(pid):
    d = display.Display()
    found = []
    for child in d.screen().root.query_tree().children:
        try:
            attributes = child.get_attributes()
        except Exception:
            continue
        if attributes.map_state == X.IsViewable and not attributes.override_redirect and \
                window_pid(d, child) == pid:
            found.append(child.id)
    d.close()
    return found


class Pinger(threading.Thread):
    """Sends _NET_WM_PING to a window every interval and keeps the round trips."""

    def __init__(self, window_id, interval_s=0.02):
        super().__init__(daemon=True)
        self.window_id = window_id
        self.interval_s = interval_s
        self.round_trips = []
        self.unanswered_ms = 0.0
        self.sent = 0
        self._stop_event = threading.Event()

    def stop(self):
        self._stop_event.set()
        self.join()

    def run(self):
        d = display.Display()
        root = d.screen().root
        # Answers go to the root window; toolkits differ in the event mask they send them
        # with (structure or substructure notify), so listen for both.
        root.change_attributes(event_mask=X.StructureNotifyMask | X.SubstructureNotifyMask)
        window = d.create_resource_object("window", self.window_id)
        protocols = d.intern_atom("WM_PROTOCOLS")
        ping = d.intern_atom("_NET_WM_PING")
        outstanding = {}
        next_send = time.monotonic()
        while not self._stop_event.is_set():
            now = time.monotonic()
            if now >= next_send:
                self.sent += 1
                event = protocol.event.ClientMessage(
                    window=window, client_type=protocols,
                    data=(32, [ping, self.sent, self.window_id, 0, 0]))
                window.send_event(event, event_mask=0)
                d.flush()
                outstanding[self.sent] = now
                next_send += self.interval_s
            while d.pending_events():
                event = d.next_event()
                if event.type == X.ClientMessage and event.client_type == protocols:
                    values = event.data[1]
                    if values[0] == ping and values[1] in outstanding:
                        self.round_trips.append(
                            (time.monotonic() - outstanding.pop(values[1])) * 1000.0)
            select.select([d.fileno()], [], [], max(0.0, next_send - time.monotonic()))
        # A ping still unanswered counts with its age so far.
        now = time.monotonic()
        self.unanswered_ms = max([(now - t) * 1000.0 for t in outstanding.values()], default=0.0)
        d.close()

    def worst_ms(self):
        return max(self.round_trips + [self.unanswered_ms], default=float("nan"))


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


# ---------------------------------------------------------------------------------------------
# The programs


def prepare(program, line, tools, work):
    """The command and environment that start the program with line as its port, and what to
    do once its window is up."""
    env = dict(os.environ)
    home = os.path.join(work, program)
    os.makedirs(home, exist_ok=True)
    env["HOME"] = home
    env["XDG_CONFIG_HOME"] = os.path.join(home, ".config")
    os.makedirs(env["XDG_CONFIG_HOME"], exist_ok=True)
    shim = os.path.join(tools, "ptyshim.so")
    after_map = None

    if program == "wattmeter":
        folder = os.path.join(env["XDG_CONFIG_HOME"], "Vorlan Wattmeter")
        os.makedirs(os.path.join(folder, "ports"), exist_ok=True)
        with open(os.path.join(folder, "Vorlan Wattmeter.conf"), "w") as f:
            f.write("[settings]\nport=1\n")
        link = os.path.join(folder, "ports", "com1")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(line.path, link)
        command = [os.path.join(tools, "wattmeter")]
    elif program == "bare-qt":
        command = [os.path.join(tools, "bare_qt_window")]
    elif program == "gtkterm":
        env["LD_PRELOAD"] = shim
        command = ["gtkterm", "-p", line.path, "-s", "115200"]
        rc = os.path.join(env["XDG_CONFIG_HOME"], ".gtktermrc")
        if not os.path.exists(rc):
            # The first start asks to confirm the configuration file it has made.
            def after_map(process, window):
                for _ in range(50):
                    dialogs = [w for w in top_level_windows(process.pid) if w != window]
                    if dialogs:
                        xdotool("windowfocus", "--sync", dialogs[-1])
                        xdotool("key", "Return")
                        return
                    time.sleep(0.1)
    elif program == "putty":
        command = ["putty", "-serial", line.path, "-sercfg", "115200,8,n,1,N"]
    elif program == "cutecom":
        env["LD_PRELOAD"] = shim
        folder = os.path.join(env["XDG_CONFIG_HOME"], "CuteCom")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "CuteCom5.conf"), "w") as f:
            f.write("[sessions]\n1\\BaudRate=115200\n1\\DataBits=8\n1\\Device=%s\n"
                    "1\\FlowControl=0\n1\\OpenMode=3\n1\\Parity=0\n1\\StopBits=1\n"
                    "1\\autoReconnect=false\n1\\name=Default\n1\\showCtrlCharacters=false\n"
                    "1\\showTimestamp=false\nsize=1\n" % line.path)
        command = ["cutecom"]

        # It opens the device only when told: its Open button (Alt+O).
        def after_map(process, window):
            time.sleep(0.3)
            xdotool("windowfocus", "--sync", window)
            xdotool("key", "--window", window, "alt+o")
    else:
        raise ValueError(program)
    return command, env, after_map


# ---------------------------------------------------------------------------------------------
# One run


def flood(pid, line, megabytes, window, result):
    """Writes the flood as fast as the program takes it, pinging its window meanwhile."""
    data = flood_text(int(megabytes * (1 << 20)))
    result["rss_before_flood_mb"] = rss_mb(pid)
    pinger = Pinger(window) if window else None
    if pinger:
        pinger.start()
        time.sleep(0.1)
    cpu = cpu_seconds(pid)
    started = time.monotonic()
    line.write_all(data)
    drained = line.wait_drained(120)
    took = time.monotonic() - started
    # The program may still be working on what it took (a display catching up, a tick that
    # scans what came): its CPU counts until it is idle again.
    wait_until_idle(pid, 1.0, 30)
    flood_cpu = cpu_seconds(pid) - cpu
    megabytes = len(data) / float(1 << 20)
    result["flood_mb_s"] = megabytes / took if drained else 0.0
    result["flood_cpu_per_mb"] = flood_cpu / megabytes
    if pinger:
        pinger.stop()
        result["ping_worst_ms"] = pinger.worst_ms()
        result["pings"] = len(pinger.round_trips)
    result["rss_after_flood_mb"] = rss_mb(pid)


def paced(pid, line, seconds, result):
    """115 bytes every 10 ms, as from a line at about 115200 baud."""
    chunk = flood_text(115 * 100)
    cpu = cpu_seconds(pid)
    started = time.monotonic()
    step = 0
    while step * 0.01 < seconds:
        delay = started + step * 0.01 - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        if step % 25 == 0:
            cpu_seconds(pid)
        offset = (step % 100) * 115
        line.write_all(chunk[offset:offset + 115])
        step += 1
    sleep_watching(pid, 1.0)  # the tick after the line goes quiet
    result["paced_cpu_pct"] = (cpu_seconds(pid) - cpu) / seconds * 100.0


def wait_for_port(pid, line, program):
    end = time.monotonic() + 10
    while not has_open(pid, line.path) and time.monotonic() < end:
        time.sleep(0.05)
    if not has_open(pid, line.path):
        raise RuntimeError(f"{program} did not open {line.path}")


def run(args):
    line = Line()
    result = {"program": args.program}
    process = None
    try:
        if args.program == "raw-reader":
            process = subprocess.Popen(["dd", f"if={line.path}", "of=/dev/null", "bs=65536"],
                                       stderr=subprocess.DEVNULL, start_new_session=True)
            wait_for_port(process.pid, line, args.program)
            flood(process.pid, line, args.flood_mb, None, result)
            return result

        command, env, after_map = prepare(args.program, line, args.tools, args.work)
        # The program before this one has only just been ended: let the X server and the
        # machine finish with it first.
        time.sleep(0.5)
        process, result["start_ms"], window = start_and_wait_for_window(command, env)
        pid = process.pid
        if after_map:
            after_map(process, window)
        if args.program != "bare-qt":
            wait_for_port(pid, line, args.program)
        time.sleep(1.0)
        result["rss_start_mb"] = rss_mb(pid)
        if args.start_only or args.program == "bare-qt":
            return result

        cpu = cpu_seconds(pid)
        sleep_watching(pid, args.idle_s)
        result["idle_cpu_s"] = (cpu_seconds(pid) - cpu) * 20.0 / args.idle_s
        flood(pid, line, args.flood_mb, window, result)
        paced(pid, line, args.paced_s, result)
        return result
    except Exception as failure:  # the run is reported as failed, the comparison goes on
        result["error"] = str(failure)
        return result
    finally:
        if process and process.poll() is None:
            os.killpg(process.pid, signal.SIGTERM)
            try:
                process.wait(3)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        line.close()


# ---------------------------------------------------------------------------------------------
# The table

FIGURES = [
    ("start_ms", "start to first window", "ms", 0),
    ("rss_start_mb", "RSS after start", "MB", 1),
    ("idle_cpu_s", "idle CPU per 20 s", "s", 3),
    ("flood_mb_s", "flood throughput", "MB/s", 1),
    ("flood_cpu_per_mb", "CPU per MB of flood", "s", 3),
    ("ping_worst_ms", "worst ping answer in flood", "ms", 0),
    ("rss_before_flood_mb", "RSS before flood", "MB", 1),
    ("rss_after_flood_mb", "RSS after flood", "MB", 1),
    ("paced_cpu_pct", "CPU at 11.5 KB/s", "%", 2),
]


def summary(args):
    runs = [json.loads(line) for line in open(args.results) if line.strip()]
    by_program = {}
    for r in runs:
        by_program.setdefault(r["program"], []).append(r)
    programs = [p for p in PROGRAMS if p in by_program]

    def values(program, key):
        return [r[key] for r in by_program.get(program, []) if key in r and "error" not in r]

    def median(program, key):
        v = values(program, key)
        return statistics.median(v) if v else None

    def cell(program, key, digits):
        v = values(program, key)
        if not v:
            return "-"
        return f"{statistics.median(v):.{digits}f} ({min(v):.{digits}f}-{max(v):.{digits}f})"

    print("Median (min-max) of each figure; runs per program: " + ", ".join(
        f"{p} {len(by_program[p])}" for p in programs))
    print()
    print("| figure | " + " | ".join(programs) + " |")
    print("| --- |" + " --- |" * len(programs))
    for key, name, unit, digits in FIGURES:
        print(f"| {name} ({unit}) | " + " | ".join(cell(p, key, digits) for p in programs) + " |")
    if "raw-reader" in programs:
        print("\nraw-reader: dd reading the line and throwing the bytes away, the most any "
              "program can take from a pseudo-terminal here.")
    failures = [r for r in runs if "error" in r]
    for r in failures:
        print(f"\nfailed run of {r['program']}: {r['error']}")

    def ratio(a, b):
        return a / b if a is not None and b else None

    us = "wattmeter"
    start = median(us, "start_ms")
    rss = median(us, "rss_start_mb")
    before = median(us, "rss_before_flood_mb")
    after = median(us, "rss_after_flood_mb")
    goals = [
        ("start <= 0.5x CuteCom's", ratio(start, median("cutecom", "start_ms")), 0.5, "x"),
        ("start <= 1.3x a bare Qt window's", ratio(start, median("bare-qt", "start_ms")), 1.3,
         "x"),
        ("RSS after start <= 0.5x CuteCom's",
         ratio(rss, median("cutecom", "rss_start_mb")), 0.5, "x"),
        ("idle CPU <= 0.02 s per 20 s", median(us, "idle_cpu_s"), 0.02, "s"),
        ("flood throughput >= 4x GtkTerm's",
         ratio(median(us, "flood_mb_s"), median("gtkterm", "flood_mb_s")), -4, "x"),
        ("CPU per MB of flood <= 0.5x GtkTerm's",
         ratio(median(us, "flood_cpu_per_mb"), median("gtkterm", "flood_cpu_per_mb")), 0.5,
         "x"),
        ("worst ping answer during flood <= 100 ms", median(us, "ping_worst_ms"), 100, "ms"),
        ("RSS after flood within 10 MB of before",
         after - before if after is not None and before is not None else None, 10, "MB"),
        ("paced CPU <= 0.5x CuteCom's",
         ratio(median(us, "paced_cpu_pct"), median("cutecom", "paced_cpu_pct")), 0.5, "x"),
    ]
    print()
    print("| goal | measured | met |")
    print("| --- | --- | --- |")
    for name, value, limit, unit in goals:
        if value is None:
            print(f"| {name} | not measured | - |")
            continue
        met = value >= -limit if limit < 0 else value <= limit
        print(f"| {name} | {value:.3g} {unit} | {'yes' if met else 'NO'} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    one = sub.add_parser("run")
    one.add_argument("program", choices=PROGRAMS)
    one.add_argument("--tools", required=True, help="folder with wattmeter, bare_qt_window, "
                     "ptyshim.so")
    one.add_argument("--work", required=True, help="folder for the programs' settings")
    one.add_argument("--start-only", action="store_true")
    one.add_argument("--idle-s", type=float, default=20)
    one.add_argument("--flood-mb", type=float, default=4)
    one.add_argument("--paced-s", type=float, default=20)
    table = sub.add_parser("summary")
    table.add_argument("results")
    args = parser.parse_args()
    if args.command == "run":
        print(json.dumps(run(args)), flush=True)
    else:
        summary(args)


if __name__ == "__main__":
    main()
