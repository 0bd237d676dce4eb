import mmap
import os
from typing import IO, NamedTuple, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

from ._errors import QvxError as QvxError

__version__: str
DEFAULT_MAX_PIXELS: int

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
_Bytes = Union[bytes, bytearray, memoryview, mmap.mmap]
Source = Union[_Path, _Bytes, IO[bytes]]
_Dpi = Optional[Tuple[float, float]]

class QvxInfo(NamedTuple):
    width: int
    height: int
    bits: int
    top_down: bool
    colours: int
    dpi: _Dpi

def read(source: Source, *, max_pixels: int = ...) -> npt.NDArray[np.uint8]: ...
def read_indexed(
    source: Source, *, max_pixels: int = ...
) -> Tuple[npt.NDArray[np.uint8], npt.NDArray[np.uint8]]: ...
def info(source: Source) -> QvxInfo: ...
def encode(picture: object, *, dpi: _Dpi = ...) -> bytes: ...
def write(target: Union[_Path, IO[bytes]], picture: object, *, dpi: _Dpi = ...) -> None: ...
