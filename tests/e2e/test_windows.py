"""The Windows build of the service, run under Wine against the native broker
and the native simulator, which it reaches through the Windows build of the
plugin (..\\libs\\mtmanapi.dll)."""
import json
import os
import signal
import subprocess

import pytest

from fixtures import wine
from fixtures.process import stopped_at_teardown
from fixtures.requests import account, movement
from fixtures.service import Service
from fixtures.sim import recent_state
from fixtures.broker import receive_text, send_text
from fixtures.tls import AUTH, REFUSED, tls_config
from fixtures.tls import tls_broker, tls_files  # noqa: F401 (fixtures)
from fixtures.wait import wait_until

_why = wine.available()
if _why:
    pytest.skip("Windows tests skipped: " + _why, allow_module_level=True)


@pytest.fixture
def money_sim(sim_factory):
    return sim_factory(recent_state())


def history_of(sim, comment):
    return [t["order"] for t in sim.state()["history"] if t["comment"] == comment]


def test_requests_are_answered_once_through_a_kill_and_the_console_stops_it(
        service_factory, money_sim):
    sim = money_sim
    start = sim.user(1001)["balance"]
    svc = service_factory(sim, windows=True).start()
    # A second service in the same folder stops before it reads a store.
    args, env = wine.command(wine.service_binary())
    second = subprocess.run(args, env=env, cwd=svc.workdir, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    assert second.returncode == 255, second.stdout
    assert b"working folder in use: mt4bridge.lock is locked by another process" in second.stdout
    created = svc.ask("userRecordCreate", account(7101))
    assert created["code"] == 200 and sim.user(7101)["name"] == "Ann Lee"
    dep = movement("w-1", 1001, 100, "win-dep-1")
    first = svc.ask("tradeTransInfo", dep)
    assert first["code"] == 200
    again = svc.ask("tradeTransInfo", dep)
    assert again["code"] == 200 and again["data"]["order"] == first["data"]["order"]
    assert sim.user(1001)["balance"] == start + 100

    # Killed after the server moved the money, before the service heard.
    sim.hold("TradeTransaction")
    svc.send("tradeTransInfo", movement("w-2", 1001, 50, "win-dep-2"))
    wait_until(sim.held, 60, "held TradeTransaction")
    [moved] = history_of(sim, "win-dep-2")
    svc.kill()
    sim.release()
    svc.start()
    reply = json.loads(svc.reply("tradeTransInfo", timeout=60))
    assert reply["code"] == 200 and reply["data"]["order"] == moved
    assert history_of(sim, "win-dep-2") == [moved]
    assert sim.user(1001)["balance"] == start + 150

    svc.wait_for("is exit(0 or 1): ", 10)
    svc.process.stdin.write(b"1\nk")
    svc.process.stdin.flush()
    assert svc.wait_exit(30) == 0
    assert "Press any key to stop..." in svc.output()
    assert "service stopped\n" in svc.log_text()


def test_ctrl_c_stops_it_cleanly(service_factory, sim):
    svc = service_factory(sim, windows=True).start()
    assert svc.stop(signal.SIGINT) == 0
    assert "signal 2: stopping" in svc.output() and "service stopped\n" in svc.log_text()


def pkcs12(pem, folder):
    """The CA certificate of pem as a PKCS#12 file without a password. Wine
    imports a PKCS#12 file only with a private key in it (Windows takes one
    of certificates only): the CA's own key goes in beside it."""
    out = str(folder / (os.path.basename(pem) + ".p12"))
    subprocess.run(["openssl", "pkcs12", "-export", "-in", pem, "-inkey", pem[:-4] + ".key",
                    "-out", out, "-passout", "pass:", "-certpbe", "NONE", "-keypbe", "NONE",
                    "-nomac"], check=True, capture_output=True, timeout=60)
    return out


@pytest.fixture
def tls_services(tmp_path, tls_broker):  # noqa: F811 (fixture)
    yield from stopped_at_teardown(
        lambda sim, name, **kw: Service(tmp_path / name, tls_broker, sim, windows=True, **kw))


def test_tls_trusts_the_ca_of_a_pkcs12_file_and_refuses_another(
        tls_services, sim, tls_broker, tls_files, tmp_path):  # noqa: F811 (fixtures)
    ca, other = pkcs12(tls_files.ca, tmp_path), pkcs12(tls_files.other_ca, tmp_path)
    url = tls_broker.amqps_url
    svc = tls_services(sim, "ok", overrides=tls_config(url, ca)).start()
    send_text(tls_broker.amqp_url, svc.queue("userLeverageUpdate"),
              json.dumps({"serial": "t1", "login": 1004, "leverage": 200}), **AUTH)
    reply = receive_text(tls_broker.amqp_url, svc.queue("userLeverageUpdateCallback"), 30,
                         **AUTH)
    assert json.loads(reply)["code"] == 200 and sim.user(1004)["leverage"] == 200

    refused = tls_services(sim, "other", overrides=tls_config(url, other))
    refused.start(wait=False)
    refused.close_stdin()
    assert refused.wait_exit(60) == 255
    line = REFUSED % (url, other, "localhost")
    assert refused.output().count(line) == 1 and refused.log_text().count(line) == 1
