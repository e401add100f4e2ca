"""Builds and drives config_probe, the native test driver of the configuration core.

The fee-segment resolution, the per-leg cost, the grids and the margin rules are reached
from Python only through the kernel; the probe calls them directly so their tables can be
tested on their own. Floats cross as hex literals, so comparisons are bit-exact.
"""

import os
import shlex
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SOURCE = Path(__file__).with_name("config_probe.cpp")


def build(directory):
    cxx = shlex.split(os.environ.get("CXX", "c++"))
    exe = Path(directory) / "config_probe"
    sources = [SOURCE, *sorted((ROOT / "src" / "config").glob("*.cpp")),
               *sorted((ROOT / "src" / "common").glob("*.cpp"))]
    # The flags the module is built with: no contraction into FMA, so last bits match.
    cmd = [*cxx, "-std=c++20", "-O2", "-ffp-contract=off", f"-I{ROOT / 'src'}",
           *map(str, sources), "-o", str(exe)]
    subprocess.run(cmd, check=True, capture_output=True, text=True)
    return Probe(exe)


def num(x):
    return float(x).hex()


def text(s):
    return s.encode("utf-8").hex()


class Probe:
    def __init__(self, exe):
        self.exe = exe

    def ask(self, *commands):
        lines = ["\t".join(str(f) for f in c) for c in commands]
        out = subprocess.run([str(self.exe)], input="\n".join(lines) + "\n",
                             capture_output=True, text=True, check=True).stdout
        answers = out.split("\n")[:-1]
        assert len(answers) == len(commands)
        return answers

    def one(self, *command):
        return self.ask(command)[0]
