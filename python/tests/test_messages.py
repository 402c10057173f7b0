"""Messages through zbhost: round trips, time-outs, threads, bad arguments."""
import os
import select
import threading
import time

import pytest

import pelk


def test_round_trips_every_header_length_and_buffer_count(board):
    for count in range(5):
        for length in range(1, 57):
            header = bytes((length + i) % 256 for i in range(length))
            buffers = [bytes([65 + i]) * (length * 7 + i + 1) for i in range(count)]
            board.send(header, *buffers, dst=(3, 4), tag=length, type=5)
            ready, _, _ = select.select([board.wait_handle], [], [], 5)
            assert ready, "wait_handle did not turn readable"
            message = board.receive(5000)
            assert (message.type, message.src, message.tag) == (5, (3, 4), length)
            assert (message.header, message.buffers) == (header, buffers)


def test_pelkor_header_round_trip(board):
    sent = pelk.PelkorHeader(word0=1, word1=2 ** 32 - 1, word4=4, params=[7, 8, 9],
                             opaque=b"12345678")
    board.send_pelkor(sent, b"data", tag=11)
    message = board.receive_pelkor(5000)
    assert message.header == sent and message.header.params == [7, 8, 9]
    assert (message.tag, message.buffers) == (11, [b"data"])
    board.send(sent, tag=12)
    assert board.receive(5000).header == sent.to_bytes()


def test_timeout_raises_within_the_time_asked(board):
    start = time.monotonic()
    with pytest.raises(pelk.Timeout) as raised:
        board.receive(300)
    elapsed = time.monotonic() - start
    assert 0.25 <= elapsed < 1.5
    assert raised.value.status == pelk.PKERR_TIMEOUT == -2
    assert raised.value.name == pelk.status_name(-2) == "PKERR_TIMEOUT"


def test_other_threads_run_while_one_waits_in_receive(board):
    failures = []

    def wait():
        try:
            board.receive(3000)
        except pelk.Timeout:
            pass
        except Exception as error:  # reported to the test below
            failures.append(error)

    waiter = threading.Thread(target=wait)
    waiter.start()
    with pelk.Board("zbhost") as other:  # the GIL is free while the waiter waits
        other.send(b"other", b"x" * 1024, tag=1)
        assert other.receive(5000).buffers == [b"x" * 1024]
    assert waiter.is_alive()
    waiter.join()
    assert failures == []


@pytest.mark.parametrize("call, error", [
    (lambda b: b.send("text"), TypeError),
    (lambda b: b.send(42), TypeError),
    (lambda b: b.send(b"h", "text"), TypeError),
    (lambda b: b.send(b"x" * 57), ValueError),
    (lambda b: b.send(pelk.PelkorHeader(), *[b"d"] * 5), ValueError),
    (lambda b: b.send(b"h", dst=(1,)), TypeError),
    (lambda b: b.send(b"h", tag=-1), TypeError),
    (lambda b: b.send_pelkor(b"x" * 56), TypeError),
    (lambda b: b.read_eeprom(0, 0, 1 << 30), ValueError),
    (lambda b: pelk.PelkorHeader(params=[0] * 9), ValueError),
    (lambda b: pelk.Board("qm"), ValueError),
])
def test_bad_arguments_raise_before_anything_is_sent(board, call, error):
    with pytest.raises(error):
        call(board)
    with pytest.raises(pelk.Timeout):
        board.receive(50)


def open_descriptors():
    return sorted(os.listdir("/proc/self/fd"))


def test_objects_are_deleted_on_exceptions(zbhost):
    before = open_descriptors()
    with pytest.raises(pelk.Timeout):
        with pelk.Board("zbhost") as board:
            board.receive(10)
    assert board.closed
    with pytest.raises(pelk.NotOpen):
        board.send(b"closed")
    with pytest.raises(pelk.Error) as raised:
        pelk.Board("zb5t")  # no kernel driver in the sandbox
    assert raised.value.name == "ENOENT"
    assert open_descriptors() == before
