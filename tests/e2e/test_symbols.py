"""Group leverage and symbol configuration end to end: each change read back
from the simulated server's configuration."""
import json


def group(sim, name):
    return next(g for g in sim.state()["groups"] if g["group"] == name)


def symbol(sim, name):
    return next(s for s in sim.state()["symbols"] if s["symbol"] == name)


def called(sim, name):
    return [c for c in sim.calls() if c["call"] == name]


GROUP_CHANGE = {
    "serial": "g-1", "group": "demoforex", "logins": [1001, 1002],
    "symbols": [{"symbol": "EURUSD", "leverage": 300}, {"symbol": "GBPUSD", "leverage": 50},
                {"symbol": "NOPE", "leverage": 7}, {"symbol": "ForeignExchange", "leverage": 400},
                {"symbol": "EURUSD", "leverage": 250}],
}


def test_group_leverage_changes_named_symbols_and_accounts_and_gives_up_after_100_fetches(
        service_factory, sim):
    svc = service_factory(sim).start()
    before = {m["symbol"]: m["margin_divider"] for m in group(sim, "demoforex")["secmargins"]}
    sim.calls(clear=True)

    answer = svc.ask("groupLeverage", GROUP_CHANGE)
    assert answer["code"] == 200
    assert answer["data"]["symbols"] == [
        {"leverage": 250, "symbol": "EURUSD"}, {"leverage": 400, "symbol": "ForeignExchange"},
        {"leverage": 50, "symbol": "GBPUSD"}, {"leverage": 7, "symbol": "NOPE"}]
    assert answer["data"]["logins"] == [1001, 1002]
    after = {m["symbol"]: m["margin_divider"] for m in group(sim, "demoforex")["secmargins"]}
    assert after == dict(before, EURUSD=250.0, GBPUSD=50.0)
    assert [sim.user(login)["leverage"] for login in (1001, 1002, 1003)] == [400, 400, 200]
    assert "success-group\n" in svc.output() and "UsersGroupOp success\n" in svc.output()
    assert "group secmargins symbol:EURUSD,oldLeverage:100.000000,newLeverage:250.000000\n" \
        in svc.log_text()

    # Delivered again: the group already holds the values and is not written.
    sim.calls(clear=True)
    assert svc.ask("groupLeverage", GROUP_CHANGE)["code"] == 200
    assert not called(sim, "CfgUpdateGroup") and len(called(sim, "UsersGroupOp")) == 1
    bare = svc.ask("groupLeverage", {"group": "demoforex"})["data"]
    assert (bare["symbols"], bare["logins"], bare["serial"]) == (None, None, "")

    sim.script("GroupRecordGet", [6] * 100)
    sim.calls(clear=True)
    assert svc.ask("groupLeverage", GROUP_CHANGE)["code"] == -1001
    assert len(called(sim, "GroupRecordGet")) == 100
    assert not called(sim, "CfgUpdateGroup")


def test_symbol_settings_are_written_back_and_read_from_the_server(service_factory, sim):
    svc = service_factory(sim).start()
    assert svc.ask("symbolTradeUpdate", {"symbol": "XAUUSD", "trade": 0})["code"] == 200
    assert symbol(sim, "XAUUSD")["trade"] == 0
    swaps = svc.ask("updateSymbol", {"serial": "w", "symbol": "XAUUSD", "swapLong": -7.25})
    assert swaps["code"] == 200 and swaps["data"]["swapShort"] == 0
    closed_then_open = symbol(sim, "XAUUSD")
    assert (closed_then_open["trade"], closed_then_open["swap_long"],
            closed_then_open["swap_short"]) == (2, -7.25, 0.0)
    assert closed_then_open["digits"] == 2  # the rest as it was

    lev = svc.ask("symbolLeverageUpdate", {"symbol": "EURUSD", "leverage": 250})
    assert (lev["code"], lev["data"]["leverage"]) == (200, 250)
    gtc = svc.ask("symboGtcPendingUpdate", {"symbol": "EURUSD", "gtcPending": 7})
    assert (gtc["code"], gtc["data"]["gtcPending"]) == (200, 7)
    eurusd = symbol(sim, "EURUSD")
    assert (eurusd["margin_divider"], eurusd["gtc_pendings"]) == (2.5, 2)
    assert "EURUSD update success,leverage:250\n" in svc.output()
    assert "EURUSD update success,gtc_pendings:7\n" in svc.output()

    sim.calls(clear=True)
    assert svc.ask("symbolTradeUpdate", {"symbol": "eurusd", "trade": 1})["code"] == -1007
    assert not called(sim, "CfgUpdateSymbol")
    # A mode the server does not know is sent as received; the server refuses it.
    assert svc.ask("symbolTradeUpdate", {"symbol": "EURUSD", "trade": 9})["code"] == -3
    assert symbol(sim, "EURUSD")["trade"] == 2
    sim.calls(clear=True)
    sim.script("CfgUpdateSymbol", [1] * 6)
    assert svc.ask("symbolTradeUpdate", {"symbol": "EURUSD", "trade": 1})["code"] == -1
    assert len(called(sim, "CfgUpdateSymbol")) == 5
    assert "EURUSD update fail,trade:1\n" in svc.output()
    assert svc.ask("updateSymbol", {"symbol": "EURUSD", "swapLong": 1})["code"] == 200
    assert len(called(sim, "CfgUpdateSymbol")) == 6
    assert symbol(sim, "EURUSD")["trade"] == 2


def test_quote_sessions_set_the_first_session_of_each_day_only(service_factory, sim):
    svc = service_factory(sim).start()
    before = symbol(sim, "GBPUSD")["sessions"]
    times = {"openHour": 65537, "openMin": 30, "closeHour": 22, "closeMin": 15}
    answer = svc.ask("symboQuoteDateUpdate", {"serial": "q", "symbol": "GBPUSD",
                                               "conSessions1": times})
    assert answer["code"] == 200 and answer["data"]["conSessions1"] == times
    assert answer["data"]["conSessions4"] == dict.fromkeys(times, 0)
    after = symbol(sim, "GBPUSD")["sessions"]
    first = after[1]["quote"][0]
    assert [first[k] for k in ("open_hour", "open_min", "close_hour", "close_min")] == [1, 30, 22, 15]
    for day in range(7):
        if day != 1:
            assert after[day]["quote"][0]["close_hour"] == 0
        assert after[day]["quote"][1:] == before[day]["quote"][1:]
        assert after[day]["trade"] == before[day]["trade"]
    reply = json.dumps(answer, sort_keys=True, separators=(",", ":"))
    assert "GBPUSD update  quote date success,trade:%s\n" % reply in svc.output()

    # The trade sessions' reply comes back on the doubled-e reply queue.
    traded = svc.ask("symboTraderDateUpdate", {"symbol": "GBPUSD", "conSessions0": times})
    assert traded["code"] == 200
    sessions = symbol(sim, "GBPUSD")["sessions"]
    sunday = sessions[0]["trade"][0]
    assert [sunday[k] for k in ("open_hour", "open_min", "close_hour", "close_min")] == \
        [1, 30, 22, 15]
    assert sessions[0]["quote"] == after[0]["quote"] and sessions[1]["quote"][0] == first
