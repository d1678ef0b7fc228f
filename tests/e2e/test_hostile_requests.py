"""Bad input over the queues never crashes the service or corrupts a store:
malformed JSON, wrong types, huge numbers, overlong texts, deep nesting and
text that decodes to invalid UTF-8, on the account queues and among money
requests that move. After the barrage the service still answers, the
account it creates carries bounded fields, and the balance history holds
exactly the movements that were carried out."""
import json
import os

from fixtures.history import read_history, read_snapshot
from fixtures.requests import movement
from fixtures.sim import recent_state

HOSTILE = [
    "",
    "{",
    "[1,2]",
    "null",
    "\"just text\"",
    "{" * 5000,
    "[" * 100000,
    json.dumps({"serial": {"nested": 1}}),
    json.dumps({"serial": [1, 2], "routeType": {"x": 1}}),
    json.dumps({"login": 1e400}),
    json.dumps({"login": 2 ** 70, "serial": "big"}),
    json.dumps({"login": -(2 ** 63), "serial": "min", "group": "demoforex"}),
    json.dumps({"login": "12", "serial": "text-login"}),
    json.dumps({"leverage": 1.5e300, "serial": "lev"}),
    json.dumps({"valid": True, "agent": False, "serial": "bools"}),
    '{"serial":"surrogate","name":"\\udc80\\ud800","login":8101,"group":"demoforex"}',
    '{"serial":"nul","name":"a\\u0000b","login":8102,"group":"demoforex"}',
]


# Money requests that must move nothing, written by hand (values no JSON
# encoder gives): serial, login, amount and comment as JSON texts, and the
# code each is answered with (None: no reply at all).
HOSTILE_MONEY = [
    ("m-inf", "1001", "1e400", '"m inf"', None),  # beyond a double: not converted
    ("m-huge", "1001", "1e13", '"m huge"', -1015),
    ("m-login0", "0", "5", '"m login0"', -1014),
    ("m-login-big", str(2 ** 31), "5", '"m login big"', -1014),
    ("m-empty", "1001", "5", '""', -1010),
    ("m-other", "1001", "7", '"m first"', -1011),  # another amount under a used comment
    ("m-text", "1001", '"5"', '"m text"', None),
    ("m-nested", "1001", "5", '{"x":1}', None),
    ("m-login-huge", str(2 ** 70), "5", '"m login huge"', None),
]


def money_text(serial, login, amount, comment, _code=None):
    return ('{"serial":"%s","login":%s,"amount":%s,"type":1,"comment":%s,"routeType":"crm"}'
            % (serial, login, amount, comment))


def test_barrage_leaves_the_service_serving_and_the_history_whole(service_factory,
                                                                  sim_factory):
    sim = sim_factory(recent_state())
    svc = service_factory(sim).start()
    moved = {"m-first": movement("m-first", 1001, 120.5, "m first"),
             "m-middle": movement("m-middle", 1002, 33.25, "m middle"),
             "m-after": movement("m-after", 1003, 80, "m after")}
    svc.send("tradeTransInfo", moved["m-first"])
    for text in HOSTILE:  # hostile on purpose: no schema allows them
        svc.send("userRecordCreate", text, check=False)
        svc.send("userLeverageUpdate", text, check=False)
        svc.send("tradeTransInfo", text, check=False)
    for hostile in HOSTILE_MONEY[:5]:
        svc.send("tradeTransInfo", money_text(*hostile), check=False)
    svc.send("tradeTransInfo", moved["m-middle"])
    svc.send("tradeTransInfo", moved["m-first"])  # a repeat: answered, nothing moves
    for hostile in HOSTILE_MONEY[5:]:
        svc.send("tradeTransInfo", money_text(*hostile), check=False)
    long_text = "\u0416" * 50000  # 100 000 bytes of UTF-8
    svc.send("userRecordCreate", json.dumps({
        "serial": "long", "login": 8103, "group": "demoforex", "name": long_text,
        "email": long_text, "comment": long_text, "leadSource": long_text,
        "addressLine": long_text, "city": long_text, "id": long_text,
        "masterPass": long_text, "investorPass": long_text}))
    # The last, well-formed requests are still answered; the replies before
    # them (hostile requests that were well-formed enough) are gathered.
    svc.send("userRecordCreate", {"serial": "after", "login": 8104, "group": "demoforex",
                                  "name": "After", "leadSource": "after", "valid": 1})
    svc.send("tradeTransInfo", moved["m-after"])

    def replies_until(key, last):
        got = {}
        while last not in got:
            text = svc.reply(key, timeout=60)
            assert text is not None, "no reply after %r:\n%s" % (sorted(got),
                                                                 svc.output()[-3000:])
            reply = json.loads(text)
            got.setdefault(reply["data"]["serial"], []).append(reply)
        return got

    accounts = replies_until("userRecordCreate", "after")
    assert accounts["after"][0]["code"] == 200
    # Requests with values of the wrong kind got no reply at all.
    for unanswered in ("text-login", "lev", "big"):
        assert unanswered not in accounts
    long_user = sim.user(8103)
    assert long_user is not None
    assert len(long_user["email"].encode("utf-8")) <= 48
    assert len(long_user["comment"].encode("utf-8")) <= 64

    money = replies_until("tradeTransInfo", "m-after")
    assert {serial: [r["code"] for r in money.get(serial, [])]
            for serial, _, _, _, code in HOSTILE_MONEY} == \
        {serial: [code] if code else [] for serial, _, _, _, code in HOSTILE_MONEY}
    for unanswered in ("text-login", "big"):
        assert unanswered not in money, money[unanswered]
    assert [r["code"] for r in money["m-first"]] == [200, 200]
    orders = {serial: money[serial][0]["data"]["order"] for serial in moved}
    assert money["m-first"][1]["data"]["order"] == orders["m-first"]
    assert all(money[s][0]["code"] == 200 for s in moved)

    # The server holds exactly the three movements beside its start, and the
    # history on disk (read as any reader would: snapshot, then journal)
    # holds exactly them, each marked carried out with its ticket.
    history = [t for t in sim.state()["history"] if t["comment"] != "initial deposit"]
    assert sorted((t["comment"], t["login"], t["order"]) for t in history) == \
        sorted((r["comment"], r["login"], orders[s]) for s, r in moved.items())
    path = os.path.join(svc.workdir, "financeBalanceHistory")
    wanted = {(r["comment"], r["login"]): (1, orders[s]) for s, r in moved.items()}

    def on_disk():
        return {k: (r["isHandle"], r["order"]) for k, r in read_history(path).items()}

    assert on_disk() == wanted
    assert svc.process.poll() is None
    # A clean stop leaves them all in one whole snapshot.
    svc.stop()
    assert {(r["comment"], r["login"]): (r["isHandle"], r["order"])
            for r in read_snapshot(path)} == wanted
    assert on_disk() == wanted
