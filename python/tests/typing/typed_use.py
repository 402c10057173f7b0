"""Uses pelk as a typed script would; mypy --strict must accept it, which it
does only when it finds the package's types (py.typed, __init__.pyi)."""
import pelk


def echo_tag(board: pelk.Board, tag: int) -> int:
    board.send(b"header", b"data", dst=(1, 0), tag=tag)
    answer: pelk.Message = board.receive(timeout_ms=1000)
    return answer.tag


def version() -> str:
    return pelk.__version__
