"""The exceptions of the tavex module.

The library throws three kinds of error, each with a fixed English text that
names the card and the problem; the module raises them as:

- LogicError (a ValueError): a wrong argument or a request the card does not
  take (a bad base port, a track the card refuses);
- RangeError (an IndexError): a number outside what it names (a point index);
- DeviceError (an OSError): the system, the driver or the board failed or did
  not answer.

PlantError (an OSError) is a mistake in a plant file, with where it is.
"""


class Error(Exception):
    """Base of every error raised by the library through this module."""


class LogicError(Error, ValueError):
    """The library refused a request (std::logic_error)."""


class RangeError(Error, IndexError):
    """A number outside the range of what it names (std::range_error)."""


class DeviceError(Error, OSError):
    """The system, the driver or a board failed (std::runtime_error)."""


class PlantError(Error, OSError):
    """A mistake in a plant file: file, line and column (from 1; 0 when the
    file as a whole is at fault) and the message without the position."""

    file: str
    line: int
    column: int
    message: str
