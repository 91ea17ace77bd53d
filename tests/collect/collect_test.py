#!/usr/bin/env python3
"""silog collect and the syslog protocol against a real rsyslog.

Each case starts its own rsyslogd on loopback ports with its own configuration and output files
(never the system's service), its own silog collect, and feeds it through the logging library
(silog send, view-feed). Usage: collect_test.py BIN_DIR CASE, where CASE is one of the names in
CASES below.
"""
import datetime
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

BIN = sys.argv[1] if len(sys.argv) > 1 else "build/native/bin"
# The Windows build's silog.exe runs under Wine, with the build tree's prefix.
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                        "wine-run")
if os.path.exists(os.path.join(BIN, "silog.exe")):
    SILOG = [WINE_RUN, os.path.join(BIN, "silog.exe")]
else:
    SILOG = [os.path.join(BIN, "silog")]
FEED = os.path.join(BIN, "view-feed")
RSYSLOGD = shutil.which("rsyslogd") or "/usr/sbin/rsyslogd"

# One output line per message: the fields that the test compares, separated by "|". A message
# that managed to start a line of its own would show as a line without these fields.
TEMPLATE = """template(name="fields" type="list") {
  constant(value="@@") property(name="pri") constant(value="|")
  property(name="timereported" dateFormat="rfc3339") constant(value="|")
  property(name="hostname") constant(value="|") property(name="app-name") constant(value="|")
  property(name="procid") constant(value="|") property(name="msgid") constant(value="|")
  property(name="structured-data") constant(value="|") property(name="msg")
  constant(value="\\n")
}
"""
# Every process a case starts, ended when the case ends however it ends.
PROCESSES = []
LINE = re.compile(r"^@@(\d+)\|([^|]*)\|([^|]*)\|([^|]*)\|([^|]*)\|([^|]*)\|(\[.*?[^\\]\])\|(.*)$")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def free_fixed_port():
    """A free port below the system's range for outgoing connections (32768 up), as the
    collector's 4228 is: a collector restarted on a port in that range may find it taken by
    a workstation's reconnect attempt, which the system gave that very port as its own."""
    import random
    while True:
        port = random.randrange(20000, 32000)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
                return port
            except OSError:
                continue


def wait_for(what, predicate, timeout=10.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


class Rsyslog:
    """rsyslogd in the foreground with inputs "tcp", "udp" and optionally "tls", each writing
    its messages to <dir>/<input>.log through TEMPLATE."""

    def __init__(self, folder, tls=None, relp=False):
        self.folder = folder
        self.ports = {"tcp": free_port(), "udp": free_port()}
        if tls:
            self.ports["tls"] = free_port()
        if relp:
            self.ports["relp"] = free_port()
        conf = [f'global(workDirectory="{folder}" maxMessageSize="64k"']
        if tls:
            conf.append(f' defaultNetstreamDriverCAFile="{tls["ca"]}"'
                        f' defaultNetstreamDriverCertFile="{tls["cert"]}"'
                        f' defaultNetstreamDriverKeyFile="{tls["key"]}"')
        conf.append(")\nmodule(load=\"imtcp\")\nmodule(load=\"imudp\")\n" + TEMPLATE)
        if relp:
            conf.append('module(load="imrelp")\n')
        for name, port in self.ports.items():
            kind = {"udp": "imudp", "relp": "imrelp"}.get(name, "imtcp")
            extra = (' streamDriver.name="ossl" streamDriver.mode="1"'
                     ' streamDriver.authMode="anon"') if name == "tls" else ""
            conf.append(f'input(type="{kind}" address="127.0.0.1" port="{port}"'
                        f' ruleset="{name}"{extra})\n'
                        f'ruleset(name="{name}") {{ action(type="omfile"'
                        f' file="{folder}/{name}.log" template="fields") }}\n')
        self.conf = os.path.join(folder, "rsyslog.conf")
        with open(self.conf, "w") as f:
            f.write("".join(conf))
        self.process = None

    def start(self):
        self.process = subprocess.Popen(
            [RSYSLOGD, "-n", "-f", self.conf, "-i", os.path.join(self.folder, "rsyslog.pid")],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.folder, "rsyslog.err"), "a"))
        PROCESSES.append(self.process)
        for name, port in self.ports.items():
            if name != "udp":
                wait_for(f"rsyslog on {port}", lambda p=port: self._accepts(p))

    @staticmethod
    def _accepts(port):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
            return True
        except OSError:
            return False

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(10)
        self.process = None

    def lines(self, name):
        path = os.path.join(self.folder, name + ".log")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        # A line that rsyslog is still writing is left for the next look.
        return text[:text.rfind("\n") + 1].splitlines()


