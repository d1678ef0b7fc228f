"""The simulated trading server on its own: state file, restart, admin
channel, hostile input."""
import json
import os
import select
import socket
import struct

from fixtures.sim import MANAGER_LOGIN, MANAGER_PASSWORD, default_state
from fixtures.wait import wait_until


def _frame(payload):
    return struct.pack(">I", len(payload)) + payload


def _read_frame(conn):
    head = b""
    while len(head) < 4:
        chunk = conn.recv(4 - len(head))
        if not chunk:
            return None
        head += chunk
    (size,) = struct.unpack(">I", head)
    body = b""
    while len(body) < size:
        chunk = conn.recv(size - len(body))
        if not chunk:
            return None
        body += chunk
    return json.loads(body)


def _send(conn, call, args, ident=1):
    conn.sendall(_frame(json.dumps({"id": ident, "call": call, "args": args}).encode()))


def _client_call(conn, call, args, ident=1):
    _send(conn, call, args, ident)
    return _read_frame(conn)


def test_state_and_money_survive_restart_and_kill(sim):
    order = sim.balance(1001, 6, 250.25, "restart-check")["order"]
    sim.balance(1002, 7, 100.0, "credit-check")
    sim.restart()
    assert sim.user(1001)["balance"] == 10250.25
    assert sim.user(1002)["credit"] == 100.0
    history = {t["order"]: t for t in sim.state()["history"]}
    assert history[order]["comment"] == "restart-check"
    assert history[order]["cmd"] == 6
    # A crash right after a change keeps it too: the file is written first.
    sim.balance(1001, 6, -0.25, "before-crash")
    sim.kill()
    sim.start()
    assert sim.user(1001)["balance"] == 10250.0
    # Tickets keep increasing across restarts.
    assert sim.balance(1001, 6, 1.0, "after")["order"] > order


def test_missing_state_file_gives_empty_state_without_managers(sim_factory, tmp_path):
    sim = sim_factory(state={}, name="empty")
    os.remove(sim.state_path)
    sim.restart()
    state = sim.state()
    assert state["managers"] == [] and state["users"] == []
    with socket.create_connection(("127.0.0.1", sim.port), 5) as conn:
        conn.settimeout(5)
        answer = _client_call(conn, "Login", {"login": 1, "password": "x"})
        assert answer["result"] == 64


def test_seed_replaces_the_state_and_is_saved(sim):
    state = default_state()
    state["users"] = state["users"][:1]
    sim.seed(state)
    assert [u["login"] for u in sim.state()["users"]] == [1001]
    with open(sim.state_path, encoding="utf-8") as f:
        assert [u["login"] for u in json.load(f)["users"]] == [1001]
    bad = sim.admin({"cmd": "seed", "state": {"users": [{"login": "x"}]}})
    assert bad["ok"] is False
    assert [u["login"] for u in sim.state()["users"]] == [1001]


def test_admin_channel_rejects_hostile_requests_and_keeps_running(sim):
    hostile = [
        b"{not json\n",
        b"[]\n",
        b"null\n",
        b'{"cmd": 12}\n',
        b'{"cmd": "unknown-command"}\n',
        b'{"cmd": "balance", "login": "1001", "cmd6": 6, "amount": 1}\n',
        b'{"cmd": "balance", "login": 1001, "cmd6": 6, "amount": 1e400}\n',
        b'{"cmd": "balance", "login": 1001, "cmd6": 9, "amount": 5}\n',
        b'{"cmd": "quote", "symbol": "NOPE", "bid": 1, "ask": 2}\n',
        b'{"cmd": "quote", "symbol": "EURUSD", "bid": -1, "ask": 2}\n',
        b'{"cmd": "script", "call": "Login", "results": [1, "x"]}\n',
        b'{"cmd": "seed", "state": [1, 2]}\n',
        b'{"cmd": "time_offset", "seconds": 1e30}\n',
        b'{"cmd": "refuse", "on": "yes"}\n',
        b"\xff\xfe\x00\x01garbage\n",
        b"[" * 100000 + b"\n",
    ]
    for data in hostile:
        answer = sim.admin_raw(data)
        assert answer is not None and answer["ok"] is False, data[:40]
    # An overlong line is refused and the connection closed.
    answer = sim.admin_raw(b"x" * (9 << 20) + b"\n", timeout=30)
    assert answer is None or answer["ok"] is False
    assert sim.running()
    assert sim.user(1001)["balance"] == 10000.0


def test_client_port_survives_hostile_frames(sim):
    garbage = [
        b"\x00\x00\x00\x05hello",
        _frame(b"{}"),
        _frame(b'{"call": 5}'),
        _frame(b'{"id": 1, "call": "NoSuchCall", "args": {}}'),
        _frame(b'{"id": 1, "call": "Login", "args": {"login": "1", "password": 2}}'),
        _frame(b'{"id": 1, "call": "PumpAttach", "args": {"token": "forged"}}'),
        _frame(b'{"id": 1, "call": "Login", "args": []}'),
    ]
    with socket.create_connection(("127.0.0.1", sim.port), 5) as conn:
        conn.settimeout(5)
        for data in garbage:
            conn.sendall(data)
            answer = _read_frame(conn)
            assert answer is not None and answer["result"] != 0
        # Calls before login are refused with "no connection".
        assert _client_call(conn, "UsersGet", {})["result"] == 6
        assert _client_call(conn, "Login", {"login": MANAGER_LOGIN,
                                            "password": "wrong"})["result"] == 64
        assert _client_call(conn, "Login", {"login": MANAGER_LOGIN,
                                            "password": MANAGER_PASSWORD})["result"] == 0
        bad = _client_call(conn, "TradeTransaction",
                           {"info": {"type": 83, "cmd": 6, "orderby": 1001,
                                     "price": "lots", "comment": "x"}})
        assert bad["result"] == 3
        assert _client_call(conn, "UserRecordGet", {"login": 1001})["user"]["login"] == 1001
    # A frame announcing more than the limit ends that connection only.
    with socket.create_connection(("127.0.0.1", sim.port), 5) as conn:
        conn.settimeout(5)
        conn.sendall(b"\x7f\xff\xff\xff")
        assert conn.recv(10) == b""
    # A half-sent frame followed by a hang-up does no harm either.
    with socket.create_connection(("127.0.0.1", sim.port), 5) as conn:
        conn.sendall(b"\x00\x00\x10\x00{")
    assert sim.admin({"cmd": "ping"})["ok"] is True
    assert sim.user(1001)["balance"] == 10000.0


