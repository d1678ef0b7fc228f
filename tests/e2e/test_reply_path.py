"""The reply path of the service over a broker that goes away: a reply that
cannot be sent while the broker restarts is sent once it is back, and the
operation is carried out once on the trading server."""
import json

from fixtures.broker import start_broker
from fixtures.service import Service
from test_account_create import request


def test_reply_waits_for_a_restarted_broker_and_the_operation_runs_once(tmp_path, sim):
    b = start_broker(tmp_path / "broker")
    svc = Service(tmp_path / "svc", b, sim,
                  overrides={"brokerURI": "failover:(%s)?randomize=false" % b.amqp_url})
    try:
        svc.start()
        sim.calls(clear=True)
        req = request(7301, serial="once-1")
        svc.send("userRecordCreate", req)
        svc.wait_for('Received: {"serial": "once-1"', 20)
        b.restart(crash=True)  # during the operation's one-second pause

        reply = json.loads(svc.reply("userRecordCreate", timeout=90))
        assert reply["code"] == 200 and reply["data"] == req
        # The broker delivers the request again (its acknowledgement was lost
        # with the connection); the service knows it was answered.
        svc.wait_for("request already answered", 30)
        assert svc.reply("userRecordCreate", timeout=1) is None
        calls = [c for c in sim.calls() if c["call"] in ("UserRecordGet", "UserRecordNew")]
        assert [c["call"] for c in calls] == ["UserRecordGet", "UserRecordNew"], calls
        assert sim.user(7301)["name"] == "Ann Lee"
        assert svc.process.poll() is None
        assert svc.stop() == 0
    finally:
        svc.stop()
        b.kill()
