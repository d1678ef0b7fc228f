"""Messaging against the real broker: the messaging harness (the service's
producers, consumers and dispatch with test routes) answers requests put on
its queues by AMQP and JMS clients."""
import json
import os
import subprocess
import uuid

import pytest
from proton import Message

from fixtures.broker import (receive_message, receive_messages, receive_text, send_message,
                             send_text, start_broker)
from fixtures.process import Process, build_dir, check_exits, stopped_at_teardown
from fixtures.proxy import Proxy
from fixtures.service import make_config
from fixtures.wait import wait_until

HARNESS = os.path.join(build_dir(), "tests", "harness", "messaging_harness")

class Harness(Process):
    """One messaging harness process with its own config.ini and queue names
    (a fresh prefix, so tests never see each other's messages)."""

    def __init__(self, tmp_path, broker_uri, overrides=None, credentials=None):
        super().__init__("messaging_harness")
        self.prefix = "t" + uuid.uuid4().hex[:10]
        self.names = {}
        for key in make_config.REQUEST_KEYS:
            self.names[key] = "%s.%s" % (self.prefix, key)
            reply = make_config.reply_key(key)
            self.names[reply] = "%s.%s" % (self.prefix, reply)
        self.names.update(overrides or {})
        cfg = {"server": "127.0.0.1:1", "login": 1, "password": "x", "brokerURI": broker_uri}
        cfg.update(self.names)
        if credentials:
            cfg["activeMqName"], cfg["activeMqPassword"] = credentials
        base = tmp_path / ("h-" + self.prefix)
        self.workdir = base / "bin"
        self.workdir.mkdir(parents=True)
        (base / "log").mkdir()
        self.logdir = base / "log" / "mt4"
        (self.workdir / "config.ini").write_text(json.dumps(cfg))
        self.output_path = base / "out.txt"
        assert os.path.exists(HARNESS), "build the harness first: " + HARNESS
        with open(self.output_path, "wb") as out:
            self.spawn([HARNESS], cwd=self.workdir, stdout=out, stderr=subprocess.STDOUT)

    def wait_for(self, text, timeout=20.0):
        """Whether text shows in the output within timeout (or by its end)."""
        return bool(wait_until(lambda: text in self.output() or not self.running(), timeout)
                    and text in self.output())

    def q(self, key):
        return self.names[key]


@pytest.fixture
def harnesses(tmp_path):
    yield from stopped_at_teardown(lambda broker_uri, **kw: Harness(tmp_path, broker_uri, **kw))


@pytest.fixture(scope="module")
def shared(broker, tmp_path_factory):
    """One harness with the plain configuration, for the tests that use
    different queues of it and change nothing."""
    h = Harness(tmp_path_factory.mktemp("shared"), broker.amqp_url)
    try:
        yield ready(h)
    finally:
        h.stop()
        bad = check_exits()
        assert not bad, bad


def ready(h):
    assert h.wait_for("harness ready\n"), h.output()
    return h


def echo(serial, queue, route_type="", **more):
    data = dict(more, serial=serial, routeType=route_type, queue=queue)
    return json.dumps({"code": 200, "data": data, "msg": "success"}, sort_keys=True,
                      separators=(",", ":")) + "\n"


def test_reply_is_stored_byte_for_byte_on_the_matching_reply_queue(broker, shared):
    h = shared
    send_text(broker.amqp_url, h.q("userRecordCreate"),
              '{"serial":17,"routeType":"A","password":"secret","name":"Jos\\u00e9"}')
    reply = receive_text(broker.amqp_url, h.q("userRecordCreateCallback"))
    assert reply == ('{"code":200,"data":{"name":"Jos\\u00e9","password":"secret","queue":1,'
                     '"routeType":"A","serial":"17"},"msg":"success"}\n')
    # Row 14's reply queue key doubles the e.
    send_text(broker.amqp_url, h.q("symboTraderDateUpdate"), '{"serial":"s14"}')
    assert receive_text(broker.amqp_url, h.q("symboTraderDateUpdateeCallback")) == echo("s14", 14)
    # An operation without a manager answers -1, echoing its record.
    send_text(broker.amqp_url, h.q("symboQuoteDateUpdate"), '{"serial":5,"x":1}')
    answer = json.loads(receive_text(broker.amqp_url, h.q("symboQuoteDateUpdateCallback")))
    assert (answer["code"], answer["msg"], answer["data"]["serial"]) == (-1, "fail", "5")
    assert "x" not in answer["data"] and answer["data"]["conSessions3"]["openHour"] == 0

    assert h.wait_for("DestURI:%s,Send: " % h.q("userRecordCreateCallback"))
    out, log = h.output(), h.log_text()
    for text in (out, log):
        assert "\ndestURI #%s Received: " % h.q("userRecordCreate") in text
        assert '"password":"***"' in text and "secret" not in text


