"""Fixtures shared by the end-to-end tests.

Each piece of the system that the tests start has its own fixture module
under tests/e2e/fixtures; they are loaded here when present.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(__file__))

pytest_plugins = [
    name
    for name in ("fixtures.broker", "fixtures.sim", "fixtures.service")
    if os.path.exists(
        os.path.join(os.path.dirname(__file__), *name.split(".")) + ".py"
    )
]
