"""The trading-server link against the real simulated server: the two
manager connections, the reconnection thread and the pumping handler,
run by link_harness with the plugin loaded from ../libs/mtmanapi.so."""
import itertools
import json
import os
import re
import select
import subprocess
import threading
import time

import pytest

from fixtures.history import read_history
from fixtures.process import Process, stopped_at_teardown
from fixtures.sim import MANAGER_LOGIN, MANAGER_PASSWORD, build_dir
from fixtures.wait import wait_until

START_TIMEOUT_S = 15.0
STOP_TIMEOUT_S = 15.0
# The reconnection thread checks the links every 10 s; a lost link is seen
# within one cycle, plus margin for a busy machine.
CYCLE_TIMEOUT_S = 25.0

CONNECTED = [
    "ExtManagerPump reconnect start",
    "ExtManagerPump reconnect",
    "ExtManagerPump reconnect end",
    "manager reconnect start",
    "manager reconnect",
    "manager reconnect end",
]


def harness_binary():
    return os.path.join(build_dir(), "tests", "harness", "link_harness")


class LinkHarness(Process):
    """One link_harness process in its own folder layout:
    <root>/libs/mtmanapi.so, <root>/log/mt4, <root>/work (working dir)."""

    def __init__(self, root, plugin, settings, balances=None, identities=None):
        super().__init__("link_harness")
        self.root = str(root)
        self.work = os.path.join(self.root, "work")
        os.makedirs(self.work)
        os.makedirs(os.path.join(self.root, "libs"))
        self.logdir = os.path.join(self.root, "log", "mt4")
        os.makedirs(self.logdir)
        os.symlink(plugin, os.path.join(self.root, "libs", "mtmanapi.so"))
        with open(os.path.join(self.work, "config.ini"), "w") as out:
            json.dump(settings, out)
        if balances is not None:
            with open(self.balance_path, "w") as out:
                json.dump(balances, out)
        if identities is not None:
            with open(self.identity_path, "w") as out:
                json.dump(identities, out)
        self.lines = []
        self._cond = threading.Condition()
        self.spawn([harness_binary()], cwd=self.work, stdin=subprocess.DEVNULL,
                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        self.wait_line(lambda l: l == "harness ready", START_TIMEOUT_S)

    @property
    def balance_path(self):
        return os.path.join(self.work, "financeBalanceHistory")

    @property
    def identity_path(self):
        return os.path.join(self.work, "userInfo")

    def _read(self):
        for raw in self.process.stdout:
            with self._cond:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self._cond.notify_all()

    def wait_line(self, predicate, timeout, start=0):
        """Index of the first line from `start` on that satisfies predicate;
        fails the test after timeout seconds."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for i in range(start, len(self.lines)):
                    if predicate(self.lines[i]):
                        return i
                left = deadline - time.monotonic()
                if left <= 0 or self.process.poll() is not None and \
                        not self._reader.is_alive():
                    pytest.fail("no matching line in %.0f s; output:\n%s"
                                % (timeout, "\n".join(self.lines[start:])))
                self._cond.wait(min(left, 0.2))

    def output(self, start=0):
        with self._cond:
            return list(self.lines[start:])

    def wait_connected(self, start=0, timeout=START_TIMEOUT_S):
        """Waits until both managers are restored after `start`; returns the
        index of the normal manager's end line."""
        end = self.wait_line(lambda l: l == "manager reconnect end", timeout, start)
        return end

    def closed(self):
        self._reader.join(STOP_TIMEOUT_S)

    def tail(self):
        return "\n".join(self.output()[-60:])


@pytest.fixture
def link_factory(tmp_path):
    """Starts link harnesses against a sim: link_factory(sim, **options);
    every one is stopped at the end of the test."""
    numbers = itertools.count()

    def make(sim, password=MANAGER_PASSWORD, bid_ask=0, balances=None,
             identities=None):
        settings = {"server": sim.address, "login": MANAGER_LOGIN,
                    "password": password}
        if bid_ask is not None:
            settings["pumpUpdateBidAsk"] = bid_ask
        return LinkHarness(tmp_path / ("link%d" % next(numbers)),
                           sim.plugin_path, settings, balances, identities)

    # A clean shut-down (a bad exit fails the test: fixtures/process.py).
    for harness in (yield from stopped_at_teardown(make)):
        assert harness.output()[-1:] == ["harness stopped"], harness.tail()


def logins(sim_calls, call):
    return [c for c in sim_calls if c["call"] == call]


def pumping_sessions(sim_calls):
    return {c["session"] for c in sim_calls
            if c["call"] == "PumpingSwitchEx" and c["result"] == 0}


@pytest.mark.parametrize("bid_ask,flags", [(1, 0), (0, 11), (None, 11)])
def test_first_cycle_connects_pumping_then_normal(sim, link_factory, bid_ask,
                                                  flags):
    link = link_factory(sim, bid_ask=bid_ask)
    link.wait_connected()
    out = [l for l in link.output() if not l.startswith("pump ")]
    assert out[1:7] == CONNECTED

    calls = sim.calls()
    switched = [c for c in calls if c["call"] == "PumpingSwitchEx"]
    assert len(switched) == 1 and switched[0]["args"]["flags"] == flags
    pumping = switched[0]["session"]
    good = [c for c in calls if c["call"] == "Login" and c["result"] == 0]
    assert [c["session"] == pumping for c in good] == [True, False]
    # The pumping manager was switched before the normal one logged in.
    assert switched[0]["seq"] < good[1]["seq"]

    # The server lists the pumping connection once it has taken it over,
    # which may be just after the plugin has its acknowledgement.
    def both_listed():
        clients = sim.clients()
        return clients if sorted(c["pumping"] for c in clients) == [False, True] else None

    clients = wait_until(both_listed, 10, "one normal and one pumping client on the server")
    assert [c["flags"] for c in clients if c["pumping"]] == [flags]
    # Only the normal manager writes a success line.
    assert link.log_lines() == ["Connect to %s success" % sim.address]


def test_refused_password_is_retried_and_never_shown(sim, link_factory):
    wrong = "Wr0ng-Secret"
    link = link_factory(sim, password=wrong)
    line = "Connect to %d as '***' failed (invalid login or password)" \
        % MANAGER_LOGIN
    assert wait_until(lambda: link.log_lines().count(line) >= 5, START_TIMEOUT_S), \
        link.log_lines()
    # The pumping manager is restored first: the normal one is not tried
    # while it fails.
    assert "manager reconnect start" not in link.output()
    assert link.output().count("ExtManagerPump reconnect") >= 5

    # The server accepts the password now: both connect without a restart.
    sim.checked({"cmd": "password", "login": MANAGER_LOGIN,
                 "password": wrong})
    link.wait_connected()
    link.stop()
    everything = "\n".join(link.output() + link.log_lines())
    assert wrong not in everything
    assert all(l == line or l.startswith("Connect to %s success" % sim.address)
               for l in link.log_lines())


def test_lost_server_is_reconnected_when_it_returns(sim, link_factory):
    link = link_factory(sim)
    first = link.wait_connected() + 1
    sim.kill()
    # The next cycle finds the pumping link down and keeps retrying.
    start = link.wait_line(lambda l: l == "ExtManagerPump reconnect start",
                           CYCLE_TIMEOUT_S, first)
    failed = "Connect to %s failed" % sim.address
    assert wait_until(lambda: link.log_lines().count(failed) >= 3, START_TIMEOUT_S), \
        link.log_lines()

    sim.start()  # same ports
    link.wait_connected(start, START_TIMEOUT_S)
    out = [l for l in link.output(start) if not l.startswith("pump ")]
    # Pumping first, then the normal manager whose link died with it.
    resumed = out.index("ExtManagerPump reconnect end")
    assert set(out[:resumed]) == {"ExtManagerPump reconnect start",
                                  "ExtManagerPump reconnect"}
    assert out[resumed + 1:resumed + 4] == CONNECTED[3:]
    assert link.running()
    clients = sim.clients()
    assert sorted(c["pumping"] for c in clients) == [False, True]


def test_normal_manager_failing_ping_is_reconnected(sim, link_factory):
    link = link_factory(sim)
    first = link.wait_connected() + 1
    sim.calls(clear=True)
    sim.script("Ping", [2])
    start = link.wait_line(lambda l: l == "manager reconnect start",
                           CYCLE_TIMEOUT_S, first)
    link.wait_line(lambda l: l == "manager reconnect end", START_TIMEOUT_S,
                   start)
    assert "ExtManagerPump reconnect start" not in link.output(first)
    calls = [c for c in sim.calls() if c["call"] in ("Ping", "Connect",
                                                     "Login")]
    assert [(c["call"], c["result"]) for c in calls[:3]] == [
        ("Ping", 2), ("Connect", 0), ("Login", 0)]
    # The server drops the replaced connection once it sees it closed.
    wait_until(lambda: sorted(c["pumping"] for c in sim.clients()) == [False, True], 10,
               "one normal and one pumping client on the server")


def test_balance_and_account_events_reach_the_stores(sim, link_factory):
    remembered = {"serial": "s-1", "comment": "e2e deposit", "amount": 25.0,
                  "login": 1001, "isHandle": 0, "order": 0}
    identities = [
        {"login": 1002, "name": "Bob Demo", "email": "bob@demo.example",
         "group": "demoforex", "comment": "", "leadSource": "demo"},
        {"login": 1003, "name": "Carol Demo", "email": "carol@demo.example",
         "group": "demopro", "comment": "", "leadSource": "demo"},
    ]
    link = link_factory(sim, balances=[remembered], identities=identities)
    first = link.wait_connected() + 1
    with open(link.identity_path) as f:
        identity_file = f.read()

    # A movement the store does not know: seen, nothing written.
    other = sim.balance(1001, 6, 5.0, "not remembered")["order"]
    link.wait_line(lambda l: l.startswith(
        "pump code=9 type=1 order=%d login=1001 cmd=6 " % other),
        START_TIMEOUT_S, first)
    assert not os.path.exists(link.balance_path + ".journal")
    with open(link.balance_path) as f:
        assert json.load(f) == [remembered]

    # The remembered one: marked carried out with its ticket, and saved.
    order = sim.balance(1001, 6, 25.0, "e2e deposit")["order"]
    link.wait_line(lambda l: l == (
        "pump code=9 type=1 order=%d login=1001 cmd=6 comment=e2e deposit"
        % order), START_TIMEOUT_S, first)
    assert list(read_history(link.balance_path).values()) == \
        [dict(remembered, isHandle=1, order=order)]

    # An account deletion leaves the identity store in memory only.
    sim.checked({"cmd": "delete_user", "login": 1002})
    link.wait_line(lambda l: l == "pump code=3 type=1 login=1002 identity=0",
                   START_TIMEOUT_S, first)
    with open(link.identity_path) as f:
        assert f.read() == identity_file


@pytest.mark.parametrize("bid_ask,quotes", [(1, True), (0, False)])
def test_quotes_are_pumped_only_when_asked_for(sim, link_factory, bid_ask,
                                               quotes):
    link = link_factory(sim, bid_ask=bid_ask)
    first = link.wait_connected() + 1
    sim.quote("EURUSD", 1.2, 1.2002)
    # Events arrive in order: the balance trade comes after any quote event.
    order = sim.balance(1003, 6, 1.0, "after quote")["order"]
    last = link.wait_line(lambda l: l.startswith(
        "pump code=9 type=1 order=%d " % order), START_TIMEOUT_S, first)
    seen = [l for l in link.output(first)[:last - first]
            if l.startswith("pump code=5 ")]
    assert bool(seen) == quotes
