"""The Debian packages (scripts/package.sh, in <build>/packages): the service
and the simulator run from the unpacked packages in the folders the
package's tmpfiles.d file lays out; as root, both installed and purged."""
import glob
import grp
import os
import pwd
import shutil
import stat
import subprocess

import pytest

from fixtures import service as service_module, sim as sim_module
from fixtures.process import build_dir

pytestmark = pytest.mark.xdist_group("packages")


def packages():
    found = {name: sorted(glob.glob(os.path.join(build_dir(), "packages", name + "_*.deb")))
             for name in ("mt4bridge", "mt4bridge-sim")}
    if not all(found.values()):
        pytest.skip("no packages in %s/packages (scripts/package.sh)" % build_dir())
    return {name: paths[-1] for name, paths in found.items()}


def lay_out(root):
    """The d and L lines of the unpacked package's tmpfiles.d file, under
    root (links to absolute paths too)."""
    with open(os.path.join(root, "usr/lib/tmpfiles.d/mt4bridge.conf")) as f:
        for line in f:
            fields = line.split()
            if fields and fields[0] == "d":
                os.makedirs(root + fields[1], exist_ok=True)
            elif fields and fields[0] == "L":
                os.symlink(root + fields[6], root + fields[1])


def test_service_answers_from_the_unpacked_packages(tmp_path, sim_factory, service_factory,
                                                    monkeypatch):
    root = str(tmp_path / "root")
    for deb in packages().values():
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    # Neither package ships a plugin where the service looks for one.
    assert not os.path.exists(os.path.join(root, "var"))
    lay_out(root)
    monkeypatch.setattr(sim_module, "sim_binary", lambda: root + "/usr/bin/mt4sim")
    monkeypatch.setattr(sim_module, "plugin_path",
                        lambda: root + "/usr/lib/mt4bridge-sim/mtmanapi.so")
    monkeypatch.setattr(service_module, "service_binary", lambda: root + "/usr/bin/mt4bridge")
    sim = sim_factory()
    # config.ini is written through the working folder's link.
    svc = service_factory(sim, name="root/var/lib/mt4bridge").start()
    assert svc.ask("userLeverageUpdate",
                   {"serial": "pkg-1", "login": 1004, "leverage": 200})["code"] == 200
    assert sim.user(1004)["leverage"] == 200
    assert '"login": 1' in open(root + "/etc/mt4bridge/config.ini").read()
    assert glob.glob(root + "/var/log/mt4bridge/log-*.log")


def installed(name):
    status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", name],
                            capture_output=True, text=True).stdout
    return status.endswith(" installed")


def dpkg(*args):
    done = subprocess.run(["dpkg"] + list(args), capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr


def test_install_and_purge_keep_the_stores():
    debs = packages()
    if os.geteuid() != 0:
        pytest.skip("installing packages needs root")
    if any(installed(name) for name in debs) or any(os.path.lexists(path) for path in (
            "/var/lib/mt4bridge", "/var/log/mt4bridge", "/etc/mt4bridge")):
        pytest.skip("this machine has mt4bridge already")
    had_user = any(u.pw_name == "mt4bridge" for u in pwd.getpwall())
    store = "/var/lib/mt4bridge/service/financeBalanceHistory"
    try:
        dpkg("-i", *debs.values())
        user = pwd.getpwnam("mt4bridge")
        group = grp.getgrnam("mt4bridge").gr_gid
        assert user.pw_uid < 1000 and user.pw_shell.endswith("nologin")

        def owned(path):
            st = os.lstat(path)
            return stat.S_IMODE(st.st_mode), st.st_uid, st.st_gid
        assert owned("/var/lib/mt4bridge/service") == (0o750, user.pw_uid, group)
        assert owned("/var/log/mt4bridge") == (0o750, user.pw_uid, group)
        assert owned("/var/lib/mt4bridge/libs") == (0o755, 0, 0)
        assert owned("/etc/mt4bridge/config.ini") == (0o640, 0, group)
        assert os.readlink("/var/lib/mt4bridge/service/config.ini") == "/etc/mt4bridge/config.ini"
        assert os.readlink("/var/lib/mt4bridge/log/mt4") == "/var/log/mt4bridge"
        assert os.path.exists("/usr/lib/mt4bridge-sim/mtmanapi.so")
        subprocess.run(["/usr/bin/mt4bridge", "--version"], check=True, capture_output=True)

        with open(store, "w") as f:
            f.write("[]\n")
        dpkg("--purge", "mt4bridge", "mt4bridge-sim")
        assert not any(installed(name) for name in debs)
        assert os.listdir("/var/lib/mt4bridge") == ["service"]
        assert os.listdir("/var/lib/mt4bridge/service") == ["financeBalanceHistory"]
        assert open(store).read() == "[]\n"
        for gone in ("/usr/bin/mt4bridge", "/usr/bin/mt4sim", "/etc/mt4bridge",
                     "/var/log/mt4bridge", "/usr/lib/mt4bridge-sim"):
            assert not os.path.lexists(gone), gone
    finally:
        subprocess.run(["dpkg", "--purge", "mt4bridge", "mt4bridge-sim"], capture_output=True)
        shutil.rmtree("/var/lib/mt4bridge", ignore_errors=True)
        shutil.rmtree("/var/log/mt4bridge", ignore_errors=True)
        if not had_user:
            subprocess.run(["userdel", "mt4bridge"], capture_output=True)
            subprocess.run(["groupdel", "mt4bridge"], capture_output=True)
