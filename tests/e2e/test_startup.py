"""Start-up and stop of the service binary with the real broker and the
simulated trading server."""
import json
import os
import re
import signal
import subprocess
import time

import pytest

from fixtures.service import make_config, service_binary

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


MISSING = object()  # config.ini removed

# Each way start-up can fail before init, and the one line that names the
# cause: (config.ini's text, MISSING, or None to keep the one written; what
# else the service is given; the line).
START_FAILURES = [
    (MISSING, {}, "config.ini not found in {workdir}"),
    ("", {}, "config.ini is empty"),
    ('{\n  "server": "s"\n  "login": 1\n}', {},
     "config.ini is not valid JSON: Line 3, Column 3: Missing ',' or '}' in object declaration"),
    ("[1]", {}, "config.ini is not a JSON object"),
    ('{"login":1,"password":"p"}', {}, 'config.ini: "server" is missing or empty'),
    (None, {"overrides": {"login": "seven"}},
     'config.ini: "login" must be a number from -2147483648 to 2147483647'),
    (None, {"stores": {"financeBalanceHistory": '{"a":1}'}},
     "store file financeBalanceHistory is not a JSON array"),
    (None, {"stores": {"userInfo": '{"a":1}'}}, "store file userInfo is not a JSON array"),
    (None, {"overrides": {"metricsAddress": "192.0.2.1:9464"}},  # not this machine's
     "metrics endpoint 192.0.2.1:9464 cannot be opened: cannot listen on 192.0.2.1:9464: the "
     "port is in use, or the host is not an address of this machine"),
]
NO_PLUGIN = "manager library ../libs/mtmanapi.so cannot be loaded: ../libs/mtmanapi.so: " \
            "cannot open shared object file: No such file or directory"


def test_each_start_up_failure_names_its_cause_then_ends_with_minus_one_after_the_pause(
        service_factory, sim):
    services = []
    for number, (config_text, given, _) in enumerate(START_FAILURES):
        given = dict(given)
        svc = service_factory(sim, name="svc%d" % number, **given)
        path = os.path.join(svc.workdir, "config.ini")
        if config_text is MISSING:
            os.remove(path)
        elif config_text is not None:
            with open(path, "w") as f:
                f.write(config_text)
        services.append(svc.start(wait=False))
    for svc, (_, _, line) in zip(services, START_FAILURES):
        svc.close_stdin()
        assert svc.wait_exit(20) == 255
        line = line.replace("{workdir}", svc.workdir)
        out = svc.output()
        assert out.splitlines().count(line) == 1, out
        assert out.index(line) < out.index(PAUSE)
        assert line in svc.log_lines()
        assert "init success" not in out


def test_a_missing_plugin_is_named_and_start_up_goes_on_without_an_interface(service_factory):
    svc = service_factory(None).start(wait=False)
    svc.wait_for("Failed to create MetaTrader 4 Manager API interface\n", 20)
    svc.wait_for(NO_PLUGIN + "\n", 20)
    assert NO_PLUGIN in svc.log_lines()


def run_binary(args, cwd):
    done = subprocess.run([service_binary()] + args, cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
    return done.returncode, done.stdout.decode()


def folder_state(folder):
    """Every file under folder with its size and modification time."""
    state = {}
    for root, _, files in os.walk(folder):
        for name in files:
            info = os.stat(os.path.join(root, name))
            state[os.path.join(root, name)] = (info.st_size, info.st_mtime_ns)
    return state


def test_arguments_answer_without_writing_anything(service_factory, sim):
    svc = service_factory(sim, stores={"userInfo": "[]"})
    before = folder_state(svc.folder)

    status, out = run_binary(["--version"], svc.workdir)
    lines = out.splitlines()
    assert status == 0 and re.fullmatch(r"mt4bridge 1\.0\.0( \(\S+\))?", lines[0]), out
    for library in ("Qpid Proton", "JsonCpp", "simdjson"):
        assert any(re.fullmatch(library + r" \d+\.\d+\.\d+", l) for l in lines[1:]), out
    status, out = run_binary(["--help"], svc.workdir)
    assert status == 0 and out.startswith("usage: mt4bridge [--version"), out
    for wrong in (["--bogus"], ["--version", "--help"]):
        status, out = run_binary(wrong, svc.workdir)
        assert status == 2 and out.startswith("usage: mt4bridge [--version"), out
    assert run_binary(["--check-config"], svc.workdir) == (
        0, "config.ini and the stores are fine\n")
    # No lock, no log: the folder is as it was.
    assert folder_state(svc.folder) == before

    config = dict(svc.config, login="seven", timeZone=[1])
    del config["password"]
    make_config.write(os.path.join(svc.workdir, "config.ini"), config)
    with open(os.path.join(svc.workdir, "financeBalanceHistory"), "w") as f:
        f.write('{"a":1}')
    with open(os.path.join(svc.workdir, "emailSendHistory.journal"), "w") as f:
        f.write('{"comment":"c","login":1}\nnot a record\n{"comment":"d"')
    written = folder_state(svc.folder)
    assert run_binary(["--check-config"], svc.workdir) == (255, "".join(line + "\n" for line in [
        'config.ini: "login" must be a number from -2147483648 to 2147483647',
        'config.ini: "password" is missing or empty',
        'config.ini: "timeZone" must be a number of hours from -596523 to 596523',
        "store file financeBalanceHistory is not a JSON array",
        "store file emailSendHistory.journal line 2 does not read",
    ]))
    # No store written, nor the journal's torn last line cut.
    assert folder_state(svc.folder) == written


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
