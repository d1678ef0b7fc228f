"""The operator's view: the service's metrics endpoint, accepted by promtool
and scraped by a real Prometheus server (Debian's) that also loads the
alerting rules of deploy/prometheus."""
import json
import os
import re
import socket
import subprocess
import urllib.error
import urllib.parse
import urllib.request

import pytest

from fixtures.process import TOP, Process, stopped_at_teardown
from fixtures.wait import wait_until

ALERTS = os.path.join(TOP, "deploy", "prometheus", "alerts.yml")


class Prometheus(Process):
    """/usr/bin/prometheus on a free loopback port, scraping target every
    second as job mt4bridge."""

    def __init__(self, folder, target):
        super().__init__("prometheus")
        os.makedirs(folder)
        config = os.path.join(folder, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
                    "rule_files: ['%s']\nscrape_configs:\n  - job_name: mt4bridge\n"
                    "    static_configs: [{targets: ['%s']}]\n" % (ALERTS, target))
        self.output_path = os.path.join(folder, "output.txt")
        self._out = open(self.output_path, "wb")
        self.spawn(["/usr/bin/prometheus", "--config.file=" + config,
                    "--storage.tsdb.path=" + os.path.join(folder, "data"),
                    "--web.listen-address=127.0.0.1:0"], stdout=self._out, stderr=subprocess.STDOUT)
        self.port = wait_until(lambda: self.running() and re.search(
            r'msg="Listening on" address=127\.0\.0\.1:(\d+)', self.output()), 30,
            "Prometheus's port in its output").group(1)
        # It listens before its storage is open, and answers 503 until then.
        wait_until(self.ready, 60, "Prometheus ready")

    def ready(self):
        try:
            with urllib.request.urlopen("http://127.0.0.1:%s/-/ready" % self.port,
                                        timeout=10) as answer:
                return answer.status == 200
        except urllib.error.HTTPError as e:
            if e.code != 503:
                raise
            return False

    def api(self, path, **params):
        url = "http://127.0.0.1:%s/api/v1/%s?%s" % (self.port, path, urllib.parse.urlencode(params))
        with urllib.request.urlopen(url, timeout=10) as answer:
            return json.load(answer)["data"]

    def query(self, expr):
        """The instant vector expr as {its label values but the name's, by label: value}."""
        return {tuple(v for k, v in sorted(r["metric"].items()) if k != "__name__"): r["value"][1]
                for r in self.api("query", query=expr)["result"]}

    def closed(self):
        self._out.close()


@pytest.fixture
def prometheus_factory(tmp_path):
    yield from stopped_at_teardown(lambda target: Prometheus(str(tmp_path / "prom"), target))


def test_prometheus_reads_the_answered_requests(service_factory, sim, prometheus_factory,
                                                figures):
    svc = service_factory(sim, overrides={"metricsAddress": "127.0.0.1:0"}).start()
    port = re.search(r"metrics on http://127\.0\.0\.1:(\d+)/metrics\n", svc.output()).group(1)
    for serial in ("op-1", "op-2"):
        assert svc.ask("userLeverageUpdate",
                       {"serial": serial, "login": 1004, "leverage": 200})["code"] == 200
    failed = svc.ask("userLeverageUpdate", {"serial": "op-3", "login": 999999, "leverage": 200})
    assert failed["code"] != 200

    with urllib.request.urlopen("http://127.0.0.1:%s/metrics" % port, timeout=10) as answer:
        text = answer.read().decode()
    lint = subprocess.run(["/usr/bin/promtool", "check", "metrics"], input=text,
                          capture_output=True, text=True)
    assert lint.returncode == 0, lint.stdout + lint.stderr
    series = [line for line in text.splitlines() if line.startswith("mt4bridge_")]
    links = [line for line in series if line.startswith("mt4bridge_broker_connected{")]
    assert len(links) == 30 and all(line.endswith(" 1") for line in links)
    assert 'mt4bridge_manager_connected{link="normal"} 1' in series
    figures("metrics scrape, the series not 0 but the 30 broker connections (1), no buckets:\n" +
            "".join(line + "\n" for line in series if line not in links and
                    "_bucket{" not in line and not line.endswith(" 0")))

    prometheus = prometheus_factory("127.0.0.1:" + port)
    wait_until(lambda: prometheus.query('sum by (code) (mt4bridge_requests_total'
                                        '{queue="userLeverageUpdate"})') ==
               {("200",): "2", (str(failed["code"]),): "1"}, 30, "the requests in Prometheus")
    assert prometheus.query('up{job="mt4bridge"}') == {("127.0.0.1:" + port, "mt4bridge"): "1"}
    rules = [r["name"] for group in prometheus.api("rules")["groups"] for r in group["rules"]]
    assert "Mt4bridgeTradingServerLinkDown" in rules


def test_systemd_hears_ready_status_watchdog_and_stopping(service_factory, sim, tmp_path,
                                                          figures):
    path = str(tmp_path / "notify.sock")
    heard = []
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as sock:
        sock.bind(path)
        sock.settimeout(30)

        def hear(word):
            while not any(word in m.split("\n") for m in heard):
                heard.append(sock.recv(4096).decode())
            return next(m for m in heard if word in m.split("\n"))

        svc = service_factory(sim).start(env={"NOTIFY_SOCKET": path, "WATCHDOG_USEC": "1000000"})
        ready = hear("READY=1")
        assert heard[0] == ready and "init success\n" in svc.output()
        assert ready.split("\n")[1].startswith("STATUS=trading server: normal up, pumping up; "
                                                "broker: ")
        # Kept current: the consumers connect after "init success".
        hear("STATUS=trading server: normal up, pumping up; broker: 30 of 30 connections open")
        hear("WATCHDOG=1")
        svc.stop()
        hear("STOPPING=1")
    figures("systemd heard: " + " | ".join(m.replace("\n", " ") for m in heard[:3]) +
            " ... " + heard[-1].replace("\n", " "))