def test_jms_client_over_openwire_gets_a_text_message_reply(broker, shared, jms_client):
    h = shared
    r = jms_client(broker.openwire_url, h.q("tradeTransInfo"), h.q("tradeTransInfoCallback"),
                   '{"serial":"j1","routeType":"R"}', 15000, timeout=60)
    assert r.returncode == 0, r.stdout + r.stderr
    assert r.stdout == "TextMessage\n" + echo("j1", 4, "R")


def test_bad_messages_get_no_reply_and_the_next_request_is_served(broker, shared):
    h = shared
    q, rq = h.q("emailSend"), h.q("emailSendCallback")
    send_text(broker.amqp_url, q, "[1,2]")
    send_text(broker.amqp_url, q, "not json")
    send_message(broker.amqp_url, q, Message(body=b'{"serial":"bin"}', durable=True))
    send_message(broker.amqp_url, q, Message(body=b'{"serial":"data"}', inferred=True,
                                             durable=True))
    send_text(broker.amqp_url, q, '{"serial":"ok"}')
    # One queue is served in arrival order: once "ok" is answered, the
    # messages before it have been handled.
    assert receive_text(broker.amqp_url, rq) == echo("ok", 6)
    assert receive_messages(broker.amqp_url, rq, 1, timeout=0.5) == []
    out = h.output()
    assert out.count("Received: NOT A TEXTMESSAGE!\n") == 2
    assert "Received: [1,2]\n" in out and "Received: not json\n" in out


def test_one_queue_in_arrival_order_while_another_is_served(broker, shared):
    h = shared
    slow, fast = h.q("userRecordUpdate"), h.q("closeUserTrades")
    send_text(broker.amqp_url, slow, '{"serial":"s1","pauseMs":1200}')
    send_text(broker.amqp_url, slow, '{"serial":"s2","pauseMs":300}')
    assert h.wait_for("Received: " + '{"serial":"s1"')
    send_text(broker.amqp_url, fast, '{"serial":"f1"}')
    assert receive_text(broker.amqp_url, h.q("closeUserTradesCallback")) == echo("f1", 9)
    replies = receive_messages(broker.amqp_url, h.q("userRecordUpdateCallback"), 2, timeout=10)
    assert replies == [echo("s1", 2, pauseMs=1200), echo("s2", 2, pauseMs=300)]
    out = h.output()
    send_s1 = out.index("DestURI:%s,Send: " % h.q("userRecordUpdateCallback"))
    # The fast queue was answered while s1 was in progress; s2 started after s1's reply.
    assert out.index("DestURI:%s,Send: " % h.q("closeUserTradesCallback")) < send_s1
    assert send_s1 < out.index('Received: {"serial":"s2"')


def test_shared_queue_name_is_served_by_the_earlier_route(broker, harnesses):
    dup = "dup." + uuid.uuid4().hex[:8]
    h = ready(harnesses(broker.amqp_url, overrides={"symbolTradeUpdate": dup,
                                                     "symboGtcPendingUpdate": dup}))
    for i in range(3):
        send_text(broker.amqp_url, dup, '{"serial":"d%d"}' % i)
    assert receive_messages(broker.amqp_url, h.q("symbolTradeUpdateCallback"), 3) == \
        [echo("d0", 12), echo("d1", 12), echo("d2", 12)]
    assert receive_messages(broker.amqp_url, h.q("symboGtcPendingUpdateCallback"), 1,
                            timeout=0.5) == []
    out = h.output()
    assert "consumer destUrl(config.symbolTradeUpdate) success\n" in out
    assert "consumer destUrl(config.symboGtcPendingUpdate) already consumed: %s\n" % dup in out
    assert "start fail" not in out


