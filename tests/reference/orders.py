"""Plain-Python twins of the order arithmetic: the SplitMix64 fill-model generator, the TWAP
slice quantities and the local trading date. Written from the formulas; every float
operation is the one the formula names, in its order."""

MASK = (1 << 64) - 1


class SplitMix64:
    """The fill model's generator: one state word, seeded with fill_seed."""

    def __init__(self, seed):
        self.state = seed & MASK

    def draw(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        z = z ^ (z >> 31)
        return (z >> 11) * 2.0 ** -53


def twap_slices(units, n):
    """Slice k: cumulative target (k + 1) * U / N (exactly U for the last) less k * U / N."""
    out = []
    for k in range(n):
        target = units if k + 1 == n else (k + 1) * units / n
        out.append(target - k * units / n)
    return out


DAY_NS = 86_400_000_000_000


def local_day(ts, offset):
    return (ts + offset) // DAY_NS  # Python's // floors, as the local date must
