"""Money end to end: deposits, withdrawals, credit, trade imports and
closing an account, each checked against the simulated server's own
balances, credit, open trades and history; and a back office that follows
the server through its events and reads."""
import json
import os
import time
import uuid

import pytest
from proton import Timeout
from proton.utils import BlockingConnection

from fixtures import schemas

from fixtures.history import read_history
from fixtures.requests import movement
from fixtures.sim import recent_state
from fixtures.wait import wait_until


@pytest.fixture
def money_sim(sim_factory):
    return sim_factory(recent_state())


def transactions(sim):
    return sum(1 for c in sim.calls() if c["call"] == "TradeTransaction")


def test_movements_happen_once_even_without_the_store_and_follow_the_amount_rules(
        service_factory, money_sim):
    sim = money_sim
    svc = service_factory(sim).start()
    dep = movement("d-1", 1001, 250.5, "crm-dep-1")
    first = svc.ask("tradeTransInfo", dep)
    assert first["code"] == 200 and first["data"]["order"] > 0
    again = svc.ask("tradeTransInfo", dep)
    assert again["code"] == 200 and again["data"]["order"] == first["data"]["order"]
    assert sim.user(1001)["balance"] == 10250.5

    # Account 1002: balance 5000, no credit.
    before = transactions(sim)
    nothing = svc.ask("tradeTransInfo", movement("r-1", 1002, -10, "rm-none", kind=2))
    assert nothing["code"] == 200 and transactions(sim) == before
    grant = svc.ask("tradeTransInfo", movement("r-2", 1002, 300, "grant", kind=2, creditLimit=200))
    assert grant["code"] == 200 and grant["data"]["amount"] == 200
    assert sim.user(1002)["credit"] == 200
    # The route configured for cancelling a trade's credit takes it all back.
    cancel_route = svc.config["tradeCancellationCreditTransInfo"]
    cancel = svc.ask("tradeTransInfo", movement("r-3", 1002, 5, "cancel", routeType=cancel_route))
    assert cancel["code"] == 200 and cancel["data"]["amount"] == -200
    assert sim.user(1002)["credit"] == 0
    cut = svc.ask("tradeTransInfo", movement("r-4", 1002, -99999, "all out",
                                             routeType="TRADE_TRANS_ACTIVITY_GIVE_INFO"))
    assert cut["code"] == 200 and cut["data"]["amount"] == -5000
    assert sim.user(1002)["balance"] == 0

    # Without its store the service finds the deposit in the server's history.
    svc.stop()
    os.remove(os.path.join(svc.workdir, "financeBalanceHistory"))
    svc.start()
    third = svc.ask("tradeTransInfo", dep)
    assert third["code"] == 200 and third["data"]["order"] == first["data"]["order"]
    assert sim.user(1001)["balance"] == 10250.5


def test_trade_import_opens_one_trade_with_shifted_times(service_factory, money_sim):
    sim = money_sim
    svc = service_factory(sim, overrides={"timeZone": 2}).start()
    req = {"serial": "imp-1", "routeType": "crm", "order": 0, "login": 1001,
           "symbol": "EURUSD", "cmd": 0, "volume": 100, "openTime": 1700000000123,
           "openPrice": 1.1, "sl": 0, "tp": 0, "closeTime": 1700003600000,
           "commission": -7, "closePrice": 1.2, "profit": 1000, "comment": "imported buy",
           "taxes": -1, "storage": -2, "newOrder": 0}
    first = svc.ask("importTrade", req)
    assert first["code"] == 200
    ticket = first["data"]["newOrder"]
    assert ticket > 0 and first["data"]["openTime"] == 1700000000

    def trades():
        return [t for t in sim.state()["history"] if t["login"] == 1001 and t["cmd"] == 0]

    [trade] = trades()
    assert trade["order"] == ticket and trade["state"] == 3
    assert trade["open_time"] == 1700000000 + 7200
    assert trade["close_time"] == 1700003600 + 7200
    assert trade["close_price"] == 1.2 and trade["profit"] == 1000
    assert trade["comment"] == "imported buy"
    assert sim.user(1001)["balance"] == 10000 + 1000 - 7 - 1 - 2

    again = svc.ask("importTrade", req)
    assert again["code"] == 200 and again["data"]["newOrder"] == ticket
    assert len(trades()) == 1 and not sim.state()["trades"]
    assert sim.user(1001)["balance"] == 10990