def test_two_services_with_the_same_queues_both_connect(broker, harnesses, tmp_path):
    first = ready(harnesses(broker.amqp_url))
    second = ready(harnesses(broker.amqp_url, overrides=first.names))
    send_text(broker.amqp_url, first.q("updateSymbol"), '{"serial":"u1"}')
    assert receive_text(broker.amqp_url, first.q("updateSymbolCallback")) == echo("u1", 8)
    for h in (first, second):
        assert "consumer destUrl(config.updateSymbol) success\n" in h.output()
        assert "fail" not in h.output()


def test_empty_queue_names_only_print_is_null(broker, harnesses):
    h = ready(harnesses(broker.amqp_url, overrides={"importTrade": "",
                                                     "groupLeverageCallback": ""}))
    out = h.output()
    assert "consumer destUrl(config.importTrade) is null\n" in out
    assert "consumer destUrl(config.importTrade) success" not in out
    assert ("producer destUrl(config.groupLeverageCallback) start\n"
            "producer destUrl(config.groupLeverageCallback) is null\n") in out
    assert "producer destUrl(config.groupLeverageCallback) success" not in out
    # The route still runs; its reply goes nowhere and the queue goes on.
    send_text(broker.amqp_url, h.q("groupLeverage"), '{"serial":"g1"}')
    send_text(broker.amqp_url, h.q("groupLeverage"), '{"serial":"g2"}')
    assert h.wait_for('Received: {"serial":"g2"}')
    assert h.wait_for("reply not sent", 5)
    assert h.running()


def test_conversion_error_gets_no_reply_and_the_queue_goes_on(broker, shared):
    h = shared
    q = h.q("userRecordPasswordUpdate")
    send_text(broker.amqp_url, q, '{"serial":"c1","login":"abc"}')
    send_text(broker.amqp_url, q, '{"serial":"c2","login":7}')
    rq = h.q("userRecordPasswordUpdateCallback")
    assert receive_text(broker.amqp_url, rq) == echo("c2", 3, login=7)
    assert receive_messages(broker.amqp_url, rq, 1, timeout=0.5) == []
    assert "destURI #%s request not handled: " % q in h.output()
    # Handled means acknowledged: nothing is left on the request queue.
    assert receive_messages(broker.amqp_url, q, 1, timeout=0.5) == []


def test_request_whose_reply_is_undelivered_is_dead_lettered_with_it_and_run_once(broker,
                                                                                   shared):
    h = shared
    q = h.q("userRecordPasswordUpdate")
    send_text(broker.amqp_url, q, '{"serial":"x1","failReply":true}')
    send_text(broker.amqp_url, q, '{"serial":"x2","login":1}')
    rq = h.q("userRecordPasswordUpdateCallback")
    assert receive_text(broker.amqp_url, rq) == echo("x2", 3, login=1)
    out = h.output()
    assert out.count('Received: {"serial":"x1","failReply":true}') == 1
    moved = "destURI #%s request moved to the dead-letter queue DLQ.%s" % (q, q)
    assert out.count(moved) == 1 and h.log_text().count(moved) == 1
    dead = receive_message(broker.amqp_url, "DLQ." + q, timeout=5)
    assert dead.body == '{"serial":"x1","failReply":true}'
    assert dead.properties["undeliveredReply"] == echo("x1", 3, failReply=True)
    assert receive_messages(broker.amqp_url, q, 1, timeout=0.5) == []


def test_stop_finishes_the_request_in_progress(broker, harnesses):
    h = ready(harnesses(broker.amqp_url))
    q = h.q("userRecordUpdate")
    send_text(broker.amqp_url, q, '{"serial":"p1","pauseMs":1000}')
    send_text(broker.amqp_url, q, '{"serial":"p2","pauseMs":0}')
    assert h.wait_for('Received: {"serial":"p1"')
    h.stop()
    rq = h.q("userRecordUpdateCallback")
    assert receive_text(broker.amqp_url, rq) == echo("p1", 2, pauseMs=1000)
    assert receive_messages(broker.amqp_url, rq, 1, timeout=0.5) == []
    # p1 was acknowledged; p2 was never started and stays queued.
    assert receive_messages(broker.amqp_url, q, 2, timeout=1) == ['{"serial":"p2","pauseMs":0}']


