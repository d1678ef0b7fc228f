"""Account changes end to end: the three update modes, password and
leverage changes, internal mail, each read back from the simulated
server's state."""
import json

from fixtures.requests import update


def test_each_update_mode_changes_exactly_its_fields(service_factory, sim):
    svc = service_factory(sim).start()
    fetched = sim.user(1001)

    flags = svc.ask("userRecordUpdate", update(1001, routeType="USER_ENABLE_READ_ONLY_UPDATE",
                                                valid=0, updatePassword=0, name="Ignored",
                                                group="demopro", leverage=500))
    assert flags["code"] == 200 and len(flags["data"]) == 19
    user = sim.user(1001)
    assert (user["enable_read_only"], user["enable_change_password"]) == (1, 0)
    assert {k: user[k] for k in ("name", "group", "leverage", "email")} == \
        {k: fetched[k] for k in ("name", "group", "leverage", "email")}

    svc.ask("userRecordUpdate", update(1001, groupType=2, group="demopro", email="x@x.example",
                                        addressLine="5 New Street", leverage=300))
    user = sim.user(1001)
    assert (user["group"], user["email"]) == ("demoforex", "alice@demo.example")
    assert (user["address"], user["leverage"], user["enable_read_only"]) == ("5 New Street", 300, 0)

    svc.ask("userRecordUpdate", update(1001, name="Alice Updated", group="demopro",
                                        comment="vip", town="North", leverage=200))
    svc.ask("userRecordUpdate", update(1001, name="Alice Updated", group="demopro",
                                        comment="-1", leverage=200))
    user = sim.user(1001)
    assert (user["name"], user["group"], user["comment"], user["state"]) == \
        ("Alice Updated", "demopro", "vip", "")
    assert user["balance"] == fetched["balance"]
    svc.ask("userRecordUpdate", update(1001, group="demopro", comment=""))
    assert sim.user(1001)["comment"] == ""


def test_passwords_and_leverage(service_factory, sim):
    svc = service_factory(sim).start()

    def password(kind, master, new):
        return svc.ask("userRecordPasswordUpdate", {"serial": "p", "login": 1002, "type": kind,
                                                     "masterPass": master, "newPass": new})["code"]

    assert password(2, "", "Plain-Set2") == 200
    assert sim.user(1002)["password"] == "Plain-Set2"
    assert password(1, "Wrong-One9", "Never-Set8") == -3
    assert sim.user(1002)["password"] == "Plain-Set2"
    assert password(1, "Plain-Set2", "Checked-Set3") == 200
    assert password(3, "Checked-Set3", "Investor-Set4") == 200
    user = sim.user(1002)
    assert (user["password"], user["password_investor"]) == ("Checked-Set3", "Investor-Set4")
    for secret in ("Plain-Set2", "Never-Set8", "Checked-Set3", "Investor-Set4", "Wrong-One9"):
        assert secret not in svc.log_text() and secret not in svc.output()

    sim.calls(clear=True)
    same = svc.ask("userLeverageUpdate", {"serial": "l1", "login": 1002, "leverage": 100})
    assert same["code"] == 200
    assert not [c for c in sim.calls() if c["call"] == "UserRecordUpdate"]
    raised = svc.ask("userLeverageUpdate", {"serial": "l2", "login": 1002, "leverage": 400})
    assert raised["code"] == 200
    assert sim.user(1002)["leverage"] == 400 and sim.user(1002)["name"] == "Bob Demo"


def test_mails_arrive_once_from_the_platform_two_seconds_apart(service_factory, sim):
    svc = service_factory(sim).start()
    first = {"serial": "m-1", "logins": [1001, 1002], "subject": "Welcome", "content": "Hello"}
    second = {"serial": "m-2", "logins": [], "subject": "Nobody", "content": "Empty"}
    svc.send("emailSend", first)
    svc.send("emailSend", second)
    answers = [json.loads(svc.reply("emailSend")) for _ in range(2)]
    assert [a["data"]["serial"] for a in answers] == ["m-1", "m-2"]
    # Two seconds apart at the server (a millisecond clock, rounded down).
    sent = [c["ms"] for c in sim.calls() if c["call"] == "MailSend"]
    assert len(sent) == 2 and sent[1] - sent[0] >= 1990
    assert answers[1]["data"]["logins"] is None
    mails = sim.state()["mails"]
    assert [(m["from"], m["subject"], m["body"], m["logins"]) for m in mails] == [
        ("Trading Platform", "Welcome", "Hello", [1001, 1002]),
        ("Trading Platform", "Nobody", "Empty", [])]

    again = svc.ask("emailSend", first)
    assert again["code"] == 200 and len(sim.state()["mails"]) == 2
