"""The exception and warning phonaxis raises."""


class PhonaxisError(Exception):
    """A recording that cannot be read or analysed, or settings or times
    that cannot be used: the message is phonaxis-cli's for the same call.

    ``status`` is the exit status phonaxis-cli gives for it: 1 for a file
    that cannot be read or analysed, 2 for a wrong call (settings, times,
    channels).
    """

    def __init__(self, message: str, status: int = 1) -> None:
        super().__init__(message)
        self.message = message
        self.status = status


class PhonaxisWarning(UserWarning):
    """A note phonaxis-cli gives without failing (a short file, a setting
    the analysis does not read)."""
