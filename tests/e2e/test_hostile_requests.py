"""Bad input over the queues never crashes the service or corrupts a store:
malformed JSON, wrong types, huge numbers, overlong texts, deep nesting and
text that decodes to invalid UTF-8. After the barrage the service still
answers, and the account it creates carries bounded fields."""
import json
import os


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


def test_barrage_leaves_the_service_serving(service_factory, sim):
    svc = service_factory(sim).start()
    for text in HOSTILE:  # hostile on purpose: no schema allows them
        svc.send("userRecordCreate", text, check=False)
        svc.send("userLeverageUpdate", text, check=False)
    long_text = "\u0416" * 50000  # 100 000 bytes of UTF-8
    svc.send("userRecordCreate", json.dumps({
        "serial": "long", "login": 8103, "group": "demoforex", "name": long_text,
        "email": long_text, "comment": long_text, "leadSource": long_text,
        "addressLine": long_text, "city": long_text, "id": long_text,
        "masterPass": long_text, "investorPass": long_text}))
    # The last, well-formed request is still answered; the replies before it
    # (hostile requests that were well-formed enough) are skipped.
    svc.send("userRecordCreate", {"serial": "after", "login": 8104, "group": "demoforex",
                                  "name": "After", "leadSource": "after", "valid": 1})
    serials = []
    while True:
        text = svc.reply("userRecordCreate", timeout=60)
        assert text is not None, "no reply after %r:\n%s" % (serials, svc.output()[-3000:])
        reply = json.loads(text)
        serials.append(reply["data"]["serial"])
        if serials[-1] == "after":
            break
    assert reply["code"] == 200
    # Requests with values of the wrong kind got no reply at all.
    for unanswered in ("text-login", "lev", "big"):
        assert unanswered not in serials
    assert svc.process.poll() is None

    long_user = sim.user(8103)
    assert long_user is not None
    assert len(long_user["email"].encode("utf-8")) <= 48
    assert len(long_user["comment"].encode("utf-8")) <= 64
    # The balance-history store was never touched into a broken file.
    path = os.path.join(svc.workdir, "financeBalanceHistory")
    if os.path.exists(path) and os.path.getsize(path) > 0:
        with open(path) as f:
            assert isinstance(json.load(f), list)
    assert svc.stop() == 0
