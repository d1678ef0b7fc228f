"""Start-up and stop of the service binary with the real broker and the
simulated trading server."""
import json
import signal
import subprocess
import time

import pytest

from fixtures.service import service_binary

PAUSE = "Press any key to continue . . . "


def consumer_lines(out, what):
    return [l for l in out.splitlines() if l.startswith("consumer destUrl(") and l.endswith(what)]


def test_starts_serves_and_stops_on_sigterm(service_factory, sim):
    # Without startupPauseMs: the ten-second pause before the queues open.
    svc = service_factory(sim, real_pause=True)
    began = time.monotonic()
    svc.start()
    assert time.monotonic() - began >= 10.0
    out = svc.output()
    assert "Server: %s\n" % sim.address in out
    # The first symbol list arrives at once: its count is never printed.
    assert "SymbolsGetAll size(" not in out
    assert out.index("producer destUrl(config.symboQuoteDateUpdateCallback) success") < \
        out.index("consumer destUrl(config.userRecordCreate) success")
    assert out.count("producer destUrl(") == 30  # start + success for each
    assert "init success\n" in svc.log_text()
    # Every symbol was subscribed on the pumping connection.
    added = [c["args"] for c in sim.calls() if c["call"] == "SymbolAdd"]
    assert len(added) == 3
    # A second service in the same folder stops before it reads a store,
    # and the first keeps serving.
    second = subprocess.run([service_binary()], cwd=svc.workdir, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
    told = "working folder in use: mt4bridge.lock is locked by another process"
    assert second.returncode == 255 and told in second.stdout.decode(), second.stdout
    assert told in svc.log_text()
    reply = svc.ask("userLeverageUpdate", {"serial": "s2", "login": 1001, "leverage": 100})
    assert reply["code"] == 200
    svc.stop(signal.SIGTERM)
    assert "service stopped" in svc.output()


def test_operator_stops_with_one_and_a_key(service_factory, sim):
    svc = service_factory(sim).start(stdin_text="0\nyes\n2\n")
    svc.wait_for("is exit(0 or 1): " * 1, 5)
    svc.process.stdin.write(b"1\nk")
    svc.process.stdin.flush()
    assert svc.wait_exit(30) == 0
    out = svc.output()
    assert out.count("is exit(0 or 1): ") == 4
    assert "Press any key to stop..." in out


def test_end_of_input_keeps_serving(service_factory, sim):
    svc = service_factory(sim).start()
    svc.close_stdin()
    reply = svc.ask("userLeverageUpdate", {"serial": "s1", "routeType": "r"})
    assert reply["data"]["serial"] == "s1"
    assert svc.running()


@pytest.mark.parametrize("config_text", [None, "", "{}", '{"login":1,"password":"p"}', "[1]"])
def test_bad_settings_end_with_minus_one_after_the_pause(service_factory, sim, config_text):
    svc = service_factory(sim)
    path = svc.workdir + "/config.ini"
    if config_text is None:
        import os
        os.remove(path)
    else:
        with open(path, "w") as f:
            f.write(config_text)
    svc.start(wait=False)
    svc.close_stdin()
    assert svc.wait_exit(20) == 255
    assert PAUSE in svc.output()
    assert "init success" not in svc.output()


@pytest.mark.parametrize("store", ["financeBalanceHistory", "userInfo"])
def test_a_store_holding_an_object_stops_start_up(service_factory, sim, store):
    svc = service_factory(sim, stores={store: '{"a":1}'})
    svc.start(wait=False)
    svc.close_stdin()
    assert svc.wait_exit(20) == 255
    assert PAUSE in svc.output()


def test_reply_producer_that_cannot_open_fails_start_up(service_factory, sim):
    svc = service_factory(sim, overrides={"brokerURI": "amqp://127.0.0.1:1"})
    svc.start(wait=False)
    svc.close_stdin()
    assert svc.wait_exit(90) == 255
    out = svc.output()
    assert "producer destUrl(config.userRecordCreateCallback )fail\n" in out
    assert "cleanup success\n" in out
    assert out.index("cleanup success") < out.index(PAUSE)
    assert "consumer destUrl(" not in out


def test_empty_request_queue_names_are_skipped(service_factory, sim):
    import make_config
    svc = service_factory(sim, overrides={k: "" for k in make_config.REQUEST_KEYS})
    svc.start()
    out = svc.output()
    nulls = consumer_lines(out, "is null")
    assert len(nulls) == 15
    assert nulls[0] == "consumer destUrl(config.userRecordCreate) is null"
    assert nulls[13] == "consumer destUrl(config.symboTraderDateUpdate) is null"
    assert not consumer_lines(out, "success")


@pytest.mark.parametrize("pump,expected", [(1, 200), (0, -2)])
def test_account_list_replaces_the_files_identities(service_factory, sim, pump, expected):
    # The file says lead source "file"; the server says "server".
    state = sim.state()
    user = dict(state["users"][0])
    user.update(login=5001, lead_source="server", name="Server Name")
    state["users"].append(user)
    sim.seed(state)
    identities = [{"login": 5001, "name": "File Name", "email": "f@x.example",
                   "group": "demoforex", "comment": "", "leadSource": "file"}]
    svc = service_factory(sim, overrides={"pumpUpdateBidAsk": pump},
                          stores={"userInfo": json.dumps(identities)})
    svc.start()
    reply = svc.ask("userRecordCreate", {"serial": "p%d" % pump, "login": 5001,
                                         "name": "Server Name", "email": "s@x.example",
                                         "group": "demoforex", "comment": "c",
                                         "leadSource": "server", "valid": 1})
    assert reply["code"] == expected
