"""The C++ extension of brix_eli: the analysis and brix_import's stages."""
from typing import Callable, Mapping, Sequence

import numpy as np
import numpy.typing as npt

__version__: str
BAND: tuple[float, float]
YEARLY_COLUMNS: tuple[str, ...]
SMOOTHED_COLUMNS: tuple[str, ...]

class BadInput(ValueError): ...
class ImportFailure(ValueError): ...
class OptionError(ValueError): ...

def analyse(lat: npt.ArrayLike, lon: npt.ArrayLike, values: npt.ArrayLike, first_year: int,
            threshold: float, period: int, dateline: bool, threads: int = 1) -> dict: ...
def analyse_band(band_lon: npt.ArrayLike, values: npt.ArrayLike, first_year: int,
                 threshold: float, period: int, threads: int = 1) -> dict: ...
def import_arrays(name: str, dimensions: Sequence[tuple[str, int]],
                  variables: Sequence[tuple[str, str, Sequence[int], Sequence[tuple]]],
                  globals: Sequence[tuple], values: Mapping[int, np.ndarray], data: int,
                  reader: Callable[[tuple[int, ...], tuple[int, ...]], np.ndarray],
                  options: Mapping[str, str]) -> dict: ...