def test_calls_log_scripts_and_refuse(sim):
    sim.calls(clear=True)
    with socket.create_connection(("127.0.0.1", sim.port), 5) as conn:
        conn.settimeout(5)
        assert _client_call(conn, "Login", {"login": MANAGER_LOGIN,
                                            "password": MANAGER_PASSWORD})["result"] == 0
        sim.script("UserRecordGet", [65, 0])
        assert _client_call(conn, "UserRecordGet", {"login": 1001})["result"] == 65
        assert _client_call(conn, "UserRecordGet", {"login": 1001})["result"] == 0
        assert _client_call(conn, "UserRecordGet", {"login": 1001})["result"] == 0
        sim.script("CfgUpdateSymbol", [1, 1])
        sim.checked({"cmd": "unscript"})
        assert _client_call(conn, "UserRecordGet", {"login": 99})["result"] == 65
    calls = sim.calls(clear=True)
    assert [c["call"] for c in calls] == ["Login"] + ["UserRecordGet"] * 4
    assert [c["result"] for c in calls] == [0, 65, 0, 0, 65]
    assert calls[1]["args"] == {"login": 1001} and calls[1]["manager"] == MANAGER_LOGIN
    assert sim.calls() == []
    sim.checked({"cmd": "refuse", "on": True})
    with socket.create_connection(("127.0.0.1", sim.port), 5) as conn:
        conn.settimeout(5)
        assert conn.recv(10) == b""
    sim.checked({"cmd": "refuse", "on": False})
    with socket.create_connection(("127.0.0.1", sim.port), 5) as conn:
        conn.settimeout(5)
        assert _client_call(conn, "Ping", {})["result"] == 0


def _silent(conn):
    """Nothing arrives for a second: a frame the server sent when it should
    not have is there by then, also on a loaded machine."""
    return not select.select([conn], [], [], 1.0)[0]


def _manager(sim, pump=False):
    conn = socket.create_connection(("127.0.0.1", sim.port), 5)
    conn.settimeout(5)
    assert _client_call(conn, "Login", {"login": MANAGER_LOGIN,
                                        "password": MANAGER_PASSWORD})["result"] == 0
    if not pump:
        return conn
    token = _client_call(conn, "PumpingSwitchEx", {"flags": 11})["token"]
    events = socket.create_connection(("127.0.0.1", sim.port), 5)
    assert _client_call(events, "PumpAttach", {"token": token})["result"] == 0
    return conn, events


def _held_deposit(sim, conn, amount):
    sim.hold("TradeTransaction")
    _send(conn, "TradeTransaction", {"info": {"type": 83, "cmd": 6, "orderby": 1001,
                                              "price": amount}}, ident=7)
    wait_until(sim.held, 10, "the held answer")


def test_held_answers_are_carried_out_then_released_or_dropped(sim):
    with _manager(sim) as conn, _manager(sim) as other:
        _held_deposit(sim, conn, 100.0)
        assert [h["call"] for h in sim.held()] == ["TradeTransaction"]
        assert sim.user(1001)["balance"] == 10100.0
        assert _silent(conn)
        assert _client_call(other, "UserRecordGet", {"login": 1001})["result"] == 0
        assert sim.release() == 1 and _read_frame(conn)["id"] == 7 and sim.held() == []
        sim.hold("UserRecordGet", count=5)
        sim.unhold()
        assert _client_call(other, "UserRecordGet", {"login": 1001})["result"] == 0
        _held_deposit(sim, other, 10.0)
    wait_until(lambda: sim.held() == [] and sim.clients() == [], 10,
               "the answer dropped with its client")
    # A held answer does not keep a stop waiting: the server ends cleanly
    # (one that needs SIGKILL fails the test) and the answer is dropped.
    with _manager(sim) as conn:
        _held_deposit(sim, conn, 1.0)
        sim.stop()
        assert _read_frame(conn) is None
    sim.start()
    assert sim.user(1001)["balance"] == 10111.0


def test_held_events_wait_for_their_subscriber_and_die_with_it(sim):
    conn, pump = _manager(sim, pump=True)
    sim.hold_events(True)
    first = sim.balance(1001, 6, 1.0)["order"]
    assert _silent(pump)
    sim.hold_events(False)
    assert [_read_frame(pump)["data"].get("order") for _ in range(2)] == [first, None]
    sim.hold_events(True)
    sim.balance(1001, 6, 2.0)
    conn.close(), pump.close()
    conn, pump = _manager(sim, pump=True)
    second = sim.balance(1001, 6, 3.0)["order"]
    assert _silent(pump)
    sim.hold_events(False)
    assert _read_frame(pump)["data"]["order"] == second
