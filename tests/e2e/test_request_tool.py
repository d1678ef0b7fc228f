"""The operators' request client: it prints the reply of its own request
and leaves other requests' replies on the queue; it lists the requests of a
dead-letter queue and puts one back on its queue; it follows the server's
events."""
import json
import os
import subprocess
import sys

from fixtures.broker import receive_messages, send_text, start_broker
from fixtures.requests import movement
from fixtures.service import Service
from fixtures.sim import recent_state
from fixtures.wait import wait_until

TOOL = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "mt4bridge_request.py")


def run_tool(url, queue, body, timeout=10, *more):
    return subprocess.run([sys.executable, TOOL, "--broker", url, "--queue", queue,
                           "--timeout", str(timeout), *more, body],
                          capture_output=True, text=True, timeout=timeout + 30)


def dead_letters(url, queue, *words):
    return subprocess.run([sys.executable, TOOL, "--broker", url, "--queue", queue, *words],
                          capture_output=True, text=True, timeout=60)


def test_prints_its_own_reply_and_leaves_the_others(broker):
    url = broker.amqp_url
    other = '{"code":200,"data":{"serial":"other"},"msg":"success"}\n'
    mine = '{"code":200,"data":{"serial":"s1"},"msg":"success"}\n'
    send_text(url, "tool.q1Callback", other)
    send_text(url, "tool.q1Callback", mine)
    r = run_tool(url, "tool.q1", '{"serial":"s1","login":7}')
    assert r.returncode == 0, r.stderr
    assert r.stdout == mine
    assert receive_messages(url, "tool.q1Callback", 5, timeout=3) == [other]
    assert receive_messages(url, "tool.q1", 5, timeout=3) == ['{"serial": "s1", "login": 7}']


def test_listen_prints_each_event_and_tells_a_resync_and_a_gap(broker):
    url = broker.amqp_url
    events = [{"event": "resync", "action": "start", "data": {"dropped": 0}, "sequence": 1},
              {"event": "trade", "action": "add", "data": {"order": 5}, "sequence": 2},
              {"event": "trade", "action": "delete", "data": {"order": 5}, "sequence": 4}]
    for event in events:
        send_text(url, "tool.events", json.dumps(event))
    r = dead_letters(url, "tool.events", "listen", "--count", "3")
    assert r.returncode == 0, r.stderr
    assert [json.loads(line) for line in r.stdout.splitlines()] == events
    assert r.stderr == ("resync (start): read again\n"
                        "gap: sequence 4, 3 expected: read again\n")


def test_no_reply_and_bad_requests_fail_clearly(broker):
    r = run_tool(broker.amqp_url, "tool.q2", '{"serial":"none"}', timeout=2)
    assert r.returncode != 0 and "no reply on tool.q2Callback" in r.stderr
    r = run_tool(broker.amqp_url, "tool.q2", "[1,2]", timeout=2)
    assert r.returncode != 0 and "JSON object" in r.stderr


def test_check_refuses_a_request_its_schema_does_not_allow(broker):
    url = broker.amqp_url
    r = run_tool(url, "tool.q3", '{"serial":"s3","login":"7"}', 1, "--check", "--key",
                 "userRecordCreate")
    assert r.returncode == 2 and "'7' is not of type" in r.stderr and "login" in r.stderr
    r = run_tool(url, "tool.q3", '{"serial":"s4","login":7}', 1, "--check", "--key",
                 "userRecordCreate")
    assert "no reply on tool.q3Callback" in r.stderr
    assert receive_messages(url, "tool.q3", 5, timeout=3) == ['{"serial": "s4", "login": 7}']


def test_a_dead_lettered_deposit_is_listed_and_replayed_once(tmp_path, sim_factory):
    sim = sim_factory(recent_state())
    b = start_broker(tmp_path / "broker")
    svc = Service(tmp_path / "svc", b, sim,
                  overrides={"brokerURI": "failover:(%s)?randomize=false" % b.amqp_url})
    q = svc.queue("tradeTransInfo")
    try:
        svc.start()
        # The deposit is carried out while the broker is down, and stays
        # down until every attempt to send its reply has failed.
        sim.hold("TradeTransaction")
        dep = movement("dl-1", 1001, 75.25, "crm-dl-1")
        svc.send("tradeTransInfo", dep)
        wait_until(sim.held, 30, "held TradeTransaction answer")
        b.kill()
        assert sim.release() == 1
        svc.wait_for("reply not delivered after", 180)
        b.start()
        svc.wait_for("request moved to the dead-letter queue DLQ." + q, 60)

        listed = dead_letters(b.amqp_url, q, "list", "--json")
        [dead] = [json.loads(line) for line in listed.stdout.splitlines()]
        assert dead["request"] == json.dumps(dep)
        ticket = json.loads(dead["undeliveredReply"])["data"]["order"]
        assert ticket > 0
        plain = dead_letters(b.amqp_url, q, "list").stdout
        assert plain.startswith(dead["id"] + "\n") and "undeliveredReply: {" in plain

        replayed = dead_letters(b.amqp_url, q, "replay", dead["id"])
        assert replayed.returncode == 0, replayed.stderr
        reply = json.loads(svc.reply("tradeTransInfo"))
        assert reply["code"] == 200 and reply["data"]["order"] == ticket
        assert sim.user(1001)["balance"] == 10075.25
        assert [t["order"] for t in sim.state()["history"] if t["comment"] == "crm-dl-1"] \
            == [ticket]
        again = dead_letters(b.amqp_url, q, "replay", dead["id"])
        assert again.returncode == 3 and "no request with message id" in again.stderr
        assert dead_letters(b.amqp_url, q, "list", "--json").stdout == ""
    finally:
        svc.stop()
        b.kill()
