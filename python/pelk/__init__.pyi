"""Board access for zb5t telephony boards and the zbhost emulator."""

from typing import List, NamedTuple, Optional, Tuple, Union, overload

_Buffer = Union[bytes, bytearray, memoryview]

__version__: str

class Error(Exception):
    """A pelklib operation failed: status code, its name and why (the
    library's diagnostic of the failed call, else what the status means). A
    status that is an operating-system error number raises a subclass that is
    also the OSError of that number (FileNotFoundError for ENOENT), errno set."""

    status: int
    name: str
    text: str
    def __init__(self, status: int, name: str, text: str) -> None: ...

class Timeout(Error):
    """No message or board answer came within the time-out (PKERR_TIMEOUT)."""

class NotOpen(Error):
    """The Board is closed, or its opening failed (PKERR_NOT_OPEN)."""

class NoSuchBoard(Error):
    """No such board in the board-identity table (PKSTATUS_NO_SUCH_BOARD,
    OAMSHADOW_ERR_NOT_FOUND)."""

def status_name(status: int) -> str:
    """The name of a status code: "PKERR_TIMEOUT", "ENOENT", "OK" for 0."""

PKERR_UNKNOWN: int
PKERR_TIMEOUT: int
PKERR_NO_MESSAGE: int
PKERR_BAD_MESSAGE: int
PKERR_WRONG_BUFSIZE: int
PKERR_BUFCOUNT: int
PKERR_NO_MEMORY: int
PKERR_SEQUENCE_ERROR: int
PKERR_ABORTED: int
PKERR_DATA_LOST: int
PKERR_UNEXPECTED_COMPLETION: int
PKERR_NOT_OPEN: int
PKSTATUS_HEADER_TOO_LONG: int
PKSTATUS_OAM_NOT_ATTACHED: int
PKSTATUS_UNKNOWN_DRIVER: int
PKSTATUS_NO_SUCH_BOARD: int
PKSTATUS_NOT_PROVIDED: int
PKSTATUS_INVALID_HANDLE: int
OAMSHADOW_ERR_UNAVAILABLE: int
OAMSHADOW_ERR_NOT_FOUND: int

class PelkorHeader:
    """The 56-byte protocol message header."""

    word0: int
    """First word."""
    word1: int
    """Second word."""
    word4: int
    """The word after the opaque bytes."""
    opaque: bytes
    """The 8 bytes between word1 and word4."""
    params: List[int]
    """The parameters in use, up to 8; setting it sets the parameter count."""
    def __init__(self, word0: int = 0, word1: int = 0, word4: int = 0,
                 params: List[int] = [], opaque: bytes = bytes(8)) -> None: ...
    def to_bytes(self) -> bytes:
        """The 56 bytes of the header in host byte order."""
    @staticmethod
    def from_bytes(data: bytes) -> "PelkorHeader":
        """The header laid out in 56 bytes of host byte order."""

class Message:
    """A received message."""

    type: int
    """The message type."""
    src: Tuple[int, int]
    """The sender's address words (a1, a2)."""
    tag: int
    """The tag the sender gave the message."""
    header: Union[bytes, PelkorHeader]
    """bytes from receive(), a PelkorHeader from receive_pelkor()."""
    buffers: List[bytes]
    """The data buffers, 0 to 4."""

class BoardEntry(NamedTuple):
    """One board of the board-identity table."""

    name: str
    number: int
    driver: str
    driver_board_id: str
    alaw: bool

def boards(remote: Optional[str] = None) -> List[BoardEntry]:
    """Every board of the board-identity table (of the host of the pelkd at remote)."""

def resolve(number: int, remote: Optional[str] = None) -> Tuple[str, int]:
    """The driver name and driver board ID of a logical board number."""

class Board:
    """An opened connection to a board driver ("zbhost" or "zb5t")."""

    driver: str
    """"zbhost" or "zb5t"."""
    id: int
    """The board's ID within its driver (from the table for by_number(), else 0)."""
    wait_handle: int
    """A descriptor that turns readable when a message arrives; -1 once closed."""
    closed: bool
    """True once close() ran."""
    def __init__(self, driver: str = "zbhost", size: int = 56,
                 remote: Optional[str] = None) -> None:
        """Opens a board of this driver (on the host of the pelkd at remote,
        "unix:PATH" or "HOST:PORT"); raises pelk.Error if it cannot."""
    @staticmethod
    def by_number(number: int, size: int = 56, remote: Optional[str] = None) -> "Board":
        """Opens the board with this logical number in the board-identity table."""
    def fileno(self) -> int:
        """The wait handle, so selectors take the Board."""
    def close(self) -> None:
        """Deletes the library object and closes its descriptors."""
    def __enter__(self) -> "Board": ...
    def __exit__(self, *exc: object) -> None: ...
    def send(self, header: Union[_Buffer, PelkorHeader], *buffers: _Buffer,
             dst: Tuple[int, int] = (0, 0), tag: int = 0, type: int = 1) -> None:
        """Sends a message with a header of at most 56 bytes and 0 to 4 data buffers."""
    def send_pelkor(self, header: PelkorHeader, *buffers: _Buffer,
                    dst: Tuple[int, int] = (0, 0), tag: int = 0) -> None:
        """Sends a protocol message (type 1)."""
    def receive(self, timeout_ms: int) -> Message:
        """Waits up to timeout_ms for a message; raises pelk.Timeout when none came."""
    def receive_pelkor(self, timeout_ms: int) -> Message:
        """As receive(), with the header as a PelkorHeader."""
    def flush(self) -> None:
        """Drops the data buffers of the message being received."""
    def __repr__(self) -> str:
        """<pelk.Board driver='zbhost' id=0 open> (or closed)."""
    @overload
    def read_eeprom(self, offset: int, length: int) -> bytes: ...
    @overload
    def read_eeprom(self, board: int, offset: int, length: int) -> bytes:
        """Up to length bytes of the board's EEPROM from offset (the board is
        this Board's own id unless given)."""
    def driver_version(self) -> Tuple[int, int]:
        """The driver's version as (first, second)."""
    def board_mapping(self, board: Optional[int] = None) -> Tuple[int, int, int, int, int, int]:
        """The board's mapping record: size (24), word1 to word5."""
    def get_board_data(self, board: Optional[int] = None, size: int = 4096) -> bytes:
        """Up to size bytes of the board data stored for the board."""
    @overload
    def set_board_data(self, data: bytes) -> int: ...
    @overload
    def set_board_data(self, board: int, data: bytes) -> int:
        """Stores the board data; returns the count of bytes stored."""
    def reset(self, board: Optional[int] = None) -> None:
        """Holds the board in reset."""
    def release(self, board: Optional[int] = None, timeout_ms: int = 5000) -> None:
        """Releases the board from reset and waits until it is ready."""
    def detect(self, maximum: int = 64) -> List[Tuple[int, int]]:
        """The boards the driver detects, as (first, second) pairs."""
    def stats(self, selector1: int = 0, selector2: int = 0) -> bytes:
        """The driver's statistics record, as the bytes the driver wrote."""
    def zero_stats(self, selector1: int = 0, selector2: int = 0) -> None:
        """Zeroes the driver's statistics."""
