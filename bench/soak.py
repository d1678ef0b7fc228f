#!/usr/bin/python3
"""The soak driver behind bench/soak.sh: a broker, the simulated server and
the service in a scratch folder, all fifteen request queues kept busy (a
backlog of BACKLOG requests each) with quotes pushed beside them, for the
given minutes. Prints the service's resident memory, open descriptors and
threads (from /proc) at the start, every minute and at the end, with the
requests answered and the CPU share of the service and of the simulated
server since the last line, then a verdict on growth: the memory, the
descriptors and the threads of the last minutes against the first minutes
after warm-up. Stops everything it started.

    MT4BRIDGE_BUILD=build bench/soak.py [minutes] [--drop-every SECONDS] [--keep]

Exit status 0 when every request was answered, no money moved twice or was
lost, the service stopped cleanly and nothing grew; 1 otherwise."""
import argparse
import os
import shutil
import sys
import tempfile
import threading
import time

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))
sys.path.insert(0, os.path.join(TOP, "tools"))

from fixtures.broker import Broker  # noqa: E402
from fixtures.service import Service  # noqa: E402
from fixtures.sim import Sim, default_state  # noqa: E402
from fixtures.traffic import KEYS, MONEY_LOGINS, QueueLink, Traffic, push_quotes  # noqa: E402

BACKLOG = 2            # requests waiting or running per queue
QUOTE_PAUSE_S = 0.1
SAMPLE_S = 60
DRAIN_TIMEOUT_S = 120  # for the last replies once the traffic stops
# Growth judged between the minutes after warm-up and the last minutes.
WARMUP_MIN = 2
WINDOW_SAMPLES = 2
RSS_GROWTH_LIMIT_KIB = 8 * 1024
RSS_GROWTH_LIMIT_SHARE = 0.10
COUNT_GROWTH_LIMIT = 2  # descriptors or threads


def proc_figures(pid):
    """(resident KiB, open descriptors, threads) of a live process."""
    rss = threads = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
            elif line.startswith("Threads:"):
                threads = int(line.split()[1])
    return rss, len(os.listdir("/proc/%d/fd" % pid)), threads


