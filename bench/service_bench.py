#!/usr/bin/env python3
"""wattmeterd beside wattmeter, with every surface on (journal, dashboard, MQTT) and polling off:
the service's time from start to READY=1, and for both the resident memory, the CPU time and the
wake-ups a second while idle (context switches of all threads, from /proc).

    python3 bench/service_bench.py [RUNS]      (default 5; the build in build/, or BUILD_DIR)

Needs the simulator and mosquitto (tools/setup.sh with WITH_TESTS=1 installs it). The window runs
on the offscreen platform; notifications are left out, as the service has none.
"""
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

BIN = os.path.join(os.environ.get("BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "build")), "bin")
RUNS = int(sys.argv[1]) if len(sys.argv) > 1 else 5
IDLE_S = 10


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.01)
    raise SystemExit("timed out")


def figures(pid):
    """Resident kB, CPU seconds, and context switches of every thread."""
    with open(f"/proc/{pid}/status") as f:
        rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    switches = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/status") as f:
            switches += sum(int(line.split()[1]) for line in f if "ctxt_switches" in line)
    return rss, cpu, switches


def main():
    work = tempfile.mkdtemp(prefix="service-bench-")
    env = dict(os.environ, XDG_CONFIG_HOME=work, QT_QPA_PLATFORM="offscreen")
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
        env.pop(name, None)
    sim = subprocess.Popen([f"{BIN}/wattmeter-sim", "--com", "1", "--quiet", "--fast"],
                           env=env, stdin=subprocess.PIPE)
    wait_for(lambda: os.path.islink(f"{work}/Vorlan Wattmeter/ports/com1"))
    with open(f"{work}/Vorlan Wattmeter/Vorlan Wattmeter.conf", "w") as f:
        f.write("[settings]\nport=1\n")
    broker_port = free_port()
    with open(f"{work}/broker.conf", "w") as f:
        f.write(f"listener {broker_port} 127.0.0.1\nallow_anonymous true\n")
    broker = subprocess.Popen(["mosquitto", "-c", f"{work}/broker.conf"], stderr=subprocess.DEVNULL)
    time.sleep(0.5)

    def surfaces(n):
        return ["--journal", f"{work}/j{n}.csv", "--serve", f"127.0.0.1:{free_port()}",
                "--mqtt", f"mqtt://127.0.0.1:{broker_port}", "--mqtt-node", f"bench{n}"]

    ready, rows = [], {"wattmeterd": [], "wattmeter": []}
    for run in range(RUNS):
        notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        notify.bind(f"{work}/notify{run}")
        started = time.monotonic()
        service = subprocess.Popen([f"{BIN}/wattmeterd", "--port", "1"] + surfaces(run),
                                   env=dict(env, NOTIFY_SOCKET=f"{work}/notify{run}"),
                                   stderr=subprocess.DEVNULL)
        while notify.recv(4096) != b"READY=1":
            pass
        ready.append((time.monotonic() - started) * 1000)
        notify.setblocking(False)
        service_pid = service.pid
        window = subprocess.Popen([f"{BIN}/wattmeter"] + surfaces(100 + run), env=env,
                                  stderr=subprocess.DEVNULL)
        time.sleep(3)  # both settled: connected, the window shown, the start-up RESET answered
        before = {name: figures(pid) for name, pid in
                  (("wattmeterd", service_pid), ("wattmeter", window.pid))}
        end = time.monotonic() + IDLE_S
        while time.monotonic() < end:  # systemd's part: the notify socket read as it comes
            try:
                notify.recv(4096)
            except BlockingIOError:
                time.sleep(0.05)
        for name, pid in (("wattmeterd", service_pid), ("wattmeter", window.pid)):
            rss, cpu, switches = figures(pid)
            rows[name].append((rss, (cpu - before[name][1]) / IDLE_S,
                               (switches - before[name][2]) / IDLE_S))
        for process in (service, window):
            process.terminate()
            process.wait()
        notify.close()
    broker.terminate()
    sim.terminate()

    print(f"{RUNS} runs, medians; idle over {IDLE_S} s with polling off")
    print(f"wattmeterd start to READY=1: {statistics.median(ready):.1f} ms "
          f"(min {min(ready):.1f}, max {max(ready):.1f})")
    print(f"{'program':12} {'resident MB':>12} {'CPU %':>8} {'wake-ups/s':>11}")
    for name, values in rows.items():
        rss, cpu, wakeups = (statistics.median(column) for column in zip(*values))
        print(f"{name:12} {rss / 1024:12.1f} {cpu * 100:8.2f} {wakeups:11.1f}")
    print(f"resident ratio wattmeterd/wattmeter: "
          f"{statistics.median(rows['wattmeterd'][i][0] / rows['wattmeter'][i][0] for i in range(RUNS)):.2f}")


if __name__ == "__main__":
    main()
