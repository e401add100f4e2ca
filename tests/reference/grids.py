"""Plain-Python twin of the quantity and price grids and the margin-rate rules of an
instrument specification, written from their formulas with the same double operations."""

import math

TOLERANCE = 1e-9


def round_half_away(k):
    """Nearest integer, halves away from zero (Python's round() rounds halves to even)."""
    if not math.isfinite(k):
        return k
    a = abs(k)
    whole = math.floor(a)
    # a - whole is exact for every double, so the half test is exact too.
    r = whole + (1.0 if a - whole >= 0.5 else 0.0)
    return math.copysign(r, k)


def nearest_step(k):
    """The nearest integer when k is within tolerance of it, else None."""
    r = round_half_away(k)
    if abs(k - r) < max(abs(r), 1.0) * TOLERANCE:
        return r
    return None


def floor_to_lots(q, lot):
    if not lot > 0.0:
        return q
    return math.floor(q / lot) * lot


def snap_quantity(q, inc):
    if not inc > 0.0:
        return q
    k = q / inc
    r = nearest_step(k)
    return (r if r is not None else math.floor(k)) * inc


def entry_quantity(q, lot, inc):
    return snap_quantity(floor_to_lots(q, lot), inc)


def snap_price(level, inc, direction):
    if not inc > 0.0:
        return level
    k = level / inc
    r = nearest_step(k)
    if r is None:
        r = math.floor(k) if direction > 0 else math.ceil(k)
    return r * inc


def initial_margin_rate(margin_init, leverage):
    if margin_init is not None and margin_init > 0.0:
        return margin_init
    return 1.0 / (leverage if leverage > 1.0 else 1.0)


def maintenance_margin_rate(margin_init, margin_maint, leverage):
    if margin_maint is not None and margin_maint > 0.0:
        return margin_maint
    r = initial_margin_rate(margin_init, leverage)
    return None if r >= 1.0 else 0.5 * r
