"""Everything at once: all fifteen queues busy, quotes and balance events
pumped and the server's events published, and the trading server lost twice
while requests run (every client
connection dropped, then the server killed and started again). Every
request is answered, a money request whose answer was a failure is sent
again as the back office would, and in the end every movement is on the
server exactly once and every balance is its start plus each movement.
At last the service is stopped once every queue has taken a request: each
of them is finished and answered exactly once.

Against a sanitizer build (MT4BRIDGE_BUILD) neither the service nor the
simulated server may report anything."""
import threading
import time

from fixtures.requests import MONEY_LOGINS
from fixtures.traffic import QueueLink, Traffic, push_quotes
from fixtures.wait import wait_until

MONEY_KEYS = ("tradeTransInfo", "importTrade")
SANITIZER_REPORTS = ("WARNING: ThreadSanitizer", "ERROR: AddressSanitizer", "runtime error:")
ANSWER_TIMEOUT_S = 90
RESEND_ROUNDS = 3
# The reconnection thread looks at the links every 10 s.
RECONNECT_TIMEOUT_S = 40
OUTAGE_S = 11


def answered(traffic):
    return sum(1 for s in traffic.sent if traffic.replies.get(s))


def unsettled_money(traffic):
    """Money requests without a success reply."""
    return [s for s, (key, _) in traffic.sent.items()
            if key in MONEY_KEYS and not any(r["code"] == 200 for r in traffic.replies.get(s, []))]


def wait_connected(sim, timeout):
    """Waits until the service has its normal and its pumping connection."""
    wait_until(lambda: sorted(c["pumping"] for c in sim.clients()) == [False, True], timeout,
               "normal and pumping connection of the service", 0.2)


def tail(svc):
    """The end of the service's console (where a sanitizer report that
    stopped it is)."""
    return svc.output()[-8000:]


def sanitizer_lines(text):
    return [line for line in text.splitlines() if any(m in line for m in SANITIZER_REPORTS)]


def test_all_queues_with_pumped_events_and_a_lost_server(sim_factory, service_factory):
    sim = sim_factory()
    start = {u["login"]: u["balance"] for u in sim.state()["users"]}
    svc = service_factory(sim, overrides={"pumpUpdateBidAsk": 1, "serverEvents": "events.cc",
                                          "serverEventsBuffer": 20}).start()
    stop = threading.Event()
    quotes = threading.Thread(target=push_quotes, args=(sim, stop), daemon=True)
    quotes.start()
    traffic = Traffic("cc")
    link = QueueLink(svc)
    try:
        link.send(traffic, traffic.round(3))
        assert link.collect(traffic, ANSWER_TIMEOUT_S, lambda: answered(traffic) >= 15), tail(svc)
        # Every client connection dropped while the queues are busy: both
        # managers reconnect.
        sim.checked({"cmd": "drop"})
        link.send(traffic, traffic.round(1))
        assert link.collect(traffic, ANSWER_TIMEOUT_S, lambda: answered(traffic) >= 45), tail(svc)
        # The server itself lost for longer than the reconnection thread's
        # cycle, with requests arriving meanwhile, then back on its ports.
        sim.kill()
        link.send(traffic, traffic.round(1))
        time.sleep(OUTAGE_S)
        sim.start()
        link.send(traffic, traffic.round(2))
        assert link.collect(traffic, ANSWER_TIMEOUT_S), (traffic.unanswered(), tail(svc))

        # A failed money request is sent again under its serial: it moves the
        # money if it had not, and answers the ticket if it had.
        wait_connected(sim, RECONNECT_TIMEOUT_S)
        for _ in range(RESEND_ROUNDS):
            unsettled = {s: len(traffic.replies[s]) for s in unsettled_money(traffic)}
            if not unsettled:
                break
            link.send(traffic, [(traffic.sent[s][0], s, traffic.sent[s][1]) for s in unsettled])
            assert link.collect(traffic, ANSWER_TIMEOUT_S, lambda: all(
                len(traffic.replies[s]) > n for s, n in unsettled.items())), unsettled
        assert unsettled_money(traffic) == []

        assert traffic.doubled_and_lost(sim) == (0, 0)
        for serial, replies in traffic.replies.items():
            tickets = {(r["data"].get("order"), r["data"].get("newOrder"))
                       for r in replies if r["code"] == 200}
            assert len(tickets) <= 1, (serial, replies)
        balances = {u["login"]: u["balance"] for u in sim.state()["users"]}
        expected = traffic.expected_balances(start)
        for login in MONEY_LOGINS:
            assert abs(balances[login] - expected[login]) < 1e-6, (login, balances[login],
                                                                   expected[login])
        # Both managers are still connected, the pumping one included.
        wait_connected(sim, 0)
        assert svc.process.poll() is None, tail(svc)

        # Stopped once every queue has taken a request, while the server
        # pumps: the requests in progress are finished, each answered once
        # (the replies wait on their queues), and the service ends cleanly.
        last = traffic.round(1)
        link.send(traffic, last)
        for _, serial, _ in last:
            svc.wait_for('"serial": "%s"' % serial, ANSWER_TIMEOUT_S)
        svc.stop()
        link.collect(traffic, ANSWER_TIMEOUT_S,
                     lambda: all(s in traffic.replies for _, s, _ in last))
        link.gather(traffic, wait=1.0)  # a second reply, if any
        assert {s: len(traffic.replies.get(s, [])) for _, s, _ in last} == \
            {s: 1 for _, s, _ in last}, tail(svc)
    finally:
        stop.set()
        quotes.join()
        link.close()

    sim.stop()
    assert "DestURI:events.cc,Send: " in svc.output()
    assert sanitizer_lines(svc.output()) == []
    with open(sim.log_path, encoding="utf-8", errors="replace") as log:
        assert sanitizer_lines(log.read()) == []
