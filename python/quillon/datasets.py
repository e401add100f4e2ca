"""Real NSE daily bars bundled with the package, for demos, tests and quick experiments.

Prices are as traded (not adjusted for splits or dividends), so series can jump on
corporate-action days: real data has such days and the engine must cope with them.
"""

from __future__ import annotations

from importlib import resources

import numpy as np

__all__ = ["available", "load_daily"]


def available() -> list[str]:
    """Symbols of the bundled daily series."""
    files = resources.files("quillon").joinpath("data").iterdir()
    return sorted(f.name[:-4] for f in files if f.name.endswith(".csv"))


def _utc_ns(stamp: str) -> int:
    # "2020-10-01 00:00:00+05:30": local time with its offset -> UTC nanoseconds.
    local, sign, offset = stamp[:19], stamp[19], stamp[20:]
    hours, minutes = offset.split(":")
    shift = (int(hours) * 3600 + int(minutes) * 60) * 1_000_000_000
    ns = np.datetime64(local.replace(" ", "T"), "ns").astype(np.int64)
    return int(ns) - shift if sign == "+" else int(ns) + shift


def load_daily(symbol: str) -> dict[str, np.ndarray]:
    """Daily bars of `symbol` as arrays: timestamps (int64 ns, UTC), open, high, low,
    close, volume (float64)."""
    if symbol not in available():
        raise ValueError(f"no bundled data for {symbol!r}; available: {', '.join(available())}")
    text = resources.files("quillon").joinpath("data", f"{symbol}.csv").read_text()
    rows = [line.split(",") for line in text.splitlines()[1:] if line.strip()]
    out = {"timestamps": np.array([_utc_ns(r[0]) for r in rows], dtype=np.int64)}
    for i, name in enumerate(("open", "high", "low", "close", "volume"), start=1):
        out[name] = np.array([float(r[i]) for r in rows], dtype=np.float64)
    return out
