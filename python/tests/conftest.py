"""Fixtures: a zbhost for the whole run and an opened board.

The tests run inside tests/support/sandbox.sh, so /dev and /dev/shm are
private; PELK_ZBHOST, PELK_OAMTAB, PELK_TOOL and PELK_PELKD name the programs
zbhost, oamtab, pelk and pelkd (default: on PATH).
"""
import os
import subprocess
import time

import pytest

import pelk


def _program(variable, name):
    return os.environ.get(variable, name)


@pytest.fixture(scope="session")
def zbhost():
    process = subprocess.Popen([_program("PELK_ZBHOST", "zbhost")])
    deadline = time.monotonic() + 10
    while not os.path.exists("/dev/ZBHostManagerIn"):
        assert process.poll() is None and time.monotonic() < deadline, "zbhost did not start"
        time.sleep(0.01)
    yield process
    process.terminate()
    process.wait()


@pytest.fixture
def board(zbhost):
    with pelk.Board("zbhost") as opened:
        yield opened


@pytest.fixture
def oamtab(tmp_path):
    """Loads a board-identity table from lines NAME NUMBER DRIVER ID [alaw]."""
    def load(*lines):
        table = tmp_path / "boards.txt"
        table.write_text("\n".join(lines) + "\n")
        # --force: the tests load boards that resolution fails on, on purpose.
        subprocess.run([_program("PELK_OAMTAB", "oamtab"), "load", "--force", str(table)],
                       check=True, stdout=subprocess.DEVNULL)
    return load


@pytest.fixture
def pelkd(zbhost, tmp_path):
    """A pelkd on a socket of its own in front of the run's zbhost; its target."""
    target = "unix:" + str(tmp_path / "pelkd.sock")
    process = subprocess.Popen([_program("PELK_PELKD", "pelkd"), "--listen", target],
                               stdout=subprocess.PIPE, text=True)
    assert process.stdout.readline().startswith("pelkd: listening on "), "pelkd did not start"
    yield target
    process.terminate()
    process.wait()