class Collector:
    def __init__(self, folder, forwards, extra=(), port=0, preexec=None):
        self.folder = folder
        self.store = os.path.join(folder, "store")
        self.preexec = preexec
        self.args = [*SILOG, "collect", "--store", self.store, "--tcp", f"127.0.0.1:{port}",
                     "--report", os.environ.get("COLLECT_REPORT", "0")] + list(extra)
        for forward in forwards:
            self.args += ["--forward", forward]
        self.process = None
        self.err = []

    def start(self):
        self.err = []
        self.process = subprocess.Popen(self.args, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        text=True, preexec_fn=self.preexec)
        PROCESSES.append(self.process)
        threading.Thread(target=self._read, args=(self.process,), daemon=True).start()
        # Under Wine the first program of a prefix starts its services first.
        line = wait_for("the collector's port",
                        lambda: next((l for l in self.err if "listening on TCP" in l), None),
                        60 if len(SILOG) > 1 else 10)
        self.port = int(line.rsplit(":", 1)[1])

    def _read(self, process):
        for line in process.stderr:
            self.err.append(line.rstrip("\n"))

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            self.process.wait(20)
            check(self.process.returncode == 0, f"collector exit {self.process.returncode}")
        self.process = None

    def kill(self):
        """Ends the collector outright, as a crash or kill -9 does."""
        self.process.kill()
        self.process.wait()
        self.process = None

    def cpu_seconds(self):
        with open(f"/proc/{self.process.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def state(self):
        """Asks for a report (SIGUSR1) and returns its lines: the totals, then one a
        destination."""
        count = len(self.err)
        self.process.send_signal(signal.SIGUSR1)
        wait_for("a report", lambda: len(self.err) >= count + 1 + sum(
            1 for a in self.args if a == "--forward") and any(
            "clients=" in l for l in self.err[count:]))
        time.sleep(0.05)
        report = self.err[count:]
        start = max(i for i, l in enumerate(report) if "clients=" in l)
        return report[start:]

    def wait_state(self, what, condition, timeout=10.0):
        """Asks for reports until one satisfies condition (given its lines); returns it."""
        return wait_for(what, lambda: (lambda s: s if condition(s) else None)(self.state()),
                        timeout)

    def counter(self, line, name):
        match = re.search(r"\b" + re.escape(name) + r"=(\d+)", line)
        check(match, f"no {name} in {line!r}")
        return int(match.group(1))

    def send(self, titles, app="Praxis", level="message", connections=None):
        connections = connections or f"tcp(host=127.0.0.1, port={self.port})"
        result = subprocess.run([*SILOG, "send", "--connections", connections, "--appname", app,
                                 "--level", level, "--session", "Behandlung", *titles],
                                stdin=subprocess.DEVNULL, text=True,
                                capture_output=True, timeout=30)
        check(result.returncode == 0, f"silog send failed: {result.stderr}")


def parse(line):
    match = LINE.match(line)
    check(match, f"not a whole record: {line!r}")
    pri, time_, host, app, procid, msgid, sd, msg = match.groups()
    params = dict(re.findall(r'(\w+)="((?:[^"\\]|\\.)*)"', sd))
    return {"pri": int(pri), "time": time_, "host": host, "app": app, "procid": procid,
            "msgid": msgid, "sd": params, "msg": msg}


def make_ca(folder, name):
    """A certificate authority and a server certificate for 127.0.0.1 and localhost."""
    def run(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True, cwd=folder)
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", f"/CN={name} CA",
        "-keyout", f"{name}-ca.key", "-out", f"{name}-ca.pem")
    run("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
        f"{name}-server.key", "-out", f"{name}-server.csr")
    with open(os.path.join(folder, "san.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    run("x509", "-req", "-in", f"{name}-server.csr", "-CA", f"{name}-ca.pem", "-CAkey",
        f"{name}-ca.key", "-CAcreateserial", "-days", "2", "-extfile", "san.ext", "-out",
        f"{name}-server.pem")
    return {k: os.path.join(folder, f"{name}-{v}") for k, v in
            (("ca", "ca.pem"), ("cert", "server.pem"), ("key", "server.key"))}


# ---------------------------------------------------------------------------------------------

def case_fields(tmp):
    """Every field arrives as sent over TCP, UDP and TLS; every packet kind is forwarded and
    recognisable; hostile titles cannot start a record of their own. The workstations and the
    collector run in a time zone east of UTC."""
    os.environ["TZ"] = "Europe/Berlin"
    tls = make_ca(tmp, "good")
    rs = Rsyslog(tmp, tls)
    rs.start()
    collector = Collector(tmp, [
        f"syslog(port={rs.ports['tcp']}, facility=local3)",
        f"syslog(port={rs.ports['udp']}, transport=udp, facility=local3)",
        f"syslog(port={rs.ports['tls']}, transport=tls, ca={tls['ca']}, facility=local3)"])
    collector.start()
    hostile = ["plain title", "line one\nline two",
               "forged\n<13>1 2026-01-01T00:00:00Z evilhost evilapp - - - injected",
               "cr\rand nul\x01 and del\x7f and ] \" \\ chars",
               "unicode line\u2028separator and Zahnärztin"]
    collector.send(hostile, app="Praxis App", level="warning")
    feed = subprocess.run([FEED, "--script", f"tcp(host=127.0.0.1, port={collector.port})"],
                          capture_output=True, text=True, timeout=60)
    check(feed.returncode == 0, f"view-feed failed: {feed.stderr}")
    packets = collector.counter(collector.state()[0], "in")
    for name in ("tcp", "udp", "tls"):
        lines = wait_for(f"{name} records",
                         lambda n=name: len(rs.lines(n)) >= packets and rs.lines(n), 15)
        check(len(lines) == packets, f"{name}: {len(lines)} lines for {packets} packets")
        records = [parse(line) for line in lines]
        check(not any(r["host"] == "evilhost" or r["msg"].startswith("injected")
                      for r in records), f"{name}: an injected record")
        ours = [r for r in records if r["app"] == "Praxis_App" and r["msgid"] == "LogEntry"]
        check([r["msg"] for r in ours] == [
            "plain title", "line one\\nline two",
            "forged\\n<13>1 2026-01-01T00:00:00Z evilhost evilapp - - - injected",
            "cr\\rand nul\\x01 and del\\x7F and ] \" \\ chars",
            "unicode line\\u2028separator and Zahnärztin"], f"{name}: titles {ours}")
        first = ours[0]
        check(first["pri"] == 19 * 8 + 4, f"{name}: pri {first['pri']}")
        check(first["host"] == socket.gethostname(), f"{name}: host {first['host']}")
        check(first["procid"].isdigit(), f"{name}: procid {first['procid']}")
        check(re.match(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d+[+-]\d\d:\d\d$", first["time"]),
              f"{name}: time {first['time']}")
        # The workstation's local time with the right offset: the moment it names is now.
        stamp = datetime.datetime.fromisoformat(first["time"])
        check(stamp.utcoffset() != datetime.timedelta(0) and
              abs((datetime.datetime.now(datetime.timezone.utc) - stamp).total_seconds()) < 120,
              f"{name}: time {first['time']}")
        sd = first["sd"]
        check(sd["type"] == "Warning" and sd["session"] == "Behandlung" and
              sd["app"] == "Praxis App" and sd["host"] == first["host"] and
              sd["pid"] == first["procid"] and sd["tid"].isdigit(), f"{name}: sd {sd}")
        quoted = [r for r in ours if r["msg"].startswith("cr")][0]
        check('"' not in quoted["host"], f"{name}: header {quoted}")
        kinds = {r["msgid"] for r in records}
        check(kinds == {"LogHeader", "LogEntry", "Watch", "ProcessFlow", "ControlCommand"},
              f"{name}: kinds {kinds}")
        check({r["sd"]["type"] for r in records if r["msgid"] == "ControlCommand"} ==
              {"ClearLog", "ClearWatches", "ClearAutoViews", "ClearAll", "ClearProcessFlow"},
              f"{name}: control commands")
        severities = {r["sd"]["type"]: r["pri"] % 8 for r in records if r["msgid"] == "LogEntry"}
        check(severities.get("Error") == 3 and severities.get("Fatal") == 2 and
              severities.get("Debug") == 7 and severities.get("Message") == 6,
              f"{name}: severities {severities}")
    collector.stop()
    rs.stop()


def case_protocol(tmp):
    """The library's syslog protocol, straight to rsyslog over TCP and UDP; a receiver that
    restarted between two messages gets the second one too."""
    rs = Rsyslog(tmp)
    rs.start()
    for transport in ("tcp", "udp"):
        result = subprocess.run(
            [*SILOG, "send", "--connections",
             f"syslog(port={rs.ports[transport]}, transport={transport}, facility=local0)",
             "--appname", "Praxis", "--level", "error", f"via {transport}", "second\nline"],
            capture_output=True, text=True, timeout=30)
        check(result.returncode == 0, f"silog send: {result.stderr}")
        lines = wait_for(transport, lambda t=transport: len(rs.lines(t)) >= 2 and rs.lines(t))
        records = [parse(line) for line in lines]
        check([r["msg"] for r in records] == [f"via {transport}", "second\\nline"],
              f"{transport}: {records}")
        check(all(r["pri"] == 16 * 8 + 3 and r["app"] == "Praxis" and r["msgid"] == "LogEntry"
                  and r["sd"]["type"] == "Error" for r in records), f"{transport}: {records}")
    rs.stop()


def numbered(first, count, width=40):
    return [f"msg {i:06d} " + "x" * width for i in range(first, first + count)]


def received_numbers(rs):
    return [int(parse(l)["msg"].split()[1]) for l in rs.lines("tcp")
            if parse(l)["msgid"] == "LogEntry"]


def case_restart(tmp):
    """The destination stopped and started mid-run, and the collector restarted while the
    destination is down: nothing is lost within the queue's bound, and order is kept."""
    rs = Rsyslog(tmp)
    rs.start()
    collector = Collector(tmp, [f"syslog(port={rs.ports['tcp']}, retry=0)"])
    collector.start()
    collector.send(numbered(0, 500))
    wait_for("first run", lambda: len(received_numbers(rs)) >= 500)
    rs.stop()
    collector.send(numbered(500, 500))
    dest = collector.wait_state("queued", lambda s: collector.counter(s[1], "queued") >= 500)
    check(" down " in dest[1], f"state while down: {dest[1]}")
    collector.stop()
    # The collector comes back before the destination: its queue is still on disk.
    collector.start()
    collector.send(numbered(1000, 500))
    rs.start()
    wait_for("all", lambda: set(range(1500)) <= set(received_numbers(rs)), 20)
    numbers = received_numbers(rs)
    # Messages sent just before a loss may arrive twice; none out of order otherwise.
    unique = list(dict.fromkeys(numbers))
    check(unique == list(range(1500)), "order")
    # What went out stays resendable for a second, then counts as delivered.
    state = collector.wait_state("confirmed", lambda s: collector.counter(s[1], "queued") == 0)
    check(collector.counter(state[1], "dropped") == 0, f"state {state}")
    print(f"restart: {len(numbers) - 1500} duplicates")
    collector.stop()
    rs.stop()


def queued_bytes(line):
    return int(re.search(r"queued=\d+ \((\d+) bytes\)", line).group(1))


def case_full_queue(tmp):
    """A full queue drops the oldest, counts them, and sends the rest in order."""
    rs = Rsyslog(tmp)
    collector = Collector(tmp, [f"syslog(port={rs.ports['tcp']}, queue=64, retry=0)"])
    collector.start()
    sent = 3000
    collector.send(numbered(0, sent, width=100))
    # Everything has arrived and gone from memory to the queue on disk, whose bound it passed.
    state = collector.wait_state("spilled", lambda s: collector.counter(s[0], "in") >= sent + 1
                                 and collector.counter(s[1], "queued") +
                                 collector.counter(s[1], "dropped") >= sent + 1
                                 and queued_bytes(s[1]) <= 64 * 1024)
    dropped = collector.counter(state[1], "dropped")
    check(dropped > 0, f"nothing dropped: {state}")
    rs.start()
    wait_for("the rest", lambda: collector.counter(collector.state()[1], "queued") == 0, 15)
    numbers = wait_for("the rest received", lambda: (lambda n: n if n and n[-1] == sent - 1
                                                      else None)(received_numbers(rs)))
    check(numbers == sorted(numbers) and len(set(numbers)) == len(numbers), "order")
    # Everything is accounted for: the log header and the messages, received or dropped.
    final = collector.state()
    check(collector.counter(final[1], "dropped") == dropped, f"dropped later: {final}")
    check(len(rs.lines("tcp")) + dropped == sent + 1,
          f"{len(rs.lines('tcp'))} received + {dropped} dropped != {sent + 1}: {final}")
    check(numbers[0] > 0, "the oldest were kept")
    collector.stop()


def case_tls_verify(tmp):
    """A receiver whose certificate does not chain to the given authority gets nothing, and
    the state says why."""
    good = make_ca(tmp, "good")
    other = make_ca(tmp, "other")
    rs = Rsyslog(tmp, good)
    rs.start()
    collector = Collector(tmp, [
        f"syslog(port={rs.ports['tls']}, transport=tls, ca={other['ca']}, retry=0)",
        f"syslog(port={rs.ports['tls']}, transport=tls, ca={good['ca']}, servername=wrong.name,"
        " retry=0)"])
    collector.start()
    collector.send(["secret patient 1~5"])
    state = collector.wait_state("errors", lambda s: "error=" in s[1] and "error=" in s[2])
    check("certificate" in state[1] and "certificate" in state[2], f"state {state}")
    check(collector.counter(state[1], "out") == 0 and collector.counter(state[2], "out") == 0,
          f"state {state}")
    check(not rs.lines("tls"), "a record arrived")
    collector.stop()
    rs.stop()


def case_json(tmp):
    """JSON lines: silog dump's objects for the same packets, plus their source."""
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen()
    received = []

    def serve():
        connection, _ = server.accept()
        data = b""
        while True:
            chunk = connection.recv(65536)
            if not chunk:
                break
            data += chunk
            received[:] = data.decode().splitlines()
    threading.Thread(target=serve, daemon=True).start()
    collector = Collector(tmp, [f"json(port={server.getsockname()[1]})"])
    collector.start()
    collector.send(["one", "two\nlines"], app="Praxis")
    wait_for("json lines", lambda: len(received) >= 3)
    collector.stop()
    files = [os.path.join(d, f) for d, _, fs in os.walk(collector.store) for f in fs
             if f.endswith(".sil")]
    dump = subprocess.run([*SILOG, "dump", "--format", "json", *files], capture_output=True,
                          text=True, timeout=30).stdout.splitlines()
    objects = [json.loads(line) for line in received]
    for obj in objects:
        check(obj.pop("source") == {"hostName": socket.gethostname(), "appName": "Praxis"},
              f"source of {obj}")
    check(objects == [json.loads(line) for line in dump], f"{objects} != {dump}")


def case_store(tmp):
    """Files per host and application, rotated by size, the newest kept, the old deleted by
    age; all readable by silog dump."""
    host_dir = os.path.join(tmp, "store", "oldhost")
    os.makedirs(host_dir)
    old = os.path.join(host_dir, "App-2020-01-01-00-00-00.sil")
    newest = os.path.join(host_dir, "App-2020-01-02-00-00-00.sil")
    for path in (old, newest):
        with open(path, "wb") as f:
            f.write(b"SILF")
        os.utime(path, (0, 0))
    collector = Collector(tmp, [], ["--max-file", "4kb", "--max-files", "3", "--keep-days", "1"])
    collector.start()
    check(not os.path.exists(old) and os.path.exists(newest), "age retention")
    collector.send(numbered(0, 400), app="App A")
    collector.send(["only one"], app="../../App B")
    collector.stop()
    host = os.path.join(collector.store, socket.gethostname())
    files = sorted(os.listdir(host))
    a_files = [f for f in files if f.startswith("App_A-")]
    b_files = [f for f in files if f.startswith("_._.._App_B-")]
    check(len(a_files) == 3 and len(b_files) == 1 and len(files) == 4, f"files {files}")
    for name in a_files:
        check(os.path.getsize(os.path.join(host, name)) <= 4096, f"size of {name}")
    dump = subprocess.run([*SILOG, "dump", *[os.path.join(host, f) for f in a_files]],
                          capture_output=True, text=True, timeout=30)
    titles = [l.split(": ", 1)[1] for l in dump.stdout.splitlines() if ": msg " in l]
    check(titles and titles[-1] == numbered(399, 1)[0] and
          titles == numbered(400 - len(titles), len(titles)), "the newest files hold the end")


def case_wine(tmp):
    """silog.exe under Wine: it starts, takes a client, stores its packets in a file that
    silog dump reads, and forwards them to a JSON receiver on loopback."""
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen()
    received = []

    def serve():
        while True:
            connection, _ = server.accept()
            data = b""
            while chunk := connection.recv(65536):
                data += chunk
                received[:] = data.decode().splitlines()
    threading.Thread(target=serve, daemon=True).start()
    collector = Collector(tmp, [f"json(port={server.getsockname()[1]})"])
    collector.start()
    collector.send(["from wine 1", "from wine 2"], app="Praxis")
    try:
        wait_for("json lines", lambda: len(received) >= 3, 30)
    except AssertionError:
        print("\n".join(collector.err))
        raise
    objects = [json.loads(line) for line in received]
    check([o.get("title") for o in objects[1:]] == ["from wine 1", "from wine 2"],
          f"received {objects}")
    check(objects[1]["source"]["appName"] == "Praxis", f"source {objects[1]}")
    files = [os.path.join(d, f) for d, _, fs in os.walk(collector.store) for f in fs
             if f.endswith(".sil")]
    check(len(files) == 1, f"files {files}")
    dump = subprocess.run([*SILOG, "dump", files[0]], capture_output=True, text=True,
                          timeout=60).stdout
    check("from wine 1" in dump and "from wine 2" in dump, f"dump {dump}")
    collector.process.kill()
    collector.process.wait()


def packets_of(path):
    """The binary packets of a log file, each as bytes (type, length, body)."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:4] == b"SILF", f"not a log file: {path}")
    packets, at = [], 4
    while at + 6 <= len(data):
        size = 6 + int.from_bytes(data[at + 2:at + 6], "little")
        packets.append(data[at:at + size])
        at += size
    return packets


class AckClient(threading.Thread):
    """A workstation that speaks the wire protocol itself and records which of its packets the
    collector acknowledged. It sends a few packets ahead, reconnects when the connection
    breaks and sends again what was not acknowledged."""

    def __init__(self, port, entries, titles, pace=0.001, window=4):
        super().__init__(daemon=True)
        self.port, self.entries, self.titles = port, entries, titles
        self.pace, self.window = pace, window
        self.acked = []
        self.next = 0
        self.stop = False
        self.connections = 0

    def run(self):
        while not self.stop and self.next < len(self.entries):
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=5) as conn:
                    self.serve(conn)
            except OSError:
                time.sleep(0.05)

    def serve(self, conn):
        banner = b""
        while not banner.endswith(b"\n"):
            chunk = conn.recv(1)
            if not chunk:
                raise OSError("closed before the banner")
            banner += chunk
        conn.sendall(b"SiLog ack client\n")
        self.connections += 1
        # From the first entry not acknowledged.
        queue = list(range(self.next, len(self.entries)))
        sent = 0
        waiting = []
        while (queue or waiting) and not self.stop:
            while queue and len(waiting) < self.window:
                item = queue.pop(0)
                conn.sendall(self.entries[item])
                waiting.append(item)
                sent += 1
            ack = b""
            while len(ack) < 2:
                chunk = conn.recv(2 - len(ack))
                if not chunk:
                    raise OSError("closed")
                ack += chunk
            item = waiting.pop(0)
            self.acked.append(self.titles[item])
            self.next = item + 1
            time.sleep(self.pace)


def make_entries(tmp, name, count):
    path = os.path.join(tmp, name + ".sil")
    titles = [f"{name} n{i:05d}" for i in range(count)]
    result = subprocess.run([*SILOG, "send", "--connections", f'file(filename="{path}")',
                             "--appname", name, *titles], capture_output=True, text=True,
                            timeout=60)
    check(result.returncode == 0, result.stderr)
    # A file holds the entries only (wire type 4), each with its host and application.
    entries = [p for p in packets_of(path) if p[:2] == b"\x04\x00"]
    check(len(entries) == count, f"{len(entries)} entries for {count} titles")
    return entries, titles


def store_titles(store):
    files = [os.path.join(d, f) for d, _, fs in os.walk(store) for f in fs if f.endswith(".sil")]
    dump = subprocess.run([*SILOG, "dump", "--format", "json", *files], capture_output=True,
                          text=True, timeout=60).stdout.splitlines()
    return [json.loads(line).get("title") for line in dump]


def case_kill9(tmp):
    """Clients log while the collector is killed outright, again and again, with the
    destination up and then down: every packet a client saw acknowledged reaches the
    destination and the store."""
    rs = Rsyslog(tmp)
    rs.start()
    port = free_fixed_port()
    collector = Collector(tmp, [f"syslog(port={rs.ports['tcp']}, retry=0)"], port=port)
    clients = []
    for c in range(3):
        entries, titles = make_entries(tmp, f"ws{c}", 3000)
        clients.append(AckClient(port, entries, titles))
    collector.start()
    for client in clients:
        client.start()
    kills = 0
    for phase in ("up", "up", "up", "down", "down"):
        if phase == "down" and rs.process:
            rs.stop()
        time.sleep(0.6)
        collector.kill()
        kills += 1
        collector.start()
    rs.start()
    for client in clients:
        client.join(120)
        check(not client.is_alive(), "a client did not finish")
    acked = [t for client in clients for t in client.acked]
    check(len(acked) == 3 * 3000, f"{len(acked)} acknowledged")
    wait_for("everything acknowledged at the destination",
             lambda: set(acked) <= {parse(l)["msg"] for l in rs.lines("tcp")}, 30)
    collector.stop()
    received = [parse(l)["msg"] for l in rs.lines("tcp")]
    stored = store_titles(collector.store)
    missing = set(acked) - set(stored)
    check(not missing, f"{len(missing)} acknowledged but not stored, e.g. {sorted(missing)[:3]}")
    print(f"kill9: {kills} kills, {sum(c.connections for c in clients)} connections, "
          f"{len(received) - len(set(received))} duplicates at the destination")
    rs.stop()


def case_relp(tmp):
    """RELP to rsyslog's imrelp, rsyslog restarted mid-run: nothing lost, order kept."""
    rs = Rsyslog(tmp, relp=True)
    rs.start()
    collector = Collector(tmp, [f"relp(port={rs.ports['relp']}, retry=0)"])
    collector.start()
    collector.send(numbered(0, 500))
    wait_for("first part", lambda: len(relp_numbers(rs)) >= 500)
    rs.stop()
    collector.send(numbered(500, 500))
    rs.start()
    collector.send(numbered(1000, 500))
    wait_for("all", lambda: set(range(1500)) <= set(relp_numbers(rs)), 30)
    numbers = relp_numbers(rs)
    check(list(dict.fromkeys(numbers)) == list(range(1500)), "order")
    # Idle: the session is closed in order, which confirms every message.
    state = collector.wait_state("confirmed", lambda s: collector.counter(s[1], "queued") == 0,
                                 15)
    check(collector.counter(state[1], "confirmed") == collector.counter(state[0], "in"),
          f"state {state}")
    print(f"relp: {len(numbers) - 1500} duplicates")
    collector.stop()
    rs.stop()


def relp_numbers(rs):
    return [int(parse(l)["msg"].split()[1]) for l in rs.lines("relp")
            if parse(l)["msgid"] == "LogEntry"]


def case_damaged_queue(tmp):
    """A queue damaged while the collector was down: it starts, names what it skipped,
    delivers every other message with its own framing, and does not spin when idle."""
    rs = Rsyslog(tmp)
    collector = Collector(tmp, [f"syslog(port={rs.ports['tcp']}, retry=0, queue=256)"])
    collector.start()
    collector.send(numbered(0, 300, width=100))
    wait_for("queued", lambda: collector.counter(collector.state()[1], "queued") >= 301)
    collector.stop()
    queue = next(os.path.join(d) for d, _, fs in os.walk(collector.store) if any(
        f.endswith(".seg") for f in fs))
    segments = sorted((f for f in os.listdir(queue) if f.endswith(".seg")),
                      key=lambda f: int(f.split(".")[0]))
    check(len(segments) >= 3, f"segments {segments}")
    # A flipped low bit in the length of a record in the middle of the second segment.
    target = os.path.join(queue, segments[1])
    with open(target, "r+b") as f:
        data = f.read()
        at = data.index(b"\xd5\x51", len(data) // 2)
        f.seek(at + 2)
        f.write(bytes([data[at + 2] ^ 1]))
    collector.start()
    rs.start()
    check(any(segments[1] in l for l in collector.err), f"not named: {collector.err}")
    wait_for("delivered", lambda: collector.counter(collector.state()[1], "queued") == 0, 20)
    numbers = received_numbers(rs)
    check(numbers == sorted(numbers) and len(numbers) == len(set(numbers)), "order")
    check(len(numbers) == 299, f"{len(numbers)} of the 300 arrived")
    check(all(len(parse(l)["msg"]) == len(numbered(0, 1, 100)[0]) for l in rs.lines("tcp")
              if parse(l)["msgid"] == "LogEntry"), "a message arrived garbled")
    state = collector.state()
    check(collector.counter(state[1], "damaged") == 1, f"state {state}")
    # Idle: nothing to send, nothing to spin on.
    before = collector.cpu_seconds()
    time.sleep(2)
    check(collector.cpu_seconds() - before < 0.2, "the collector spins while idle")
    collector.send(["after the damage"])
    wait_for("a new message", lambda: any("after the damage" in l for l in rs.lines("tcp")))
    collector.stop()
    rs.stop()


def case_full_store(tmp):
    """A store whose disk is full (a file size limit stands in for it): forwarding goes on,
    the error is counted and said once with its path and the system's reason."""
    import resource

    def limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (48 * 1024, 48 * 1024))

    rs = Rsyslog(tmp)
    rs.start()
    collector = Collector(tmp, [f"syslog(port={rs.ports['tcp']}, retry=0, queue=128)"],
                          preexec=limit)
    collector.start()
    collector.send(numbered(0, 1000, width=60))
    wait_for("forwarded", lambda: len(received_numbers(rs)) >= 1000, 20)
    state = collector.state()
    errors = collector.counter(state[0], "store-errors")
    check(errors > 0 and collector.counter(state[0], "stored") + errors >= 1001, f"{state}")
    said = [l for l in collector.err if l.startswith("silog collect: cannot store")]
    check(len(said) == 1, f"said {len(said)} times: {said[:3]}")
    check("File too large" in said[0] and collector.store in said[0], said[0])
    collector.stop()
    rs.stop()


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}

if __name__ == "__main__":
    name = sys.argv[2]
    tmp = tempfile.mkdtemp(prefix=f"collect-{name}-")
    try:
        CASES[name](tmp)
        print(f"collect {name}: passed")
    finally:
        for process in PROCESSES:
            if process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(tmp, ignore_errors=True)
