"""A crash campaign: a stream of money requests of every kind (deposits,
withdrawals, credit grants and removals, balance, credit and trade imports)
on several accounts, other queues busy beside them, and the service killed
with SIGKILL at random moments, some of them while the server holds back its
answer to a call it has already carried out, and restarted until every
request is answered. Afterwards every account holds exactly its start plus
each movement once, every import made exactly one server record, every
reply to one request tells the same code and ticket, and the stores loaded
after every kill.

Independent lanes (a simulated server, a service and its own queues each)
run side by side, so that the kills do not wait for each other's ten-second
start-ups. The seed is printed; MT4BRIDGE_CAMPAIGN_SEED repeats a run."""
import os
import random
import re
import shutil
import threading
import time

from fixtures.history import read_history, read_snapshot
from fixtures.sim import default_state
from fixtures.traffic import QueueLink, request_for

LANES = 3
KILLS_PER_LANE = 7
MONEY_PER_LANE = 110
ACCOUNTS_PER_LANE = 4
START_BALANCE = 100000.0
START_CREDIT = 50000.0
TIME_ZONE = 1  # hours: imported times are shifted by it on the server
SHIFT = TIME_ZONE * 3600
OTHER_KEYS = ("userLeverageUpdate", "userRecordUpdate", "userRecordPasswordUpdate", "emailSend")
KEYS = ("tradeTransInfo", "importTrade") + OTHER_KEYS
HOLDS = ("TradeTransaction", "TradeTransaction", "TradeRecordsRequest", "AdmTradeRecordModify",
         "AdmBalanceFix")
FINISH_TIMEOUT_S = 150


def cents(x):
    return int(round(x * 100))


def wait_until(predicate, timeout):
    """predicate()'s first true value within timeout seconds (else false)."""
    deadline = time.monotonic() + timeout
    value = predicate()
    while not value and time.monotonic() < deadline:
        time.sleep(0.02)
        value = predicate()
    return value


def campaign_state(logins, now):
    """The demo state dated now (so that every account has recent history),
    plus the campaign's accounts: a recent deposit and credit grant each,
    and one open trade (so that a withdrawal's look at open trades needs no
    retries)."""
    state = default_state()
    for t in state["history"]:
        t["open_time"] = t["close_time"] = t["timestamp"] = now
    template = state["users"][0]
    ticket = state["next_ticket"]
    for login in logins:
        state["users"].append(dict(template, login=login, name="Campaign %d" % login,
                                   email="c%d@demo.example" % login, balance=START_BALANCE,
                                   credit=START_CREDIT))
        for cmd, amount in ((6, START_BALANCE), (7, START_CREDIT)):
            state["history"].append({"order": ticket, "login": login, "cmd": cmd, "state": 3,
                                     "open_time": now, "close_time": now, "profit": amount,
                                     "comment": "start", "timestamp": now})
            ticket += 1
        state["trades"].append({"order": ticket, "login": login, "cmd": 0, "symbol": "EURUSD",
                                "volume": 1, "open_time": now, "open_price": 1.09, "digits": 5,
                                "margin_rate": 1.0, "comment": "held open"})
        ticket += 1
    state["next_ticket"] = ticket
    return state


class Money:
    """One money request and what it must do on the server."""

    def __init__(self, key, serial, request, login, balance=0, credit=0):
        self.key = key
        self.serial = serial
        self.request = request
        self.login = login
        self.balance = balance  # cents it adds to the balance
        self.credit = credit    # cents it adds to the credit

    def server_records(self, state):
        """The server's records of this movement or trade."""
        r = self.request
        if self.key == "tradeTransInfo":
            cmd = 6 if r["type"] == 1 else 7
            return [t for t in state["history"]
                    if t["login"] == self.login and t["cmd"] == cmd and t["comment"] == r["comment"]]
        names = (self.serial, r["comment"])
        return [t for t in state["trades"] + state["history"]
                if t["login"] == self.login and t["comment"] in names and t["cmd"] == r["cmd"]]


