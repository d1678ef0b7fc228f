"""The reply path of the service over a broker that goes away: a reply that
cannot be sent while the broker is down is sent once it is back, and the
operation is carried out once on the trading server."""
import json

from fixtures.broker import receive_message, start_broker
from fixtures.requests import account
from fixtures.service import Service
from fixtures.wait import wait_until


def test_reply_waits_for_a_restarted_broker_and_the_operation_runs_once(tmp_path, sim):
    b = start_broker(tmp_path / "broker")
    svc = Service(tmp_path / "svc", b, sim,
                  overrides={"brokerURI": "failover:(%s)?randomize=false" % b.amqp_url})
    try:
        svc.start()
        sim.calls(clear=True)
        # The server's answer to the creation is held: the operation is in
        # progress, its reply not yet made, when the broker crashes. The
        # manager link waits 5 s for an answer; the crash takes far less.
        sim.hold("UserRecordNew")
        req = account(7301, serial="once-1")
        svc.send("userRecordCreate", req)
        wait_until(sim.held, 30, "held UserRecordNew answer")
        b.kill()
        assert sim.release() == 1
        # The broker stays down until the reply has failed once.
        svc.wait_for("DestURI:%s,Send fail: " % svc.queue("userRecordCreateCallback"), 60)
        b.start()

        text = svc.reply("userRecordCreate", timeout=90)
        assert text is not None, svc.output()[-3000:]
        reply = json.loads(text)
        assert reply["code"] == 200 and reply["data"] == req
        # The broker delivers the request again (its acknowledgement was lost
        # with the connection); the service knows it was answered.
        svc.wait_for("request already answered", 30)
        assert svc.reply("userRecordCreate", timeout=1) is None
        calls = [c for c in sim.calls() if c["call"] in ("UserRecordGet", "UserRecordNew")]
        assert [c["call"] for c in calls] == ["UserRecordGet", "UserRecordNew"], calls
        assert sim.user(7301)["name"] == "Ann Lee"
        assert svc.running()
    finally:
        svc.stop()
        b.kill()


def test_a_request_that_ends_the_service_every_time_is_dead_lettered_unrun(sim, service_factory,
                                                                        figures):
    """The service is killed while the same request runs, five times; the
    broker's sixth delivery is moved to the dead-letter queue without a
    manager call, with the reason attached, and the queue serves on."""
    svc = service_factory(sim)
    request = {"serial": "poison-1", "login": 1001, "leverage": 50}
    svc.send("userLeverageUpdate", request)
    for run in range(5):
        sim.hold("UserRecordGet")
        svc.start()
        wait_until(sim.held, 30, "the request's UserRecordGet, run %d" % (run + 1))
        svc.kill()
        sim.unhold()
        sim.release()
    sim.calls(clear=True)
    svc.start()
    svc.wait_for("request moved to the dead-letter queue", 30)
    dead = receive_message(svc.broker.amqp_url, "DLQ." + svc.queue("userLeverageUpdate"))
    assert json.loads(dead.body) == request
    assert dead.properties["deadLetterReason"].startswith("delivered 6 times"), dead.properties
    assert not [c for c in sim.calls() if c["call"].startswith("UserRecord")], sim.calls()
    assert svc.ask("userLeverageUpdate", dict(request, serial="after"))["code"] == 200
    assert svc.reply("userLeverageUpdate", timeout=1) is None  # none for the dead letter
    figures("poison request, after 5 kills mid-request: " +
            next(line[line.index("destURI"):] for line in svc.output().splitlines()
                 if "dead-letter queue" in line))