def test_closing_an_account_closes_its_buy_and_deletes_its_order(service_factory, sim_factory):
    state = recent_state()
    common = {"login": 1003, "symbol": "EURUSD", "volume": 100, "open_time": 1767225600,
              "digits": 5, "margin_rate": 1.0}
    state["trades"] = [dict(common, order=900, cmd=0, open_price=1.09),
                       dict(common, order=901, cmd=2, open_price=1.05)]
    state["next_ticket"] = 1000
    sim = sim_factory(state)
    svc = service_factory(sim).start()
    reply = svc.ask("closeUserTrades", {"login": 1003.7, "serial": "c-1", "routeType": "crm"})
    assert reply["code"] == 200 and reply["data"]["login"] == 1003
    assert not sim.state()["trades"]
    [closed] = [t for t in sim.state()["history"] if t["order"] == 900]
    assert closed["comment"] == "stopout" and closed["close_price"] == 1.1
    assert all(t["order"] != 901 for t in sim.state()["history"])

    before = transactions(sim)
    assert svc.ask("closeUserTrades", {"login": 1003, "serial": "c-1"})["code"] == 200
    assert transactions(sim) == before


def stored(svc, comment):
    records = read_history(os.path.join(svc.workdir, "financeBalanceHistory")).values()
    return next((r for r in records if r["comment"] == comment), None)


@pytest.mark.parametrize("events", ["events-held", "events-delivered"])
@pytest.mark.parametrize("kind", [1, 2], ids=["deposit", "credit"])
def test_killed_after_the_server_moved_the_money_the_redelivery_answers_its_ticket(
        service_factory, money_sim, kind, events):
    """The service dies after the server carried the movement out and before
    the service heard of it. With the pumped events held back the server's
    history decides; with them delivered, the pumped mark does."""
    sim = money_sim
    field = "balance" if kind == 1 else "credit"
    start = sim.user(1001)[field]
    svc = service_factory(sim).start()
    comment = "crash-%s-%d" % (events, kind)
    sim.hold("TradeTransaction")
    sim.hold_events(events == "events-held")
    svc.send("tradeTransInfo", movement("k-1", 1001, 75, comment, kind=kind))
    wait_until(sim.held, 60, "held TradeTransaction")
    [moved] = [t for t in sim.state()["history"] if t["comment"] == comment]
    if events == "events-delivered":
        wait_until(lambda: (stored(svc, comment) or {}).get("isHandle") == 1, 20, "pumped mark")
    else:
        assert stored(svc, comment)["isHandle"] == 0
    svc.kill()
    sim.hold_events(False)
    sim.release()  # the answer's client is gone: nothing reaches anyone

    svc.start()
    reply = json.loads(svc.reply("tradeTransInfo", timeout=60))
    assert reply["code"] == 200 and reply["data"]["order"] == moved["order"]
    assert sim.user(1001)[field] == start + 75
    assert [t["order"] for t in sim.state()["history"] if t["comment"] == comment] == \
        [moved["order"]]
    assert stored(svc, comment)["order"] == moved["order"]
    assert svc.reply("tradeTransInfo", timeout=1) is None


def server_events(receiver, until, timeout=30):
    """The events on receiver, parsed and checked against their schema, up
    to the first one until(event) is true for."""
    events = []
    deadline = time.monotonic() + timeout
    while not events or not until(events[-1]):
        left = deadline - time.monotonic()
        assert left > 0, "no closing event among %r" % events
        try:
            message = receiver.receive(timeout=left)
        except Timeout:
            continue
        receiver.accept()
        schemas.check_event(message.body)
        events.append(json.loads(message.body))
    return events