def cpu_seconds(pid):
    """User plus system CPU time of a live process."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Driver:
    """Keeps every request queue BACKLOG deep over one broker connection and
    gathers the replies into a Traffic record."""

    def __init__(self, svc):
        # A short tag: a money request's serial is its comment on the server,
        # which keeps 31 characters.
        self.traffic = Traffic("s%05d" % (int(time.time()) % 100000))
        self.link = QueueLink(svc)
        self.waiting = {k: 0 for k in KEYS}
        self.answered = 0
        self.failed = 0

    def top_up(self):
        batch = []
        for key in KEYS:
            while self.waiting[key] < BACKLOG:
                batch.append(self.traffic.one(key))
                self.waiting[key] += 1
        self.link.send(self.traffic, batch)

    def gather(self):
        serials = self.link.gather(self.traffic)
        for serial in set(serials):
            replies = self.traffic.replies[serial]
            if len(replies) == serials.count(serial):  # its first answer
                self.waiting[self.traffic.sent[serial][0]] -= 1
                self.answered += 1
                self.failed += replies[0]["code"] != 200
        return len(serials)

    def drain(self, timeout):
        """Gathers until every request is answered or timeout passes."""
        deadline = time.monotonic() + timeout
        while any(self.waiting.values()) and time.monotonic() < deadline:
            if not self.gather():
                time.sleep(0.05)
        return not any(self.waiting.values())

    def close(self):
        self.link.close()


def mib(kib):
    return kib / 1024.0


def verdict(samples):
    """One line judging growth from the samples (minute, rss, fds, threads)
    taken after warm-up; (line, grew)."""
    steady = [s for s in samples if s[0] >= WARMUP_MIN]
    if len(steady) < 2 * WINDOW_SAMPLES:
        return "verdict: too short to judge growth (run at least %d minutes)" % (
            WARMUP_MIN + 2 * WINDOW_SAMPLES - 1), False
    first, last = steady[:WINDOW_SAMPLES], steady[-WINDOW_SAMPLES:]

    def mean(rows, i):
        return sum(r[i] for r in rows) / len(rows)

    rss_growth = mean(last, 1) - mean(first, 1)
    minutes = mean(last, 0) - mean(first, 0)
    grows = []
    if rss_growth > max(RSS_GROWTH_LIMIT_KIB, RSS_GROWTH_LIMIT_SHARE * mean(first, 1)):
        grows.append("memory")
    if max(r[2] for r in last) > max(r[2] for r in first) + COUNT_GROWTH_LIMIT:
        grows.append("descriptors")
    if max(r[3] for r in last) > max(r[3] for r in first) + COUNT_GROWTH_LIMIT:
        grows.append("threads")
    requests = mean(last, 4) - mean(first, 4)
    figures = ("RSS %+.1f MiB over %.0f min (%.0f KiB/min, %.2f KiB per request), "
               "fds %d -> %d, threads %d -> %d") % (
        mib(rss_growth), minutes, rss_growth / minutes if minutes else 0,
        rss_growth / requests if requests else 0,
        first[0][2], last[-1][2], first[0][3], last[-1][3])
    if grows:
        return "verdict: GROWTH (%s): %s" % (", ".join(grows), figures), True
    return "verdict: steady: %s" % figures, False


def run(minutes, drop_every, folder):
    broker = Broker(os.path.join(folder, "broker"))
    sim = Sim(os.path.join(folder, "sim"), default_state())
    svc = None
    driver = None
    stop_quotes = threading.Event()
    quotes = threading.Thread(target=push_quotes, args=(sim, stop_quotes, QUOTE_PAUSE_S),
                              daemon=True)
    ok = True
    try:
        broker.start()
        sim.start()
        start_balances = {u["login"]: u["balance"] for u in sim.state()["users"]}
        svc = Service(folder, broker, sim,
                      overrides={"pumpUpdateBidAsk": 1})
        svc.start()
        pid = svc.process.pid
        print("soak: %g min, service pid %d, folder %s" % (minutes, pid, folder), flush=True)
        print("%6s %10s %5s %8s %9s %7s %6s %8s %8s" % (
            "minute", "RSS MiB", "fds", "threads", "answered", "per min", "failed", "svc CPU%",
            "sim CPU%"), flush=True)

        samples = []
        last = {"answered": 0, "at": time.monotonic(), "svc": cpu_seconds(pid),
                "sim": cpu_seconds(sim.process.pid)}

        def sample(minute):
            rss, fds, threads = proc_figures(pid)
            answered = driver.answered if driver else 0
            now, svc_cpu, sim_cpu = time.monotonic(), cpu_seconds(pid), cpu_seconds(sim.process.pid)
            wall = max(now - last["at"], 1e-9)
            samples.append((minute, rss, fds, threads, answered))
            print("%6.1f %10.1f %5d %8d %9d %7d %6d %8.0f %8.0f" % (
                minute, mib(rss), fds, threads, answered, answered - last["answered"],
                driver.failed if driver else 0, 100 * (svc_cpu - last["svc"]) / wall,
                100 * (sim_cpu - last["sim"]) / wall), flush=True)
            last.update(answered=answered, at=now, svc=svc_cpu, sim=sim_cpu)

        sample(0)
        driver = Driver(svc)
        quotes.start()
        began = time.monotonic()
        end = began + minutes * 60
        next_sample = began + SAMPLE_S
        next_drop = began + drop_every if drop_every else None
        while time.monotonic() < end:
            driver.top_up()
            if not driver.gather():
                time.sleep(0.05)
            now = time.monotonic()
            if next_drop and now >= next_drop:
                sim.checked({"cmd": "drop"})
                next_drop += drop_every
            if now >= next_sample:
                sample(round((now - began) / 60.0, 1))
                next_sample += SAMPLE_S
            if svc.process.poll() is not None:
                print("soak: the service ended (%s)" % svc.process.returncode)
                return False
        stop_quotes.set()
        drained = driver.drain(DRAIN_TIMEOUT_S)
        sample(round((time.monotonic() - began) / 60.0, 1))
        line, grew = verdict(samples)

        traffic = driver.traffic
        unanswered = sum(driver.waiting.values())
        doubled, lost = traffic.doubled_and_lost(sim)
        # The balances are known only when every movement was carried out.
        money_failed = sum(1 for s, (k, _) in traffic.sent.items()
                           if k in ("tradeTransInfo", "importTrade") and
                           not any(r["code"] == 200 for r in traffic.replies.get(s, [])))
        balances = {u["login"]: u["balance"] for u in sim.state()["users"]}
        expected = traffic.expected_balances(start_balances)
        balanced = all(abs(balances[l] - expected[l]) < 1e-6 for l in MONEY_LOGINS)
        if money_failed:
            balance_text = "not checked (%d money requests failed)" % money_failed
        else:
            balance_text = "as expected" if balanced else "WRONG"
        status = svc.stop()
        print("requests: %d sent, %d answered (%d failed), %d unanswered; money: doubled %d, "
              "lost %d, balances %s; service exit %s" % (
                  len(traffic.sent), driver.answered, driver.failed, unanswered, doubled, lost,
                  balance_text, status), flush=True)
        print(line, flush=True)
        ok = (drained and not grew and doubled == 0 and lost == 0 and
              (balanced or money_failed > 0) and status == 0)
        return ok
    finally:
        stop_quotes.set()
        if quotes.is_alive():
            quotes.join()
        if driver is not None:
            driver.close()
        if svc is not None:
            svc.stop()
        sim.stop()
        broker.stop()


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("minutes", nargs="?", type=float, default=10)
    p.add_argument("--drop-every", type=float, default=0,
                   help="drop every server connection this often (seconds; 0: never)")
    p.add_argument("--keep", action="store_true", help="keep the scratch folder")
    a = p.parse_args()
    folder = tempfile.mkdtemp(prefix="mt4bridge-soak-")
    try:
        ok = run(a.minutes, a.drop_every, folder)
    finally:
        if a.keep:
            print("soak: kept %s" % folder)
        else:
            shutil.rmtree(folder, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
