"""The broker's users, per-queue rights and dead-letter queues of
deploy/activemq.xml, loaded as they are by the test broker, with the service
and the back office's clients (AMQP, JMS over OpenWire, STOMP) on the default
queue names."""
import json
import os
import queue

import pytest
import stomp

from fixtures import schemas
from fixtures.broker import TOP, connect, receive_message, receive_text, send_text, start_broker
from fixtures.service import Service
from fixtures.sim import Sim, default_state

import make_config

SERVICE = ("bridge", "Bridge-Pass1")
BACK_OFFICE = ("backoffice", "Office-Pass2")
OTHER = ("someone", "Other-Pass3")  # may log in, has no rights
OPERATOR = ("operator", "Oper-Pass4")
DEFAULT_NAMES = {k: k for k in make_config.REQUEST_KEYS + make_config.READ_KEYS}
DEFAULT_NAMES.update({make_config.reply_key(k): make_config.reply_key(k)
                      for k in make_config.REQUEST_KEYS + make_config.READ_KEYS})


def auth(user):
    return {"user": user[0], "password": user[1]}


@pytest.fixture(scope="module")
def secured(tmp_path_factory):
    """A broker with deploy/activemq.xml's users and rights (and one more
    user), a simulated server and the service logged in as "bridge", which
    leaves importTrade to the tests."""
    folder = tmp_path_factory.mktemp("rights")
    props = folder / "credentials.properties"
    props.write_text("bridge.password=%s\nbackoffice.password=%s\noperator.password=%s\n"
                     % (SERVICE[1], BACK_OFFICE[1], OPERATOR[1]))
    broker = start_broker(folder / "broker", OTHER[0], OTHER[1], options={
        "security": os.path.join(TOP, "deploy", "activemq.xml"),
        "securityProperties": str(props), "stompPort": 0})
    sim = Sim(folder / "sim", default_state()).start()
    svc = Service(folder / "svc", broker, sim, queue_names=DEFAULT_NAMES,
                  overrides={"activeMqName": SERVICE[0], "activeMqPassword": SERVICE[1],
                             "importTrade": "", "serverEvents": "topic://serverEvents"})
    try:
        svc.start()
        yield broker, sim, svc
    finally:
        svc.stop()
        sim.stop()
        broker.kill()


def deposit(serial, amount):
    return json.dumps({"serial": serial, "login": 1001, "amount": amount, "type": 1,
                       "comment": serial, "routeType": "crm"})


def test_back_office_user_is_served_over_amqp_and_jms(secured, jms_client):
    broker, sim, _ = secured
    # It reads an account and follows the server's events.
    events = connect(broker.amqp_url, **auth(BACK_OFFICE))
    try:
        subscription = events.create_receiver("topic://serverEvents", credit=10)
        send_text(broker.amqp_url, "userRecordGet", '{"serial":"r1","login":1001}',
                  **auth(BACK_OFFICE))
        reply = json.loads(receive_text(broker.amqp_url, "userRecordGetCallback", timeout=30,
                                        **auth(BACK_OFFICE)))
        assert (reply["code"], reply["data"]["account"]["login"]) == (200, 1001)
        order = sim.balance(1001, 6, 1, "rights")["order"]
        # Events of the module's other tests may come first.
        seen = []
        while not seen or (seen[-1]["data"].get("order") != order and len(seen) < 10):
            seen.append(json.loads(subscription.receive(timeout=30).body))
        assert (seen[-1]["event"], seen[-1]["data"].get("order")) == ("trade", order), seen
    finally:
        events.close()
    send_text(broker.amqp_url, "emailSend", json.dumps(
        {"serial": "a1", "logins": [1004], "subject": "S", "content": "C"}), **auth(BACK_OFFICE))
    reply = json.loads(receive_text(broker.amqp_url, "emailSendCallback", timeout=30,
                                    **auth(BACK_OFFICE)))
    assert (reply["code"], reply["data"]["serial"]) == (200, "a1")
    # A JMS client also needs the advisory topics.
    request = '{"serial":"j1","login":1004,"leverage":200}'
    schemas.check_request("userLeverageUpdate", request)
    r = jms_client(broker.openwire_url, "userLeverageUpdate", "userLeverageUpdateCallback",
                   request, 30000, *BACK_OFFICE)
    assert r.returncode == 0, r.stdout + r.stderr
    reply = r.stdout.split("\n", 1)[1]
    schemas.check_reply("userLeverageUpdateCallback", reply)
    assert json.loads(reply)["code"] == 200


def test_other_user_is_refused_and_nothing_reaches_the_server(secured):
    broker, sim, svc = secured
    before = sim.user(1001)["balance"]
    with pytest.raises(Exception, match="not authorized to write to: queue://tradeTransInfo"):
        send_text(broker.amqp_url, "tradeTransInfo", deposit("x1", 7.0), **auth(OTHER))
    with pytest.raises(Exception, match="not authorized to read from"):
        receive_text(broker.amqp_url, "tradeTransInfoCallback", timeout=1, **auth(OTHER))
    # The queue is served in arrival order: the back office's next request
    # is answered first, and only its money moved.
    send_text(broker.amqp_url, "tradeTransInfo", deposit("b1", 3.0), **auth(BACK_OFFICE))
    reply = json.loads(receive_text(broker.amqp_url, "tradeTransInfoCallback", timeout=30,
                                    **auth(BACK_OFFICE)))
    assert (reply["code"], reply["data"]["serial"]) == (200, "b1")
    assert sim.user(1001)["balance"] == pytest.approx(before + 3.0)
    assert "x1" not in svc.output()


