"""The game's side of an upload: challenge constants, field rules, statuses.

The game compares the status line of an upload reply as text: "6" and "9"
have their own messages, anything sorting after "5" is an error that the game
retries with a fresh challenge (about five times), and "5" or anything sorting
before it counts as accepted.
"""

import re
from dataclasses import dataclass

# Upload statuses, as sent on the line after "bof".
STORED = "1"          # the score is on the board now
NOT_BETTER = "2"      # accepted; the same name already holds an equal or better score
OFF_THE_BOARD = "3"   # accepted; too low for the board, nothing kept
VERIFYING = "4"       # accepted; its replay waits for the verifier, the score follows
CHALLENGE_NOT_MET = "6"  # wrong answer, or the record id is unknown, used or expired
MALFORMED = "7"       # missing, repeated or unacceptable fields, or an oversized request
BUSY = "8"            # rate limit for this address, challenge cap reached, storage failure
IMPOSSIBLE = "9"      # a score the game cannot have produced (above 9 999 999)
# Refusals the game shows no message for; they sort after "5", so it retries
# a few times and then keeps the entry for a later synchronisation.
NO_REPLAY = "71"      # no verified replay of exactly this score from this client
NAME_TAKEN = "72"     # the name belongs to another player's key
BANNED = "73"         # the name, key or address is banned by the operator

# The record id handed out instead of a real one when no challenge could be
# issued; an upload quoting it is answered BUSY rather than CHALLENGE_NOT_MET.
BUSY_RECORD_ID = "busy"

MAX_SCORE = 9_999_999     # the game's record holds seven digits
MAX_NAME = 20
UPLOAD_FIELDS = ("recID", "solution", "name", "level", "score")


class ConstantsError(ValueError):
    pass


@dataclass(frozen=True)
class ChallengeConstants:
    k: int
    m: int
    d: int

    def solution(self, challenge: int) -> int:
        """The game's answer: (challenge + K) * M - D in 32-bit signed arithmetic."""
        return wrap32(wrap32(wrap32(challenge + self.k) * self.m) - self.d)


def wrap32(value: int) -> int:
    value &= 0xFFFFFFFF
    return value - 0x1_0000_0000 if value & 0x8000_0000 else value


_CONSTANT_LINE = re.compile(
    r"^\s*constexpr\s+int\s+CHALLENGE_([KMD])\s*=\s*(-?\d+)\s*;", re.MULTILINE)


def read_challenge_constants(path) -> ChallengeConstants:
    """Reads CHALLENGE_K, _M and _D from the game's header, each exactly once."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError as e:
        raise ConstantsError(f"cannot read {path}: {e.strerror}") from e
    found = {}
    for letter, value in _CONSTANT_LINE.findall(text):
        if letter in found:
            raise ConstantsError(f"{path}: CHALLENGE_{letter} defined twice")
        found[letter] = int(value)
    missing = [l for l in "KMD" if l not in found]
    if missing:
        raise ConstantsError(
            f"{path}: no line 'constexpr int CHALLENGE_{missing[0]} = ...;'")
    k, m, d = found["K"], found["M"], found["D"]
    if not (100_000 <= k <= 999_999 and 1 <= m <= 9 and 10 <= d <= 99):
        raise ConstantsError(
            f"{path}: want K of six digits, M of one digit (not 0), D of two digits;"
            f" got K={k} M={m} D={d}")
    return ChallengeConstants(k, m, d)


def parse_upload_body(body: bytes):
    """Splits "recID=..&solution=..&name=..&level=..&score=.." into a dict.

    The game does not percent-encode, so values are taken as they stand ("+"
    and "%" are not decoded). Returns None when a field is missing or repeated,
    or the body is not ASCII. Unknown fields are ignored.
    """
    try:
        text = body.decode("ascii")
    except UnicodeDecodeError:
        return None
    fields = {}
    for part in text.split("&"):
        key, sep, value = part.partition("=")
        if not sep:
            continue
        if key in fields:
            return None
        fields[key] = value
    if any(name not in fields for name in UPLOAD_FIELDS):
        return None
    return fields


def _name_char_ok(c: str) -> bool:
    # What the name entry accepts: letters, space and "-" .. ";" (45..59),
    # which includes the "." the game pads names with.
    return ("a" <= c <= "z") or ("A" <= c <= "Z") or c == " " or 45 <= ord(c) <= 59


def valid_name(name: str) -> bool:
    return 1 <= len(name) <= MAX_NAME and all(_name_char_ok(c) for c in name)


# Characters that only pad or separate: a name made different by them alone
# is the same name ("Zed", "Zed..", " zed", "Z-ed", "Z.E.D").
_NAME_PADDING = str.maketrans("", "", " -./:;")
# Digits that pass for letters in the game's font: "Z3d" is not "Zed", but
# "B0B" is "BOB" and "A1" is "Al" (and "AI").
_NAME_LOOKALIKE = str.maketrans("01i", "oll")


def name_key(name: str) -> str:
    """What name ownership compares: case, spaces, padding dots and the
    separators "-" "/" ":" ";" do not count, nor 0 against O or 1 against
    I and l. A name of separators alone stands for itself."""
    key = name.lower().translate(_NAME_PADDING).translate(_NAME_LOOKALIKE)
    return key or name.strip() or name


def valid_level(level: str) -> bool:
    # Two printable characters ("A1".."Z6", "??"); never a comma, which would
    # split the board line in the wrong place.
    return len(level) == 2 and all(33 <= ord(c) <= 126 and c != "," for c in level)


def parse_score(text: str):
    """Returns (status, value): value set when the score is acceptable."""
    if not text or len(text) > 16 or not all("0" <= c <= "9" for c in text):
        return MALFORMED, None
    value = int(text)
    if value > MAX_SCORE:
        return IMPOSSIBLE, None
    return None, value


def parse_solution(text: str):
    """The solution as an int, or None when it is not a 32-bit decimal."""
    digits = text[1:] if text.startswith("-") else text
    if not digits or len(digits) > 10 or not all("0" <= c <= "9" for c in digits):
        return None
    value = int(text)
    return value if -0x8000_0000 <= value <= 0x7FFF_FFFF else None
