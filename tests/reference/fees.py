"""Plain-Python twin of the per-leg transaction cost, written from the published rate table.

Each component is computed as rate * notional, gst on brokerage + exchange_txn + sebi_fee,
and the total adds the six components in the fixed order brokerage, stt, exchange_txn,
sebi_fee, stamp_duty, gst -- the same operations in the same order as the engine, so
results compare bit for bit.
"""

SEGMENTS = (
    "equity_intraday",
    "equity_delivery",
    "futures_nfo",
    "options_nfo",
    "futures_mcx",
    "options_mcx",
    "futures_cds",
    "options_cds",
)

# segment: (brokerage_flat, brokerage_rate, stt_rate, exchange_txn_rate, stamp_duty_rate)
RATES = {
    "equity_intraday": (20.0, 0.0003, 0.00025, 0.0000307, 0.00003),
    "equity_delivery": (0.0, 0.0, 0.001, 0.0000307, 0.00015),
    "futures_nfo": (20.0, 0.0003, 0.0005, 0.0000183, 0.00002),
    "options_nfo": (20.0, 0.0, 0.0015, 0.0003553, 0.00003),
    "futures_mcx": (20.0, 0.0003, 0.0001, 0.000021, 0.00002),
    "options_mcx": (20.0, 0.0, 0.0005, 0.000418, 0.00003),
    "futures_cds": (20.0, 0.0003, 0.0, 0.0000035, 0.000001),
    "options_cds": (20.0, 0.0, 0.0, 0.000311, 0.000001),
}

SEBI_TURNOVER_RATE = 0.000001
GST_RATE = 0.18
DP_SELL_CHARGE_PER_ISIN_PER_DAY = 15.34

COMPONENTS = ("brokerage", "stt", "exchange_txn", "sebi_fee", "stamp_duty", "gst")


def schedule(segment):
    flat, rate, stt, txn, stamp = RATES[segment]
    return {
        "brokerage_flat": flat,
        "brokerage_rate": rate,
        "stt_rate": stt,
        "exchange_txn_rate": txn,
        "stamp_duty_rate": stamp,
        "sebi_turnover_rate": SEBI_TURNOVER_RATE,
        "gst_rate": GST_RATE,
        "dp_sell_charge_per_isin_per_day": DP_SELL_CHARGE_PER_ISIN_PER_DAY,
    }


def total(parts):
    s = 0.0
    for name in COMPONENTS:
        s = s + parts[name]
    return s


def itemised_leg(segment, side, price, quantity):
    """Components of one leg; side is "buy" or "sell"; notional = |quantity| * price."""
    flat, rate, stt_rate, txn_rate, stamp_rate = RATES[segment]
    n = abs(quantity) * price
    delivery = segment == "equity_delivery"
    if delivery:
        brokerage = 0.0
    elif rate > 0.0:
        brokerage = min(rate * n, flat)
    else:
        brokerage = flat
    stt = stt_rate * n if (side == "sell" or delivery) else 0.0
    txn = txn_rate * n
    sebi = SEBI_TURNOVER_RATE * n
    stamp = stamp_rate * n if side == "buy" else 0.0
    gst = GST_RATE * (brokerage + txn + sebi)
    parts = {
        "brokerage": brokerage,
        "stt": stt,
        "exchange_txn": txn,
        "sebi_fee": sebi,
        "stamp_duty": stamp,
        "gst": gst,
    }
    parts["total"] = total(parts)
    return parts


def flat_leg(rate, price, quantity):
    return abs(quantity) * price * rate


def add_legs(a, b):
    out = {name: a[name] + b[name] for name in COMPONENTS}
    out["total"] = total(out)
    return out
