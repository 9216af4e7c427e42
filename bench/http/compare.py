"""Runs wrk against the helper's handshake and against nginx serving the same reply,
alternating between the two for several rounds, and prints requests per second, the
50th and 99th latency percentiles and the peak resident size (VmHWM) of each."""
import argparse
import fcntl
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ORIGIN = "http://localhost:8080"
BODY = '{"app_id": "MARBLE-GAME","helper_version": "1.6.1"}'
HELPER_PORT = 4219
NGINX_PORT = 4280

NGINX_CONF = """\
worker_processes 1;
daemon off;
pid {dir}/nginx.pid;
error_log {dir}/error.log;
events {{ worker_connections 4096; }}
http {{
  access_log off;
  keepalive_timeout 0;
  server_tokens off;
  client_body_temp_path {dir}/body;
  fastcgi_temp_path {dir}/fastcgi;
  uwsgi_temp_path {dir}/uwsgi;
  scgi_temp_path {dir}/scgi;
  proxy_temp_path {dir}/proxy;
  server {{
    listen 127.0.0.1:{port}{listen_options};
    location / {{
      default_type text/plain;
      add_header Access-Control-Allow-Origin {origin};
      return 200 '{body}';
    }}
  }}
}}
"""


def wait_for_port(port, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.1)
    return False


def fetch(port):
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(f"GET /handshake HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: {ORIGIN}\r\n\r\n".encode())
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return data
            data += chunk


def vm_hwm_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    """User plus system time of the process so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def to_ms(text):
    value, unit = re.fullmatch(r"([\d.]+)(us|ms|s)", text).groups()
    return float(value) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[unit]


def run_wrk(port, duration, connections):
    out = subprocess.run(
        ["wrk", "-t1", f"-c{connections}", f"-d{duration}s", "--latency", "-H", f"Origin: {ORIGIN}",
         f"http://127.0.0.1:{port}/handshake"],
        capture_output=True, text=True, check=True).stdout
    rps = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    count = int(re.search(r"(\d+) requests in", out).group(1))
    p50 = to_ms(re.search(r"^\s+50%\s+(\S+)", out, re.M).group(1))
    p99 = to_ms(re.search(r"^\s+99%\s+(\S+)", out, re.M).group(1))
    errors = re.search(r"Socket errors: (.*)", out)
    non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    return {"rps": rps, "p50": p50, "p99": p99, "count": count,
            "errors": (errors.group(1) if errors else "") + (f" non-2xx {non2xx.group(1)}" if non2xx else "")}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--helper", required=True)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--duration", type=int, default=10)
    ap.add_argument("--connections", type=int, default=32)
    ap.add_argument("--nginx-deferred", action="store_true",
                    help="nginx's listener takes connections once their first bytes arrive, as the helper's does")
    args = ap.parse_args()

    # The helper's ports are fixed: wait for the other benchmarks, which hold this lock.
    lock = open(os.path.join(tempfile.gettempdir(), "tovelwebhelper-blackbox.lock"), "w")
    fcntl.flock(lock, fcntl.LOCK_EX)

    work = tempfile.mkdtemp(prefix="tovel-bench-http-")
    procs = []
    try:
        env = {k: v for k, v in os.environ.items() if not k.startswith("TOVELWEBHELPER_")}
        env.update(TOVELWEBHELPER_TEST_MODE="1", XDG_RUNTIME_DIR=work)
        helper = subprocess.Popen([args.helper, "--activate-webhelper"], env=env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(helper)

        conf = os.path.join(work, "nginx.conf")
        with open(conf, "w") as f:
            f.write(NGINX_CONF.format(dir=work, port=NGINX_PORT, origin=ORIGIN, body=BODY,
                                      listen_options=" deferred" if args.nginx_deferred else ""))
        nginx_bin = shutil.which("nginx") or "/usr/sbin/nginx"
        nginx = subprocess.Popen([nginx_bin, "-p", work, "-c", conf, "-e", os.path.join(work, "error.log")],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(nginx)

        if not wait_for_port(HELPER_PORT) or not wait_for_port(NGINX_PORT):
            sys.exit("a server did not come up")
        if helper.poll() is not None or nginx.poll() is not None:
            sys.exit("a server ended at start (port taken?)")
        workers = subprocess.run(["pgrep", "-P", str(nginx.pid)], capture_output=True, text=True).stdout.split()
        if len(workers) != 1:
            sys.exit(f"expected one nginx worker, found {workers}")
        worker = int(workers[0])

        helper_reply, nginx_reply = fetch(HELPER_PORT), fetch(NGINX_PORT)
        print("helper reply:", helper_reply)
        print("nginx reply: ", nginx_reply)
        assert helper_reply.endswith(BODY.encode()) and nginx_reply.endswith(BODY.encode())

        results = {"helper": [], "nginx": []}
        ports = {"helper": HELPER_PORT, "nginx": NGINX_PORT}
        serving = {"helper": helper.pid, "nginx": worker}
        print(f"\nwrk -t1 -c{args.connections} -d{args.duration}s, {args.rounds} rounds, alternating\n")
        print(f"{'round':>5} {'server':>7} {'req/s':>10} {'p50 ms':>8} {'p99 ms':>8} {'CPU us/req':>10}  errors")
        for r in range(args.rounds):
            order = ("helper", "nginx") if r % 2 == 0 else ("nginx", "helper")
            for name in order:
                before = cpu_seconds(serving[name])
                res = run_wrk(ports[name], args.duration, args.connections)
                res["cpu"] = (cpu_seconds(serving[name]) - before) * 1e6 / max(res["count"], 1)
                results[name].append(res)
                print(f"{r + 1:>5} {name:>7} {res['rps']:>10.0f} {res['p50']:>8.3f} {res['p99']:>8.3f} "
                      f"{res['cpu']:>10.1f}  {res['errors']}")
                time.sleep(1)

        hwm = {"helper": vm_hwm_kib(helper.pid), "nginx": vm_hwm_kib(worker)}
        nginx_master_hwm = vm_hwm_kib(nginx.pid)
        med = {n: {k: statistics.median(x[k] for x in results[n]) for k in ("rps", "p50", "p99", "cpu")} for n in results}
        print("\nmedians over the rounds")
        print(f"{'server':>7} {'req/s':>10} {'p50 ms':>8} {'p99 ms':>8} {'CPU us/req':>10} {'VmHWM KiB':>10}")
        for n in ("helper", "nginx"):
            print(f"{n:>7} {med[n]['rps']:>10.0f} {med[n]['p50']:>8.3f} {med[n]['p99']:>8.3f} "
                  f"{med[n]['cpu']:>10.1f} {hwm[n]:>10}")
        print(f"(nginx master VmHWM {nginx_master_hwm} KiB, not counted above)")
        rps_ratio = med["helper"]["rps"] / med["nginx"]["rps"]
        p99_ratio = med["helper"]["p99"] / med["nginx"]["p99"]
        print(f"\nhelper/nginx: req/s {rps_ratio:.2f} (goal >= 1.0), "
              f"p50 {med['helper']['p50'] / med['nginx']['p50']:.2f}, p99 {p99_ratio:.2f} (goal <= 1.0)")
        print(f"helper/nginx: server CPU per request {med['helper']['cpu'] / med['nginx']['cpu']:.2f} (goal <= 1.0)")
        print(f"helper peak RSS {hwm['helper']} KiB (goal < 4096 KiB)")
    finally:
        for p in reversed(procs):
            if p.poll() is None:
                p.send_signal(signal.SIGKILL if p is procs[0] else signal.SIGTERM)
                p.wait(10)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
