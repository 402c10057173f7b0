"""Boards and the table of the host of a pelkd: pelk.Board(remote=...),
pelk.Board.by_number(remote=...), pelk.boards(remote=...) and
pelk.resolve(remote=...) answer as their local forms do."""
import selectors

import pytest

import pelk


def test_remote_board_answers_as_a_local_one(pelkd):
    with pelk.Board("zbhost", remote=pelkd) as remote, pelk.Board("zbhost") as local:
        for board in (local, remote):
            board.send(b"header", b"first", b"second" * 1000, dst=(3, 4), tag=9)
        answers = [board.receive(5000) for board in (local, remote)]
        assert repr(answers[1]) == repr(answers[0])
        assert answers[1].buffers == [b"first", b"second" * 1000]
        assert remote.read_eeprom(0, 0, 20) == local.read_eeprom(0, 0, 20)
        assert remote.driver_version() == local.driver_version()
        # The wait handle tells a selector when a message waits.
        with selectors.DefaultSelector() as selector:
            selector.register(remote, selectors.EVENT_READ)
            assert selector.select(0) == []
            remote.send(b"ping")
            assert selector.select(5)
            assert remote.receive(0).header == b"ping"
            assert selector.select(0) == []


def test_remote_table_and_board_by_number(pelkd, oamtab):
    oamtab("emu-b 2 zbhost 1", "trunk-1 3 zb5t 7 alaw", "broken 5 zb5t 7x")
    assert pelk.boards(remote=pelkd) == pelk.boards()
    assert pelk.resolve(3, remote=pelkd) == pelk.resolve(3) == ("zb5t", 7)
    with pytest.raises(pelk.NoSuchBoard):
        pelk.resolve(5, remote=pelkd)
    with pelk.Board.by_number(2, remote=pelkd) as board:
        assert (board.driver, board.id) == ("zbhost", 1)
        board.send(b"by number", tag=2)
        assert board.receive(5000).header == b"by number"


def test_unreachable_pelkd_raises(tmp_path, zbhost):
    nowhere = "unix:" + str(tmp_path / "none.sock")
    with pytest.raises(pelk.NotOpen):
        pelk.Board("zbhost", remote=nowhere)
    with pytest.raises(pelk.Error):
        pelk.boards(remote=nowhere)
