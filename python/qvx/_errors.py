"""The one exception the qvx package raises for a picture it refuses."""


class QvxError(ValueError):
    """A QVX picture that cannot be read, or a picture that cannot be stored.

    ``reason`` is one line for people, with byte counts where they help
    (``"the QVX picture is truncated: 1200 of 49206 bytes"``); ``kind`` is
    one word for programs: ``"truncated"``, ``"not-qvx"``, ``"too-large"``,
    ``"no-memory"``, ``"not-paletted"``, ``"read-error"`` or
    ``"cannot-store"``. The error pickles, so it crosses process boundaries
    (multiprocessing, Dask) unchanged.
    """

    def __init__(self, reason: str, kind: str = "not-qvx") -> None:
        super().__init__(reason)
        self.reason = reason
        self.kind = kind

    def __reduce__(self):
        return (type(self), (self.reason, self.kind))
