"""A process killed at any moment while it changes the balance history,
appending to the journal or compacting it into a fresh snapshot, loses no
change whose store call had returned, and never leaves a file behind that
the next start cannot load."""
import os
import random
import signal
import subprocess
import time

import pytest

from fixtures.history import read_history, read_snapshot
from fixtures.sim import build_dir

HARNESS = os.path.join(build_dir(), "tests", "harness", "store_save_harness")


@pytest.fixture(autouse=True)
def harness_built():
    assert os.path.exists(HARNESS), "build the harness first: " + HARNESS


def dump(path):
    """{(comment, login): (isHandle, order)} as the store itself loads them."""
    out = subprocess.run([HARNESS, path, "dump"], capture_output=True, timeout=60)
    assert out.returncode == 0, out.stderr
    lines = out.stdout.decode().splitlines()
    assert lines[0] == "loaded %d" % (len(lines) - 1)
    records = {}
    for line in lines[1:]:
        comment, login, handled, order = line.rsplit("|", 3)
        records[(comment, int(login))] = (int(handled), int(order))
    return records


def comment_of(i):
    return "deposit %d %s" % (i, "x" * 200)


def killed_run(path, mode, rng):
    """Runs the harness and kills it: appending, at a random moment; compacting,
    as soon as a random one of its compactions has begun (or up to 2 ms
    later). Returns the lines it printed."""
    proc = subprocess.Popen([HARNESS, path, mode], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    lines = []
    try:
        lines.append(proc.stdout.readline().decode().strip())
        assert lines[0].startswith("loaded "), (lines, proc.stderr.read())
        if mode == "append":
            time.sleep(rng.uniform(0.005, 0.08))
        else:
            compactions = rng.randint(1, 20)
            while compactions:
                line = proc.stdout.readline().decode()
                assert line, (lines[-3:], proc.stderr.read())
                lines.append(line.strip())
                compactions -= line.startswith("compacting")
            time.sleep(rng.choice((0, rng.uniform(0, 0.002))))
    finally:
        proc.send_signal(signal.SIGKILL)
        rest = proc.stdout.read().decode()
        proc.wait(timeout=10)
        proc.stdout.close()
        proc.stderr.close()
    return lines + rest.splitlines()


def test_kills_during_appends_and_compactions_lose_no_returned_change(tmp_path, figures):
    path = str(tmp_path / "financeBalanceHistory")
    rng = random.Random(1234)
    kills = {"append": 0, "compact": 0}
    during_compaction = 0
    known = {}  # (comment, login) -> (isHandle, order) every returned call promised
    deadline = time.monotonic() + 240
    while min(kills.values()) < 30:
        assert time.monotonic() < deadline, kills
        mode = "append" if kills["append"] <= kills["compact"] else "compact"
        lines = killed_run(path, mode, rng)
        kills[mode] += 1
        done = [line for line in lines if line.split(" ")[0] in ("inserted", "marked")]
        if mode == "compact" and lines[-1].startswith("compacting"):
            during_compaction += 1
        for line in done:
            what, i = line.split(" ")
            i = int(i)
            key = (comment_of(i), 1000 + i % 50)
            known[key] = (1, i + 1) if what == "marked" else known.get(key, (0, 0))

        loaded = dump(path)
        for key, (handled, order) in known.items():
            assert key in loaded, (kills, key[1])
            if handled:
                assert loaded[key] == (1, order), (kills, key[1])
        # A record whose insert had not returned may be there too, whole:
        # at most one a kill.
        assert len(loaded) <= len(known) + sum(kills.values())
        # Any reader of the files sees the same records: the snapshot is
        # always one whole JSON array, the journal whole lines but the last.
        read_snapshot(path)
        independent = read_history(path)
        assert {k: (r["isHandle"], r["order"]) for k, r in independent.items()} == loaded
    figures("store crash: kills %s, inside a compaction %d, movements %d"
            % (kills, during_compaction, len(known)))
    # Kills landed inside a compaction, and the store really grew.
    assert during_compaction >= 1
    assert len(known) > 100


def test_a_clean_run_compacts_on_demand_and_reloads(tmp_path):
    path = str(tmp_path / "financeBalanceHistory")
    for run, mode in enumerate(["append", "compact"]):
        out = subprocess.run([HARNESS, path, mode, "20"], capture_output=True, timeout=30)
        assert out.returncode == 0, out.stderr
        assert out.stdout.decode().splitlines()[0] == "loaded %d" % (run * 20)
    # The compacting run left everything in the snapshot and an empty journal.
    assert len(read_snapshot(path)) == 40
    assert os.path.getsize(path + ".journal") == 0
    assert not os.path.exists(path + ".tmp")
    assert all(r == (1, int(c.split(" ")[1]) + 1) for (c, _), r in dump(path).items())
