"""Bad input over the queues never crashes the service or corrupts a store:
malformed JSON, wrong types, huge numbers, overlong texts, deep nesting and
text that decodes to invalid UTF-8, on the account queues and among money
requests that move. After the barrage the service still answers, the
account it creates carries bounded fields, and the balance history holds
exactly the movements carried out."""
import json
import os

from proton import Message

from fixtures.broker import receive_messages, send_message
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


def test_barrage_leaves_the_service_serving_and_the_history_whole(service_factory,
                                                                  sim_factory):
    sim = sim_factory(recent_state())
    # The leverage queue by its own name, which the brokers' dead-letter
    # policy names.
    svc = service_factory(sim, queue_names={"userLeverageUpdate": "userLeverageUpdate"}).start()
    moved = [movement("m-%d" % login, login, 10.25 * login % 97, "m %d" % login)
             for login in (1001, 1002, 1003)]
    svc.send("tradeTransInfo", moved[0])
    for text in HOSTILE:  # hostile on purpose: no schema allows them
        for key in ("userRecordCreate", "userLeverageUpdate", "tradeTransInfo"):
            svc.send(key, text, check=False)
    # Money that is not converted: amounts and logins beyond their types.
    for amount, login in (("1e400", "1001"), ('"5"', "1001"), ("5", str(2 ** 70))):
        svc.send("tradeTransInfo", '{"serial":"m-bad","login":%s,"amount":%s,"type":1,'
                 '"comment":"m bad","routeType":"crm"}' % (login, amount), check=False)
    send_message(svc.broker.amqp_url, "userLeverageUpdate", Message(body=b"\x00not text"))
    svc.send("tradeTransInfo", moved[1])
    svc.send("tradeTransInfo", moved[0])  # a repeat: answered, nothing moves
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
    svc.send("tradeTransInfo", moved[2])

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
    money = replies_until("tradeTransInfo", moved[2]["serial"])
    assert accounts["after"][0]["code"] == 200
    # Requests with values of the wrong kind got no reply at all.
    assert not {"text-login", "lev", "big"} & set(accounts)
    assert not {"text-login", "big", "m-bad"} & set(money)
    long_user = sim.user(8103)
    assert len(long_user["email"].encode("utf-8")) <= 48
    assert len(long_user["comment"].encode("utf-8")) <= 64

    # Each movement moved once, the repeat told its ticket, and the server
    # and the history on disk (snapshot, then journal) hold exactly them.
    tickets = {r["comment"]: money[r["serial"]][0]["data"]["order"] for r in moved}
    assert [(r["code"], r["data"]["order"]) for r in money["m-1001"]] == \
        [(200, tickets["m 1001"])] * 2
    history = [t for t in sim.state()["history"] if t["comment"] != "initial deposit"]
    assert sorted((t["comment"], t["order"]) for t in history) == sorted(tickets.items())
    path = os.path.join(svc.workdir, "financeBalanceHistory")
    wanted = {(r["comment"], r["login"]): (1, tickets[r["comment"]]) for r in moved}

    def on_disk():
        return {k: (r["isHandle"], r["order"]) for k, r in read_history(path).items()}

    assert on_disk() == wanted

    # What could not be taken was rejected, and waits in the dead-letter
    # queue; nothing that was answered is there. Once a last request is
    # answered, every one before it has been settled.
    svc.ask("userLeverageUpdate", {"serial": "last", "login": 1001, "leverage": 100})
    dead = receive_messages(svc.broker.amqp_url, "DLQ.userLeverageUpdate", 100, timeout=5,
                            check=False)
    unparsable = [t for t in HOSTILE if t.startswith(("{", "[")) and len(t) > 1000] + [
        "", "{", "[1,2]", "null", "\"just text\"", b"\x00not text"]
    assert all(t in dead for t in unparsable), dead[:5]
    assert set(dead) <= set(HOSTILE) | {b"\x00not text"}
    svc.stop()  # a clean stop leaves them all in one whole snapshot
    assert {(r["comment"], r["login"]): (r["isHandle"], r["order"])
            for r in read_snapshot(path)} == wanted
    assert on_disk() == wanted
