"""A process killed while it saves the balance-history file never leaves a
torn or empty file behind: the file always holds the previous save or the
new one, whole, and the next start loads it."""
import json
import os
import random
import signal
import subprocess
import time

import pytest

BUILD = os.environ.get("MT4BRIDGE_BUILD", "/work/main/build")
HARNESS = os.path.join(BUILD, "tests", "harness", "store_save_harness")
KEYS = ["amount", "comment", "isHandle", "login", "order", "serial"]


def read_records(path):
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        data = f.read()
    if data == b"":
        return []
    assert data.endswith(b"]\n"), data[-40:]
    records = json.loads(data.decode("utf-8"))
    assert isinstance(records, list)
    for r in records:
        assert sorted(r.keys()) == KEYS
    return records


@pytest.mark.skipif(not os.path.exists(HARNESS), reason="harness not built")
def test_killed_saver_always_leaves_a_whole_file(tmp_path):
    path = str(tmp_path / "financeBalanceHistory")
    rng = random.Random(1234)
    previous = 0
    grew = 0
    deadline = time.monotonic() + 60
    for kill in range(30):
        assert time.monotonic() < deadline
        proc = subprocess.Popen([HARNESS, path], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        try:
            line = proc.stdout.readline().decode()
            # Each start loads what the killed one left, whole.
            assert line.startswith("loaded "), (line, proc.stderr.read())
            loaded = int(line.split()[1])
            assert loaded >= previous
            time.sleep(rng.uniform(0.005, 0.08))
        finally:
            proc.send_signal(signal.SIGKILL)
            proc.wait(timeout=10)
            proc.stdout.close()
            proc.stderr.close()
        records = read_records(path)
        count = 0 if records is None else len(records)
        assert count >= loaded, (kill, count, loaded)
        if count > previous:
            grew += 1
        previous = count
    # The saver got far enough to be killed mid-write now and then.
    assert grew >= 10
    assert previous > 0


@pytest.mark.skipif(not os.path.exists(HARNESS), reason="harness not built")
def test_saves_run_to_completion_and_reload(tmp_path):
    path = str(tmp_path / "financeBalanceHistory")
    for run in range(2):
        out = subprocess.run([HARNESS, path, "20"], capture_output=True,
                             timeout=30)
        assert out.returncode == 0, out.stderr
        assert out.stdout.decode() == "loaded %d\n" % (run * 20)
    records = read_records(path)
    assert len(records) == 40
    assert not os.path.exists(path + ".tmp")
    assert len({(r["comment"], r["login"]) for r in records}) == 40