def test_openwire_address_is_refused_with_one_clear_line(broker, harnesses):
    h = harnesses(broker.openwire_url)
    assert h.wait_exit() == 255
    out = h.output()
    assert out.count("is not supported: use amqp://host:port") == 1
    assert "producer destUrl(config.userRecordCreateCallback )fail\n" in out
    assert "consumer destUrl" not in out


def test_credentials_are_required_and_used(tmp_path, harnesses):
    b = start_broker(tmp_path / "auth-broker", "crm", "s3cret")
    try:
        good = ready(harnesses(b.amqp_url, credentials=("crm", "s3cret")))
        auth = {"user": "crm", "password": "s3cret"}
        send_text(b.amqp_url, good.q("updateSymbol"), '{"serial":"a1"}', **auth)
        assert receive_text(b.amqp_url, good.q("updateSymbolCallback"), **auth) == echo("a1", 8)
        bad = harnesses(b.amqp_url, credentials=("crm", "wrong"))
        assert bad.wait_exit() == 255
        assert "producer destUrl(config.userRecordCreateCallback )fail\n" in bad.output()
    finally:
        b.kill()


def test_broker_loss_without_failover_ends_the_process_with_1(tmp_path, harnesses):
    b = start_broker(tmp_path / "lost-broker")
    try:
        h = ready(harnesses(b.amqp_url))
        send_text(b.amqp_url, h.q("userRecordCreate"), '{"serial":"l1"}')
        assert receive_text(b.amqp_url, h.q("userRecordCreateCallback")) == echo("l1", 1)
    finally:
        b.kill()
    assert h.wait_exit() == 1
    assert h.output().count("CMS Exception occurred.  Shutting down client.\n") == 1


def test_broker_restart_under_failover_leaves_no_request_unanswered(tmp_path, harnesses):
    b = start_broker(tmp_path / "failover-broker")
    try:
        h = ready(harnesses("failover:(%s)?randomize=false" % b.amqp_url))
        q, rq = h.q("userRecordUpdate"), h.q("userRecordUpdateCallback")
        send_text(b.amqp_url, q, '{"serial":"r1","pauseMs":1500}')
        send_text(b.amqp_url, q, '{"serial":"r2","pauseMs":0}')
        assert h.wait_for('Received: {"serial":"r1"')
        b.restart(crash=True)  # while r1 is in progress
        send_text(b.amqp_url, q, '{"serial":"r3","pauseMs":0}')
        send_text(b.amqp_url, h.q("userRecordCreate"), '{"serial":"r4"}')
        assert receive_text(b.amqp_url, h.q("userRecordCreateCallback"), timeout=20) == \
            echo("r4", 1)
        serials = set()

        def all_answered():
            for body in receive_messages(b.amqp_url, rq, 10, timeout=2):
                serials.add(json.loads(body)["data"]["serial"])
            return serials == {"r1", "r2", "r3"}
        assert wait_until(all_answered, 30), (serials, h.output())
        # r1 ran once: its reply went out once, and the broker's redelivery
        # of it (its acknowledgement was lost with the connection) was
        # recognised.
        out = h.output()
        assert out.count('Send: {"code":200,"data":{"pauseMs":1500,"queue":2,'
                         '"routeType":"","serial":"r1"}') == 1, out
        assert "destURI #%s request already answered" % q in out
        assert h.running()
        h.stop()  # before its broker goes
    finally:
        b.kill()


def test_lost_producer_connection_without_failover_ends_the_process_with_1(broker, harnesses):
    proxy = Proxy(broker.amqp_port)
    try:
        h = ready(harnesses(proxy.amqp_url))
        # The producers connect first, in queue order: 0 is userRecordCreateCallback's.
        proxy.cut(0)
        assert h.wait_exit() == 1
        assert h.output().count("CMS Exception occurred.  Shutting down client.\n") == 1
    finally:
        proxy.close()
