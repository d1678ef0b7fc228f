"""The service reaches the broker over TLS (amqps://): the broker's
certificate is checked against brokerCaFile and the host name of the address
member connected, and the credentials travel over TLS with SASL PLAIN."""
import json
import socket
import time

import pytest

import make_config
from fixtures.broker import receive_messages, send_text
from fixtures.tls import AUTH, REFUSED, tls_config
from fixtures.tls import tls_broker, tls_files  # noqa: F401 (fixtures)


@pytest.fixture
def refused_port():
    """A loopback port held bound but not listening for the test: nothing
    answers there, and nothing else can take it meanwhile."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        yield s.getsockname()[1]


@pytest.fixture
def broker(tls_broker):
    """The broker of service_factory's services: the TLS one. The tests' own
    clients use its plain port."""
    return tls_broker


def send(svc, key, payload):
    send_text(svc.broker.amqp_url, svc.queue(key), json.dumps(payload), **AUTH)


def replies(svc, key, serials, timeout):
    """Replies on key's reply queue until each of serials has one. After a
    broker crash a reply may come twice: the broker had stored it, but its
    acceptance was lost and the service sent it again."""
    queue = svc.queue(make_config.reply_key(key))
    got = []
    deadline = time.monotonic() + timeout
    while not serials <= {r["data"]["serial"] for r in got} and time.monotonic() < deadline:
        got += [json.loads(b) for b in receive_messages(svc.broker.amqp_url, queue, 10, 2,
                                                         **AUTH)]
    return got


def test_amqps_with_ca_file_and_credentials_serves_requests(service_factory, sim, tls_broker,
                                                            tls_files):
    svc = service_factory(sim, overrides=tls_config(tls_broker.amqps_url, tls_files.ca)).start()
    send(svc, "userLeverageUpdate", {"serial": "t1", "login": 1004, "leverage": 200})
    send(svc, "updateSymbol", {"serial": "t2", "symbol": "XAUUSD", "swapLong": -2.0})
    for key, serial in (("userLeverageUpdate", "t1"), ("updateSymbol", "t2")):
        [reply] = replies(svc, key, {serial}, 30)
        assert (reply["code"], reply["data"]["serial"]) == (200, serial), svc.output()


def test_refused_certificate_stops_start_up_with_one_line(service_factory, sim, tls_broker,
                                                          tls_files, refused_port):
    by_name = tls_broker.amqps_url
    by_address = "amqps://127.0.0.1:%d" % tls_broker.amqps_port
    dead = "amqps://localhost:%d" % refused_port
    # (brokerURI, brokerCaFile, member refused, host it must name)
    cases = [
        (by_name, tls_files.other_ca, by_name, "localhost"),
        (by_address, tls_files.ca, by_address, "127.0.0.1"),
        # A failover member is checked against its own host name, not the
        # first member's; and the refusal ends start-up instead of a retry
        # for ever.
        ("failover:(%s,%s)" % (dead, by_address), tls_files.ca, by_address, "127.0.0.1"),
    ]
    services = []
    for i, (uri, ca, _, _) in enumerate(cases):
        svc = service_factory(sim, name="refused%d" % i, overrides=tls_config(uri, ca))
        svc.start(wait=False)
        svc.close_stdin()
        services.append((svc, time.monotonic()))
    for (svc, started), (_, ca, member, host) in zip(services, cases):
        assert svc.wait_exit(60) == 255
        # The start-up pause and the refusal, not the 30 s more that an open
        # waits for a broker that does not answer.
        pause = svc.config.get("startupPauseMs", 10000) / 1000
        assert time.monotonic() - started < pause + 25
        out = svc.output()
        line = REFUSED % (member, ca, host)
        assert out.count(line) == 1 and svc.log_text().count(line[:-1]) == 1, out
        assert "producer destUrl(config.userRecordCreateCallback )fail\n" in out
        assert "init success" not in out


def test_broker_crash_under_failover_loses_no_request(service_factory, sim, tls_broker,
                                                      tls_files, refused_port):
    # The first member is never there: every reconnection passes it and then
    # reaches the broker under its own name.
    uri = "failover:(amqps://127.0.0.1:%d,%s)" % (refused_port, tls_broker.amqps_url)
    svc = service_factory(sim, overrides=tls_config(uri, tls_files.ca)).start()
    key = "userLeverageUpdate"
    send(svc, key, {"serial": "c1", "login": 1004, "leverage": 100})
    send(svc, key, {"serial": "c2", "login": 1004, "leverage": 200})
    svc.wait_for('Received: {"serial": "c1"', 30)
    tls_broker.restart(crash=True)
    send(svc, key, {"serial": "c3", "login": 1004, "leverage": 500})
    got = replies(svc, key, {"c1", "c2", "c3"}, 60)
    answers = {(r["data"]["serial"], r["code"]) for r in got}
    assert answers == {("c1", 200), ("c2", 200), ("c3", 200)}, svc.output()[-4000:]
    assert svc.process.poll() is None
