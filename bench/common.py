"""Shared timing helpers: medians of repeated runs, printed as ratios to the peer."""

import subprocess
import time

import numpy as np


def median_time(fn, repeat=15, warmup=2):
    for _ in range(warmup):
        fn()
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return float(np.median(times))


def commit():
    try:
        return subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True,
                              text=True, check=True).stdout.strip()
    except Exception:
        return "unknown"


def report(rows, title):
    """rows: (name, ours_seconds, peer_name, peer_seconds or None, target text)."""
    print(f"\n{title}  (commit {commit()})")
    print(f"{'case':<34} {'ours ms':>9} {'peer':<18} {'peer ms':>9} {'ours/peer':>10}  target")
    for name, ours, peer, theirs, target in rows:
        ratio = f"{ours / theirs:>10.2f}" if theirs else f"{'-':>10}"
        peer_ms = f"{theirs * 1e3:>9.2f}" if theirs else f"{'-':>9}"
        print(f"{name:<34} {ours * 1e3:>9.2f} {peer:<18} {peer_ms} {ratio}  {target}")