def plan_money(rng, lane, logins):
    kinds = (["deposit"] * 28 + ["withdrawal"] * 22 + ["grant"] * 14 + ["removal"] * 14 +
             ["balance import"] * 12 + ["credit import"] * 4 + ["trade import"] * 16)
    assert len(kinds) == MONEY_PER_LANE
    rng.shuffle(kinds)
    past = 1748736000  # 2025-06-01: imported records lie outside any recent window
    planned = []
    for i, kind in enumerate(kinds):
        login = rng.choice(logins)
        serial = "L%d-%s-%03d" % (lane, kind.split()[0][:5], i)
        amount = rng.randint(100, 40000) / 100.0
        if kind in ("deposit", "withdrawal", "grant", "removal"):
            sign = -1 if kind in ("withdrawal", "removal") else 1
            balance = kind in ("deposit", "withdrawal")
            request = {"serial": serial, "login": login, "amount": sign * amount,
                       "type": 1 if balance else 2, "comment": serial + "-c", "routeType": "crm",
                       "floating": 0, "margin": 0, "creditLimit": 0}
            moved = cents(sign * amount)
            planned.append(Money("tradeTransInfo", serial, request, login,
                                 balance=moved if balance else 0, credit=0 if balance else moved))
            continue
        when = (past + i * 600) * 1000
        request = {"serial": serial, "routeType": "crm", "order": 0, "login": login,
                   "symbol": "", "cmd": 6, "volume": 0, "openTime": when, "openPrice": amount,
                   "sl": 0, "tp": 0, "closeTime": when, "commission": 0, "closePrice": 0,
                   "profit": 0, "comment": serial + "-c", "taxes": 0, "storage": 0,
                   "newOrder": 0}
        if kind == "balance import":
            request["openPrice"] = amount if rng.random() < 0.7 else -amount
            planned.append(Money("importTrade", serial, request, login,
                                 balance=cents(request["openPrice"])))
        elif kind == "credit import":
            request["cmd"] = 7
            planned.append(Money("importTrade", serial, request, login, credit=cents(amount)))
        else:
            symbol, price = rng.choice([("EURUSD", 1.1), ("GBPUSD", 1.27)])
            request.update(cmd=rng.choice([0, 1]), symbol=symbol,
                           volume=rng.choice([10, 50, 100]), openPrice=price,
                           closeTime=when + 3600 * 1000, closePrice=price + 0.0012,
                           profit=rng.randint(-30000, 30000) / 100.0,
                           commission=-rng.randint(0, 900) / 100.0,
                           taxes=-rng.randint(0, 200) / 100.0,
                           storage=rng.randint(-500, 500) / 100.0)
            effect = sum(cents(request[k]) for k in ("profit", "commission", "taxes", "storage"))
            planned.append(Money("importTrade", serial, request, login, balance=effect))
    return planned


def reply_ticket(key, reply):
    """The ticket a reply tells: a movement's order; an import's new ticket,
    or for a repeated balance import the earlier one in order."""
    data = reply.get("data") or {}
    if key == "importTrade":
        return data.get("newOrder") or data.get("order")
    return data.get("order")


