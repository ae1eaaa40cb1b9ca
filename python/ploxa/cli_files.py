"""The command line's reading and writing of files, and its one kind of input error."""

class InputError(Exception):
    """Bad input, reported as one line and exit status 2."""


def read_instance(path: str) -> bytes:
    """The instance file's bytes; the core reads them, whatever the name's encoding."""
    try:
        with open(path, "rb") as f:
            text = f.read()
    except OSError as error:
        raise InputError(f"{shown(path)}: {error.strerror}") from error
    try:
        text.decode("utf-8")
    except UnicodeDecodeError as error:
        raise InputError(f"{shown(path)}: not UTF-8 text (byte {error.start})") from error
    return text


def write_text(path: str, text: str) -> None:
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    except OSError as error:
        raise InputError(f"{shown(path)}: {error.strerror}") from error


def shown(path: str) -> str:
    """A path as printable text, undecodable bytes written as escapes."""
    return path.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")
