"""Builds and drives kernel_probe, the native test driver of the execution kernel parts
that no Python entry reaches yet (instrument specifications, margin accounts, hedging,
close requests, the step's event list, the accumulating signal processor)."""

import os
import shlex
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SOURCE = Path(__file__).with_name("kernel_probe.cpp")
PARTS = ("core", "metrics", "signals", "config", "common")


def build(directory):
    cxx = shlex.split(os.environ.get("CXX", "c++"))
    exe = Path(directory) / "kernel_probe"
    sources = [SOURCE]
    for part in PARTS:
        sources += sorted((ROOT / "src" / part).glob("*.cpp"))
    # The module's own arithmetic flags, so results match it bit for bit.
    cmd = [*cxx, "-std=c++20", "-O2", "-ffp-contract=off", f"-I{ROOT / 'src'}",
           *map(str, sources), "-o", str(exe)]
    subprocess.run(cmd, check=True, capture_output=True, text=True)
    return Driver(exe)


def h(x):
    return "-" if x is None else float(x).hex()


def f(text):
    return None if text == "-" else float.fromhex(text)


class Driver:
    def __init__(self, exe):
        self.exe = exe

    def session(self, *lines):
        out = subprocess.run([str(self.exe)], input="\n".join(lines) + "\n",
                             capture_output=True, text=True, check=True).stdout
        answers = out.split("\n")[:-1]
        assert len(answers) == len(lines)
        return answers


def step(idx, ts, o, hi, lo, c, entry=False, exit=False, mult=None, stop=None, target=None,
         atr=0.0):
    return (f"step {idx} {ts} {h(o)} {h(hi)} {h(lo)} {h(c)} {int(entry)} {int(exit)} "
            f"{h(mult)} {h(stop)} {h(target)} {h(atr)}")


def events(answer):
    """The events of a step answer as lists of fields, and the marked equity."""
    head, _, equity = answer.partition("|")
    return [e.split(":") for e in head.split()], f(equity.strip())


def trades(answer):
    head, _, tail = answer.partition("|")
    rows = []
    for t in head.split():
        p = t.split(",")
        rows.append(dict(id=int(p[0]), entry_idx=int(p[1]), exit_idx=int(p[2]),
                         entry_price=f(p[3]), exit_price=f(p[4]), size=f(p[5]),
                         direction=int(p[6]), pnl=f(p[7]), return_pct=f(p[8]), fees=f(p[9]),
                         entry_fees=f(p[10]), exit_fees=f(p[11]), exit_reason=p[12],
                         entry_time=int(p[13]), exit_time=int(p[14])))
    return rows, tail.split()