class Lane:
    """A simulated server, a service and their part of the campaign."""

    def __init__(self, index, rng, sim_factory, service_factory):
        self.index = index
        self.rng = rng
        self.logins = [5000 + 100 * index + i for i in range(ACCOUNTS_PER_LANE)]
        self.sim = sim_factory(campaign_state(self.logins, int(time.time())), name="sim%d" % index)
        self.svc = service_factory(self.sim, name="svc%d" % index,
                                   overrides={"timeZone": TIME_ZONE})
        self.start = {u["login"]: (cents(u["balance"]), cents(u["credit"]))
                      for u in self.sim.state()["users"] if u["login"] in self.logins}
        self.money = plan_money(rng, index, self.logins)
        self.sent = {}     # serial -> (key, request)
        self.replies = {}  # serial -> [reply, ...]
        self.kills = []    # what each kill interrupted
        self.handled = {}  # (file, comment, login) -> order: handled records seen so far
        self.starts = 0

    # -- requests and replies ---------------------------------------------

    def batches(self):
        chunks = KILLS_PER_LANE + 1
        size = -(-len(self.money) // chunks)
        for c in range(chunks):
            batch = [(m.key, m.serial, m.request) for m in self.money[c * size:(c + 1) * size]]
            for key in OTHER_KEYS:
                serial = "L%d-%s-%d" % (self.index, key, c)
                batch.append((key, serial, request_for(key, serial, c)))
            yield batch

    def unanswered(self):
        return sorted(s for s in self.sent if not self.replies.get(s))

    # -- kills ------------------------------------------------------------

    def restart(self):
        self.svc.start(wait=False)
        self.link.gather(self, wait=0.2)  # while the service waits through its start-up
        self.svc.wait_for("init success\n", 90)
        self.starts += 1

    def kill_at_random_moment(self):
        """Kills the service once it is at work: right after the server
        carried out a held call, or a random while after a random number
        of replies."""
        svc, sim, rng = self.svc, self.sim, self.rng
        if rng.random() < 0.45:
            call = rng.choice(HOLDS)
            sim.hold(call)
            sim.hold_events(rng.random() < 0.5)
            held = wait_until(sim.held, 10)
            what = "held " + call if held else "idle"
            time.sleep(rng.uniform(0, 0.2))
        else:
            replies = rng.randint(0, 10)
            wait_until(lambda: svc.output().count(",Send: ") >= replies, 10)
            time.sleep(rng.uniform(0, 0.3))
            what = None
        console = svc.output()
        svc.process.kill()
        svc.stop()
        sim.hold_events(False)
        sim.unhold()
        sim.release()
        if what is None:
            busy = console.count(" Received: ") > console.count(",Send: ") + \
                console.count("already answered")
            what = "mid-request" if busy else "between requests"
        self.kills.append(what)
        shutil.copy(svc.output_path, svc.output_path + ".%d" % len(self.kills))
        self.check_stores()

    def check_stores(self):
        """The files read whole, and a record once handled stays handled
        with its ticket."""
        for name in ("financeBalanceHistory", "tradeImportHistory"):
            path = os.path.join(self.svc.workdir, name)
            read_snapshot(path)
            for (comment, login), r in read_history(path).items():
                key = (name, comment, login)
                if key in self.handled:
                    assert (r["isHandle"], r["order"]) == (1, self.handled[key]), (key, r)
                elif r["isHandle"] == 1:
                    self.handled[key] = r["order"]

    def run(self):
        """Sends, kills and restarts from the calling thread, the lane's
        only one (its broker link is that thread's)."""
        self.link = QueueLink(self.svc, keys=KEYS)
        try:
            self.run_linked()
        finally:
            self.link.close()

    def run_linked(self):
        batches = self.batches()
        for _ in range(KILLS_PER_LANE):
            self.link.send(self, next(batches))
            self.restart()
            self.kill_at_random_moment()
        self.link.send(self, next(batches))
        self.restart()
        self.link.collect(self, FINISH_TIMEOUT_S)
        assert self.svc.stop() == 0
        self.link.gather(self, wait=0.2)
        self.check_stores()
        for name in ("financeBalanceHistory", "tradeImportHistory"):
            # A clean stop leaves every record in the snapshot.
            journal = os.path.join(self.svc.workdir, name + ".journal")
            assert not os.path.exists(journal) or os.path.getsize(journal) == 0, name

    # -- the outcome ----------------------------------------------------------

    def received(self):
        """serial -> how often the service received the request, per its log."""
        seen = {}
        for line in self.svc.log_text().splitlines():
            m = re.search(r' Received: .*"serial": "([^"]*)"', line)
            if m:
                seen[m.group(1)] = seen.get(m.group(1), 0) + 1
        return seen

    def verify(self):
        """(figures, failures) of this lane."""
        failures = []
        state = self.sim.state()
        if self.unanswered():
            failures.append("unanswered: %s" % self.unanswered())
        for serial, replies in self.replies.items():
            key = self.sent[serial][0]
            told = {(r["code"], reply_ticket(key, r)) for r in replies}
            if len(told) != 1:
                failures.append("%s answered differently: %s" % (serial, sorted(told, key=str)))
        expected = dict(self.start)
        doubled = lost = 0
        finance = read_history(os.path.join(self.svc.workdir, "financeBalanceHistory"))
        imports = read_history(os.path.join(self.svc.workdir, "tradeImportHistory"))
        for m in self.money:
            balance, credit = expected[m.login]
            expected[m.login] = (balance + m.balance, credit + m.credit)
            records = m.server_records(state)
            doubled += len(records) > 1
            lost += not records
            replies = self.replies.get(m.serial, [])
            if len(records) != 1 or not replies:
                failures.append("%s: %d server records" % (m.serial, len(records)))
                continue
            [record] = records
            if replies[0]["code"] != 200 or reply_ticket(m.key, replies[0]) != record["order"]:
                failures.append("%s: reply %s, server ticket %d" % (m.serial, replies[0],
                                                                    record["order"]))
            r = m.request
            if m.key == "tradeTransInfo":
                stored = finance.get((r["comment"], m.login))
            elif r["cmd"] >= 6:
                stored = finance.get((m.serial, m.login))
            else:
                stored = imports.get((m.serial, m.login))
            if not stored or (stored["isHandle"], stored["order"]) != (1, record["order"]):
                failures.append("%s: stored %s, server ticket %d" % (m.serial, stored,
                                                                     record["order"]))
            if m.key == "importTrade":
                written = (record["open_time"], record["close_time"])
                wanted = (r["openTime"] // 1000 + SHIFT, r["closeTime"] // 1000 + SHIFT)
                if r["cmd"] < 6:
                    written += (record["state"], record["comment"], record["profit"],
                                record["commission"], record["taxes"], record["storage"])
                    wanted += (3, r["comment"], r["profit"], r["commission"], r["taxes"],
                               r["storage"])
                if written != wanted:
                    failures.append("%s: record %s, request %s" % (m.serial, written, wanted))
        for login, (balance, credit) in expected.items():
            user = self.sim.user(login)
            held = (cents(user["balance"]), cents(user["credit"]))
            if held != (balance, credit):
                failures.append("account %d holds %s, expected %s" % (login, held,
                                                                      (balance, credit)))
        received = self.received()
        figures = {
            "requests": len(self.sent), "money": len(self.money), "kills": len(self.kills),
            "held": sum(k.startswith("held") for k in self.kills),
            "mid": sum(k == "mid-request" for k in self.kills),
            "received again": sum(n - 1 for n in received.values()),
            "money received again": sum(received.get(m.serial, 1) - 1 for m in self.money),
            "replies": sum(len(r) for r in self.replies.values()),
            "beyond first": sum(len(r) - 1 for r in self.replies.values()),
            "doubled": doubled, "lost": lost, "starts": self.starts,
        }
        return figures, failures


def test_money_survives_a_campaign_of_kills(sim_factory, service_factory, capsys):
    seed = int(os.environ.get("MT4BRIDGE_CAMPAIGN_SEED", random.SystemRandom().randrange(10 ** 6)))
    with capsys.disabled():
        print("\ncrash campaign seed %d (MT4BRIDGE_CAMPAIGN_SEED repeats it)" % seed)
    began = time.monotonic()
    lanes = [Lane(i, random.Random(seed * 100 + i), sim_factory, service_factory)
             for i in range(LANES)]
    errors = []

    def run(lane):
        try:
            lane.run()
        except BaseException as e:  # noqa: B902 - reported by the test's thread
            errors.append("lane %d after %d kills: %r" % (lane.index, len(lane.kills), e))

    threads = [threading.Thread(target=run, args=(lane,)) for lane in lanes]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors, "seed %d:\n%s" % (seed, "\n".join(errors))

    totals = {}
    failures = []
    for lane in lanes:
        figures, lane_failures = lane.verify()
        failures += ["lane %d: %s" % (lane.index, f) for f in lane_failures]
        for k, v in figures.items():
            totals[k] = totals.get(k, 0) + v
    kinds = {}
    for lane in lanes:
        for k in lane.kills:
            kinds[k] = kinds.get(k, 0) + 1
    with capsys.disabled():
        print("crash campaign: seed %d, requests %d (money %d), kills %d (%s), redeliveries %d "
              "(requests received again; %d of them money), replies %d (%d beyond the first), "
              "movements doubled %d, movements lost %d, %.0f s" % (
                  seed, totals["requests"], totals["money"], totals["kills"],
                  ", ".join("%s %d" % kv for kv in sorted(kinds.items())),
                  totals["received again"], totals["money received again"], totals["replies"],
                  totals["beyond first"], totals["doubled"], totals["lost"],
                  time.monotonic() - began))
    assert not failures, "seed %d:\n%s" % (seed, "\n".join(failures[:40]))
    assert totals["kills"] >= 20 and totals["money"] >= 300
    assert totals["starts"] == totals["kills"] + LANES
    assert totals["doubled"] == 0 and totals["lost"] == 0
