"""What a failure says in Python: the library's diagnostics go to the logger
"pelk" (silent unless configured), an exception's text is the library's
diagnostic of the failed call, operating-system errors are also OSError,
and a Board tells what it is and works on its own board."""
import json
import logging
import os
import subprocess
import sys

import pytest

import pelk

from conftest import _program


def test_a_receive_that_times_out_prints_nothing(zbhost):
    script = ("import pelk\n"
              "with pelk.Board() as board:\n"
              "    try:\n"
              "        board.receive(10)\n"
              "    except pelk.Timeout as error:\n"
              "        assert 'WaitForMessage' in str(error), error\n")
    ran = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert (ran.returncode, ran.stdout, ran.stderr) == (0, "", "")


def test_diagnostics_reach_the_logger_and_name_the_cause(board, caplog):
    with caplog.at_level(logging.WARNING, logger="pelk"):
        with pytest.raises(pelk.Timeout) as raised:
            board.receive(10)
    logged = [record.getMessage() for record in caplog.records if record.name == "pelk"]
    assert len(logged) == 1 and "WaitForMessage" in logged[0]
    assert raised.value.text == logged[0]
    assert str(raised.value) == f"PKERR_TIMEOUT (-2): {logged[0]}"
    # A later failure without a diagnostic of its own takes no old one.
    board.close()
    with pytest.raises(pelk.NotOpen) as closed:
        board.send(b"closed")
    assert closed.value.text == "not open, or the emulator handshake failed"


def test_an_emulator_open_says_why_it_failed(zbhost, monkeypatch):
    monkeypatch.setenv("PELK_EMULATOR_DIR", "/nonexistent")
    with pytest.raises(pelk.Error) as raised:
        pelk.Board()
    assert raised.value.text != pelk.Error(raised.value.status, "", "").text
    assert "is zbhost running" not in str(raised.value)
    assert "emulator directory /nonexistent does not exist" in raised.value.text


def test_system_errors_are_also_oserror_library_statuses_are_not(board):
    with pytest.raises(FileNotFoundError) as missing:
        pelk.Board("zb5t")  # no kernel driver in the sandbox
    error = missing.value
    assert isinstance(error, pelk.Error) and isinstance(error, OSError)
    assert (error.errno, error.status, error.name) == (2, 2, "ENOENT")
    assert str(error) == "ENOENT (2): No such file or directory"
    with pytest.raises(pelk.Timeout) as timeout:
        board.receive(10)
    assert not isinstance(timeout.value, OSError)
    with pytest.raises(pelk.Error) as unprovided:
        board.stats()
    assert type(unprovided.value) is pelk.Error and unprovided.value.status == -17


def test_repr_and_the_boards_own_id(zbhost, oamtab, tmp_path, monkeypatch):
    oamtab("emu-b 2 zbhost 5")
    capture = tmp_path / "ops.pcapng"
    monkeypatch.setenv("PELK_CAPTURE", str(capture))
    board = pelk.Board.by_number(2)
    assert repr(board) == "<pelk.Board driver='zbhost' id=5 open>"
    board.read_eeprom(0, 20)
    board.read_eeprom(7, 0, 20)
    board.board_mapping()
    board.set_board_data(b"own")
    assert board.get_board_data() == b"own"
    board.reset()
    board.reset(board=6)
    with pytest.raises(pelk.Error):
        board.release(timeout_ms=1)
    board.close()
    assert repr(board) == "<pelk.Board driver='zbhost' id=5 closed>"
    trace = subprocess.run([_program("PELK_TOOL", "pelk"), "trace", "--json", str(capture)],
                           capture_output=True, text=True, check=True)
    calls = [(record["operation"], record["args"][0])
             for record in json.loads(trace.stdout)["records"]
             if record["kind"] == "operation" and record["operation"] != "Open"]
    assert calls == [("ReadEEPROM", 5), ("ReadEEPROM", 7), ("GetBoardMapping", 5),
                     ("SetBoardData", 5), ("GetBoardData", 5), ("AssertBoardReset", 5),
                     ("AssertBoardReset", 6), ("LiftBoardReset", 5)]
