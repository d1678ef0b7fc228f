"""The manager-interface plugin against the simulated server, driven
through sim_client_harness: sessions, pumped events, dead links."""
from fixtures.sim import MANAGER_LOGIN, MANAGER_PASSWORD
from fixtures.wait import wait_until


def _logged_in(sim, sim_client):
    client = sim_client()
    assert client.command("connect " + sim.address) == ["connect", "0"]
    assert client.command("login %d %s" % (MANAGER_LOGIN, MANAGER_PASSWORD)) == ["login", "0"]
    return client


def test_login_rules_and_calls_before_login(sim, sim_client):
    client = sim_client()
    assert client.command("get 1001")[:2] == ["get", "6"]
    assert client.command("connect " + sim.address) == ["connect", "0"]
    assert client.command("get 1001")[:2] == ["get", "6"]
    assert client.command("login 1 wrongpass") == ["login", "64"]
    assert client.command("login 1 " + MANAGER_PASSWORD) == ["login", "0"]
    answer = client.command("get 1001")
    assert answer[:3] == ["get", "0", "login=1001"]
    assert client.command("get 4242")[:2] == ["get", "65"]
    assert client.command("symbols")[:6] == ["symbols", "0", "total=3", "EURUSD",
                                             "GBPUSD", "XAUUSD"]
    sim.checked({"cmd": "refuse", "on": True})
    assert client.command("connect " + sim.address) == ["connect", "6"]
    sim.checked({"cmd": "refuse", "on": False})
    assert client.command("connect 127.0.0.1:notaport") == ["connect", "3"]


def test_balance_operation_is_pumped_as_a_deleted_trade(sim, sim_client):
    pump = _logged_in(sim, sim_client)
    assert pump.command("pump 11") == ["pump", "0"]
    assert pump.wait_event(lambda e: e["code"] == "0") is not None
    normal = _logged_in(sim, sim_client)
    answer = normal.command("balance 1001 6 150.5 deposit-77")
    assert answer[:2] == ["balance", "0"]
    order = answer[2].split("=")[1]
    event = pump.wait_event(lambda e: e["code"] == "9")
    assert event["type"] == "1" and event["cmd"] == "6"
    assert event["order"] == order and event["login"] == "1001"
    assert event["comment"] == "deposit-77"
    user = pump.wait_event(lambda e: e["code"] == "3")
    assert user["type"] == "2" and user["balance"] == "10150.5"
    # Not enough money for a withdrawal.
    assert normal.command("balance 1004 6 -5 too-much")[:2] == ["balance", "134"]
    # A balance operation of another manager is pumped the same way.
    other = sim.balance(1002, 7, 20, "credit-x")["order"]
    assert pump.wait_event(lambda e: e["code"] == "9" and e["order"] == str(other)) \
        ["cmd"] == "7"
    record = [t for t in sim.state()["history"] if t["order"] == int(order)][0]
    assert record["open_time"] == record["close_time"] > 0


def test_account_add_update_delete_events(sim, sim_client):
    pump = _logged_in(sim, sim_client)
    assert pump.command("pump 11") == ["pump", "0"]
    normal = _logged_in(sim, sim_client)
    answer = normal.command("newuser demoforex New Person")
    assert answer[:2] == ["newuser", "0"]
    login = answer[2].split("=")[1]
    assert int(login) >= 2000
    added = pump.wait_event(lambda e: e["code"] == "3" and e["type"] == "0")
    assert added["login"] == login
    assert normal.command("newuser nosuchgroup Someone")[:2] == ["newuser", "3"]
    assert normal.command("update %s Renamed" % login) == ["update", "0"]
    updated = pump.wait_event(lambda e: e["code"] == "3" and e["type"] == "2")
    assert updated["login"] == login and updated["name"] == "Renamed"
    sim.checked({"cmd": "delete_user", "login": int(login)})
    deleted = pump.wait_event(lambda e: e["code"] == "3" and e["type"] == "1")
    assert deleted["login"] == login
    assert sim.user(int(login)) is None


def test_quotes_only_reach_clients_pumping_with_flags_0(sim, sim_client):
    quotes = _logged_in(sim, sim_client)
    silent = _logged_in(sim, sim_client)
    assert quotes.command("pump 0") == ["pump", "0"]
    assert silent.command("pump 11") == ["pump", "0"]
    sim.quote("EURUSD", 1.2345, 1.2347)
    event = quotes.wait_event(lambda e: e["code"] == "5" and e.get("bid") == "1.2345")
    assert event is not None and event["symbol"] == "EURUSD"
    sim.balance(1001, 6, 1, "marker")
    assert silent.wait_event(lambda e: e["code"] == "9") is not None
    assert not [e for e in silent.events if e["code"] == "5"]
    clients = {c["session"]: c for c in sim.clients()}
    assert sorted(c["flags"] for c in clients.values() if c["pumping"]) == [0, 11]
    flags = [c["args"]["flags"] for c in sim.calls() if c["call"] == "PumpingSwitchEx"]
    assert sorted(flags) == [0, 11]


def test_dead_link_is_noticed(sim, sim_client):
    client = _logged_in(sim, sim_client)
    assert client.command("pump 11") == ["pump", "0"]
    assert client.command("isconnected") == ["isconnected", "1"]
    assert client.command("ping") == ["ping", "0"]
    sim.checked({"cmd": "drop"})
    wait_until(lambda: client.command("isconnected") == ["isconnected", "0"], 10,
               "the dropped link noticed")
    assert client.command("ping") == ["ping", "1"]
    assert client.command("get 1001")[:2] == ["get", "6"]
    # Reconnects after the outage; a stopped server fails at once, well
    # within the harness's wait for an answer.
    assert client.command("connect " + sim.address) == ["connect", "0"]
    sim.stop()
    assert client.command("isconnected") == ["isconnected", "0"]
    assert client.command("connect " + sim.address, timeout=10) == ["connect", "6"]
    assert client.command("servertime") == ["servertime", "0"]
