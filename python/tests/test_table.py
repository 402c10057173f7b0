"""The board-identity table through pelk.boards(), pelk.resolve() and
pelk.Board.by_number()."""
import os
import subprocess
import sys

import pytest

import pelk


def table_segments():
    return sorted(name for name in os.listdir("/dev/shm") if name.startswith("OAM_"))


def test_no_table_is_said_and_looking_makes_none(zbhost):
    for name in table_segments():
        os.unlink(os.path.join("/dev/shm", name))
    for look in (pelk.boards, lambda: pelk.resolve(1), lambda: pelk.Board.by_number(1)):
        with pytest.raises(pelk.Error) as raised:
            look()
        assert raised.value.status == pelk.OAMSHADOW_ERR_UNAVAILABLE
        assert "there is no board-identity table" in raised.value.text
        assert "oamtab load FILE" in raised.value.text
    assert table_segments() == []


def test_a_table_this_user_may_not_open_is_said_as_such(zbhost, oamtab):
    other = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
    if subprocess.run(other + ["true"], capture_output=True).returncode != 0:
        pytest.skip("this process cannot run a program as another user")
    oamtab("emu-a 1 zbhost 0")
    os.chmod("/dev/shm/OAM_BoardIDsShadow", 0o660)
    script = ("import pelk\n"
              "for look in (pelk.boards, lambda: pelk.resolve(1)):\n"
              "    try:\n"
              "        look()\n"
              "    except pelk.Error as error:\n"
              "        print(error.name, error.text)\n")
    ran = subprocess.run(other + [sys.executable, "-c", script], capture_output=True, text=True)
    os.chmod("/dev/shm/OAM_BoardIDsShadow", 0o666)
    said = ("the board-identity table /dev/shm/OAM_BoardIDsShadow (owner root, group root, "
            "mode 0660) cannot be opened: this user may not read and write it; join group root, "
            "which may")
    assert ran.stdout.splitlines() == ["OAMSHADOW_ERR_UNAVAILABLE " + said,
                                       "PKSTATUS_OAM_NOT_ATTACHED " + said], ran.stderr


def test_table_after_oamtab_load(zbhost, oamtab):
    oamtab("emu-a 1 zbhost 0", "trunk-1 3 zb5t 7 alaw", "broken 5 zb5t 7x")
    assert pelk.boards() == [
        ("broken", 5, "zb5t", "7x", False),
        ("emu-a", 1, "zbhost", "0", False),
        ("trunk-1", 3, "zb5t", "7", True),
    ]
    assert pelk.boards()[1].driver_board_id == "0"
    assert pelk.resolve(3) == ("zb5t", 7)
    for missing in (5, 99):
        with pytest.raises(pelk.NoSuchBoard):
            pelk.resolve(missing)
    with pelk.Board.by_number(1) as board:
        assert (board.driver, board.id) == ("zbhost", 0)
        board.send(b"by number", tag=2)
        assert board.receive(5000).header == b"by number"
