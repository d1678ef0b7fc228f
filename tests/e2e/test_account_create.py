"""Account creation end to end: the request over the broker, the account
on the simulated trading server, the reply on its callback queue."""
import json

from fixtures.requests import account


def test_creates_once_and_refuses_another_identity(service_factory, sim):
    svc = service_factory(sim).start()
    req = account(7001)
    text = svc.request("userRecordCreate", req)
    assert text.endswith("\n")
    reply = json.loads(text)
    assert reply["code"] == 200 and reply["msg"] == "success"
    assert reply["data"] == req

    user = sim.user(7001)
    assert user is not None
    assert user["group"] == "demoforex"
    assert user["name"] == "Ann Lee"
    assert user["password"] == "Master-Secret1"
    assert user["password_investor"] == "Invest-Secret2"
    assert user["state"] == "Limassol district"
    assert user["zipcode"] == "3035"
    assert user["address"] == "1 Long Street"
    assert user["lead_source"] == "web-42"
    assert user["leverage"] == 200
    assert user["agent_account"] == 77
    assert user["enable"] == 1 and user["enable_read_only"] == 0
    assert user["enable_change_password"] == 1
    assert user["user_color"] == 0xFF000000

    # The same request again: answered as done, nothing created.
    users_before = len(sim.state()["users"])
    again = json.loads(svc.request("userRecordCreate", req))
    assert again["code"] == 200
    assert len(sim.state()["users"]) == users_before
    assert sum(1 for c in sim.calls() if c["call"] == "UserRecordNew") == 1

    # The same login with another identity is refused.
    other = account(7001, serial="c-other", leadSource="other", name="Somebody Else")
    refused = json.loads(svc.request("userRecordCreate", other))
    assert refused["code"] == -2 and refused["msg"] == "fail"
    assert sim.user(7001)["name"] == "Ann Lee"

    # Passwords never reach the log or the console.
    for secret in ("Master-Secret1", "Invest-Secret2", "managerpass"):
        assert secret not in svc.log_text()
        assert secret not in svc.output()


def test_read_only_when_not_valid_and_bad_types_get_no_reply(service_factory, sim):
    svc = service_factory(sim).start()
    bad = account(7002)
    bad["login"] = "7002"  # digits as a JSON string: not a number
    svc.send("userRecordCreate", json.dumps(bad), check=False)  # against its schema on purpose
    reply = json.loads(svc.request("userRecordCreate", account(7003, valid=0)))
    # The malformed request got no reply; the next one was served.
    assert reply["data"]["serial"] == "c-7003"
    assert sim.user(7002) is None
    assert sim.user(7003)["enable_read_only"] == 1
    assert svc.reply("userRecordCreate", timeout=1) is None
