"""Quillon: exact, deterministic and fast backtesting and portfolio analytics.

The native engine lives in the extension module ``_quillon``; this package re-exports its
public names and is where Python-side conveniences are added.
"""

from importlib.metadata import PackageNotFoundError, version as _version

import _quillon
from _quillon import *  # noqa: F401,F403  (the public surface, in its fixed order)
from _quillon import InternalError

try:
    __version__ = _version("quillon")
except PackageNotFoundError:  # running from a source tree without an install
    __version__ = "0.0.0+unknown"

__all__ = list(_quillon.__all__) + ["InternalError"]
