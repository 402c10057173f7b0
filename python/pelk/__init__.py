"""Board access for zb5t telephony boards and the zbhost emulator:
pelk.Board sends and receives messages and runs board operations,
pelk.boards() and pelk.resolve() read the board-identity table, failures
raise pelk.Error. The types are in __init__.pyi."""
from . import _pelk
from ._pelk import *  # noqa: F401,F403 (the compiled module is the whole API)
from ._pelk import __version__  # noqa: F401

__all__ = [name for name in dir(_pelk) if not name.startswith("_")]

# The classes are pelk's: tracebacks and help() name pelk.Board, pelk.Timeout.
for _name in __all__:
    if isinstance(getattr(_pelk, _name), type):
        getattr(_pelk, _name).__module__ = __name__
del _name