def test_service_without_its_rights_fails_start_up(secured, tmp_path):
    """Logged in as the back office: its reply producers are refused, which
    ends start-up; with no reply queues configured, its subscriptions are
    refused one by one and those queues stay unserved."""
    broker, sim, _ = secured
    office = {"activeMqName": BACK_OFFICE[0], "activeMqPassword": BACK_OFFICE[1]}
    no_replies = dict(office, **{make_config.reply_key(k): "" for k in DEFAULT_NAMES
                                 if k in make_config.REQUEST_KEYS + make_config.READ_KEYS},
                      serverEvents="")
    failing = Service(tmp_path / "a", broker, sim, queue_names=DEFAULT_NAMES, overrides=office)
    unserved = Service(tmp_path / "b", broker, sim, queue_names=DEFAULT_NAMES,
                       overrides=no_replies)
    try:
        failing.start(wait=False)
        failing.close_stdin()
        unserved.start()
        assert failing.wait_exit(90) == 255
        unserved.wait_for("consumer destUrl(config.symboQuoteDateUpdate) success", 10)
        for key in make_config.REQUEST_KEYS:
            unserved.wait_for("Consumer destURI:%s start fail" % key, 20)
    finally:
        failing.stop()
        unserved.stop()
    out = failing.output()
    assert [l for l in out.splitlines() if "not authorized" in l] == [
        "Producer destURI:userRecordCreateCallback open failed: sender refused: "
        "amqp:unauthorized-access: User backoffice is not authorized to write to: "
        "queue://userRecordCreateCallback"], out
    assert "producer destUrl(config.userRecordCreateCallback )fail\n" in out
    assert ") success" not in out and "init success" not in out
    assert "destURI #tradeTransInfo subscription refused: amqp:unauthorized-access: User " \
        "backoffice is not authorized to read from: queue://tradeTransInfo\n" in unserved.output()


def test_request_its_consumer_rejects_is_dead_lettered_for_the_operator_only(secured):
    broker, _, _ = secured
    url = broker.amqp_url
    send_text(url, "importTrade", "not a request", check=False, **auth(BACK_OFFICE))
    c = connect(url, **auth(SERVICE))
    try:
        r = c.create_receiver("importTrade", credit=1)
        assert r.receive(timeout=30).body == "not a request"
        r.reject()
    finally:
        c.close()
    with pytest.raises(Exception, match="not authorized to read from: queue://DLQ.importTrade"):
        receive_message(url, "DLQ.importTrade", timeout=1, **auth(BACK_OFFICE))
    assert receive_message(url, "DLQ.importTrade", timeout=30, **auth(OPERATOR)).body == \
        "not a request"
    # Once the cause is fixed, the operator puts the request back on its queue.
    send_text(url, "importTrade", "fixed request", check=False, **auth(OPERATOR))
    assert receive_text(url, "importTrade", timeout=30, check=False, **auth(SERVICE)) == \
        "fixed request"


class StompClient(stomp.ConnectionListener):
    """The back office over STOMP: sends frames, gathers the MESSAGE frames
    of its subscriptions."""

    def __init__(self, port, user):
        self.frames = queue.Queue()
        self.conn = stomp.Connection([("127.0.0.1", port)])
        self.conn.set_listener("", self)
        self.conn.connect(user[0], user[1], wait=True)

    def on_message(self, frame):
        self.frames.put(frame)

    def next(self, timeout):
        try:
            return self.frames.get(timeout=timeout)
        except queue.Empty:
            return None


def test_stomp_text_request_is_served_and_a_bytes_message_is_not(secured):
    broker, _, svc = secured
    client = StompClient(broker.stomp_port, BACK_OFFICE)
    try:
        client.conn.subscribe("/queue/updateSymbolCallback", id="r", ack="auto")
        text = {"amq-msg-type": "text", "persistent": "true"}
        request = '{"serial":"%s","symbol":"XAUUSD","swapLong":-2}'
        schemas.check_request("updateSymbol", request % "s1")
        client.conn.send("/queue/updateSymbol", request % "s1", headers=text)
        first = client.next(30)
        assert first is not None and json.loads(first.body)["data"]["serial"] == "s1"
        schemas.check_reply("updateSymbolCallback", first.body)
        assert first.headers.get("persistent") == "true"
        # Without the header the frame (stomp.py sends a content-length) is
        # a bytes message: no reply; the next request is served.
        client.conn.send("/queue/updateSymbol", request % "s2", headers={"persistent": "true"})
        client.conn.send("/queue/updateSymbol", request % "s3", headers=text)
        third = client.next(30)
        assert third is not None and json.loads(third.body)["data"]["serial"] == "s3"
        assert "destURI #updateSymbol Received: NOT A TEXTMESSAGE!\n" in svc.output()
    finally:
        client.conn.disconnect()
