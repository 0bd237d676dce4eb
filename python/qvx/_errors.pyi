class QvxError(ValueError):
    reason: str
    kind: str
    def __init__(self, reason: str, kind: str = ...) -> None: ...
