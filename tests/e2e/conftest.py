"""Fixtures shared by the end-to-end tests.

Each piece of the system that the tests start has its own fixture module
under tests/e2e/fixtures.
"""
import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

pytest_plugins = ["fixtures.broker", "fixtures.sim", "fixtures.service"]


# Modules whose checks depend on timing or on the machine's load: when the
# suite runs in parallel processes (pytest-xdist, --dist loadgroup), they
# run one after another in the same process.
TIMING_MODULES = {"test_concurrency", "test_crash_campaign", "test_outages",
                  "test_reply_path", "test_request_tool", "test_store_crash"}


def pytest_collection_modifyitems(config, items):
    for item in items:
        if item.module.__name__ in TIMING_MODULES:
            item.add_marker(pytest.mark.xdist_group("timing"))


@pytest.fixture(autouse=True)
def exits_checked():
    """Fails a test in which a process it stopped, or its fixtures stopped at
    teardown, ended badly (fixtures/process.py). Set up before every other
    fixture of the test, so it checks after their teardown."""
    from fixtures.process import check_exits
    check_exits()
    yield
    bad = check_exits()
    if bad:
        pytest.fail(bad, pytrace=False)


_figures = []


@pytest.fixture
def figures(record_property):
    """figures(text): a line of figures the test reports. The run's summary
    shows them, also when the tests ran in parallel processes."""
    return lambda text: record_property("figures", text)


def pytest_runtest_logreport(report):
    if report.when == "call":
        _figures.extend(value for name, value in report.user_properties if name == "figures")


def pytest_terminal_summary(terminalreporter):
    for line in _figures:
        terminalreporter.write_line(line)