def test_a_back_office_follows_the_server_by_its_events_and_reads(service_factory, money_sim):
    sim = money_sim
    topic = "topic://serverEvents.%s" % uuid.uuid4().hex[:8]
    svc = service_factory(sim, reads=True, overrides={"serverEvents": topic}).start()
    conn = BlockingConnection(svc.broker.amqp_url, timeout=30)
    try:
        receiver = conn.create_receiver(topic, credit=200)
        dep = svc.ask("tradeTransInfo", movement("e-1", 1001, 100, "ev-dep"))["data"]["order"]
        svc.ask("tradeTransInfo", movement("e-1", 1001, 100, "ev-dep"))  # a repeat: no event
        credit = svc.ask("tradeTransInfo", movement("e-2", 1002, 50, "ev-credit",
                                                    kind=2))["data"]["order"]
        imp = {"serial": "ev-imp", "routeType": "crm", "order": 0, "login": 1001,
               "symbol": "EURUSD", "cmd": 0, "volume": 100, "openTime": 1700000000000,
               "openPrice": 1.1, "sl": 0, "tp": 0, "closeTime": 0, "commission": 0,
               "closePrice": 0, "profit": 0, "comment": "ev", "taxes": 0, "storage": 0,
               "newOrder": 0}
        closed = svc.ask("importTrade", imp)["data"]["newOrder"]
        assert svc.ask("closeUserTrades", {"login": 1001, "serial": "ev-close"})["code"] == 200
        kept = svc.ask("importTrade", dict(imp, serial="ev-imp-2"))["data"]["newOrder"]
        desk = sim.balance(1001, 6, 25, "at the desk")["order"]
        balance = sim.user(1001)["balance"]
        # The drop waits for the desk's account event: a drop between a trade's
        # and its account's event loses the second, which the resync announces.
        events = server_events(receiver, lambda e: e["event"] == "account"
                               and e["data"]["balance"] == balance)
        sim.admin({"cmd": "drop"})
        events += server_events(receiver, lambda e: e["event"] == "resync")
    finally:
        conn.close()

    # Each once, in sequence order, and the reconnection's resync last.
    assert [e["sequence"] for e in events] == list(
        range(events[0]["sequence"], events[0]["sequence"] + len(events)))
    assert events[-1]["action"] == "reconnect"
    trades = [(e["action"], e["data"]["order"], e["data"]["cmd"])
              for e in events if e["event"] == "trade"]
    # An import opens its trade, then rewrites it.
    assert trades == [("delete", dep, 6), ("delete", credit, 7), ("add", closed, 0),
                      ("update", closed, 0), ("delete", closed, 0), ("add", kept, 0),
                      ("update", kept, 0), ("delete", desk, 6)], trades
    [close] = [e for e in events if e["event"] == "trade" and e["action"] == "delete"
               and e["data"]["order"] == closed]
    assert close["data"]["closeTime"] > 0 and close["data"]["comment"] == "stopout"
    accounts = [e["data"] for e in events if e["event"] == "account"]
    assert accounts[-1]["login"] == 1001 and accounts[-1]["balance"] == balance

    # The reads give what the simulator holds, and a repeat gives it again.
    for _ in range(2):
        record = svc.ask("userRecordGet", {"login": 1001, "serial": "r-1"})
        assert record["code"] == 200
        assert record["data"]["account"]["balance"] == sim.user(1001)["balance"]
        assert record["data"]["account"]["group"] == sim.user(1001)["group"]
    [trade] = svc.ask("userTradesGet", {"login": 1001, "serial": "r-2"})["data"]["trades"]
    assert trade["order"] == kept and trade["openTime"] == 1700000000000
    now_ms = int(time.time() * 1000)
    history = svc.ask("userHistoryGet", {"login": 1001, "serial": "r-3",
                                         "from": now_ms - 86400000, "to": now_ms + 60000})
    listed = sorted(t["order"] for t in history["data"]["trades"])
    assert listed == sorted(t["order"] for t in sim.state()["history"] if t["login"] == 1001)
    assert {dep, closed, desk} <= set(listed)
    assert svc.ask("userRecordGet", {"login": 4242})["code"] == -65
    assert svc.ask("userHistoryGet", {"login": 1001, "from": 0,
                                      "to": 32 * 86400000})["code"] == -1017
