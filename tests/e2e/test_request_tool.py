"""The operators' request client: it prints the reply of its own request
and leaves other requests' replies on the queue."""
import os
import subprocess
import sys

from fixtures.broker import receive_messages, send_text

TOOL = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "mt4bridge_request.py")


def run_tool(url, queue, body, timeout=10, *more):
    return subprocess.run([sys.executable, TOOL, "--broker", url, "--queue", queue,
                           "--timeout", str(timeout), *more, body],
                          capture_output=True, text=True, timeout=timeout + 30)


def test_prints_its_own_reply_and_leaves_the_others(broker):
    url = broker.amqp_url
    other = '{"code":200,"data":{"serial":"other"},"msg":"success"}\n'
    mine = '{"code":200,"data":{"serial":"s1"},"msg":"success"}\n'
    send_text(url, "tool.q1Callback", other)
    send_text(url, "tool.q1Callback", mine)
    r = run_tool(url, "tool.q1", '{"serial":"s1","login":7}')
    assert r.returncode == 0, r.stderr
    assert r.stdout == mine
    assert receive_messages(url, "tool.q1Callback", 5, timeout=3) == [other]
    assert receive_messages(url, "tool.q1", 5, timeout=3) == ['{"serial": "s1", "login": 7}']


def test_no_reply_and_bad_requests_fail_clearly(broker):
    r = run_tool(broker.amqp_url, "tool.q2", '{"serial":"none"}', timeout=2)
    assert r.returncode != 0 and "no reply on tool.q2Callback" in r.stderr
    r = run_tool(broker.amqp_url, "tool.q2", "[1,2]", timeout=2)
    assert r.returncode != 0 and "JSON object" in r.stderr


def test_check_refuses_a_request_its_schema_does_not_allow(broker):
    url = broker.amqp_url
    r = run_tool(url, "tool.q3", '{"serial":"s3","login":"7"}', 1, "--check", "--key",
                 "userRecordCreate")
    assert r.returncode == 2 and "'7' is not of type" in r.stderr and "login" in r.stderr
    r = run_tool(url, "tool.q3", '{"serial":"s4","login":7}', 1, "--check", "--key",
                 "userRecordCreate")
    assert "no reply on tool.q3Callback" in r.stderr
    assert receive_messages(url, "tool.q3", 5, timeout=3) == ['{"serial": "s4", "login": 7}']
