"""Plain-Python twin of the single-instrument backtest: the signal processor, the Wilder
ATR, the bar step of a cash account (stops, targets, signal exits, trailing ratchet,
signal entries with sizing, fees and slippage), the equity marking with the drawdown
kill-switch, the end-of-data close and the 34 metrics with their annualisation.

Written from the formulas as plain loops. Every floating-point operation is the one the
formula names, in the order it names them, so the engine's results compare bit for bit.
Python raises where IEEE arithmetic returns inf or NaN; the helpers below return what the
hardware would.
"""

import math

from reference import fees as F
from reference import grids as G

INF = math.inf
NAN = math.nan


# ---- IEEE helpers --------------------------------------------------------------------------

def div(a, b):
    """a / b with IEEE results where Python would raise ZeroDivisionError."""
    if b != 0.0:
        return a / b
    if a != a or a == 0.0:
        return NAN
    return math.copysign(INF, a) * math.copysign(1.0, b)


def ieee_pow(x, y):
    try:
        return math.pow(x, y)
    except ValueError:  # negative base, non-integer exponent
        return NAN
    except OverflowError:
        return INF


# ---- signal processor ----------------------------------------------------------------------

def process_signals(entries, exits, max_units=1, accumulate=False):
    n = len(entries)
    assert len(exits) == n
    ce = [False] * n
    cx = [False] * n
    in_position = False
    units = 0
    for i in range(n):
        e, x = bool(entries[i]), bool(exits[i])
        if not accumulate:
            if not in_position and e:
                ce[i] = True
                in_position = True
            elif in_position and x and not e:
                cx[i] = True
                in_position = False
        else:
            if not in_position:
                if e:
                    ce[i] = True
                    units = 1
                    in_position = True
            elif x and not e:
                cx[i] = True
                in_position = units != 1
                units -= 1
            elif e and units < max_units:
                ce[i] = True
                units += 1
    return ce, cx


# ---- Wilder ATR ----------------------------------------------------------------------------

def _max_ignoring_nan(a, b):
    return b if (b > a or a != a) else a


def _true_range(h, l, pc):
    return _max_ignoring_nan(_max_ignoring_nan(h - l, abs(h - pc)), abs(l - pc))


def wilder_atr(high, low, close, period):
    n = len(close)
    out = [NAN] * n
    if period >= n:
        return out
    p = period
    s = high[0] - low[0]
    for i in range(1, p):
        s += _true_range(high[i], low[i], close[i - 1])
    a = s / p
    out[p - 1] = a
    inv = 1.0 / p
    keep = 1.0 - inv
    for i in range(p, n):
        a = a * keep + _true_range(high[i], low[i], close[i - 1]) * inv
        out[i] = a
    return out


# ---- the run -------------------------------------------------------------------------------

class Setup:
    """What a run reads from BacktestConfig and InstrumentConfig, as plain values.

    stop: None | ("fixed", f) | ("atr", k, period) | ("trailing", f)
    target: None | ("fixed", f) | ("atr", k, period) | ("risk_reward", r)
    segment: None for the flat fee, else a segment name of reference.fees
    """

    def __init__(self, **kw):
        self.initial_capital = 100000.0
        self.fees = 0.001
        self.segment = None
        self.slippage = 0.0
        self.apply_slippage = True
        self.limit_slippage = 0.0
        self.upon_bar_close = True
        self.bar_path_adaptive = False
        self.max_drawdown_pct = None
        self.periods_per_year = None
        self.risk_free_rate = 0.0
        self.session_minutes = None
        self.legacy_annualization = False
        self.stop = None
        self.target = None
        self.lot_size = None
        self.alloted_capital = None
        for k, v in kw.items():
            assert hasattr(self, k), k
            setattr(self, k, v)


class Trade:
    def __init__(self, **kw):
        self.__dict__.update(kw)


def _slip(setup, price):
    if setup.apply_slippage and setup.slippage > 0.0:
        return setup.slippage * price
    return 0.0


def _leg(setup, side, price, qty):
    """(total, breakdown or None); the price handed on is price * multiplier (1)."""
    if setup.segment is None:
        return abs(qty) * (price * 1.0) * setup.fees, None
    parts = F.itemised_leg(setup.segment, side, price * 1.0, qty)
    return parts["total"], parts


def run(setup, timestamps, open_, high, low, close, entries, exits, direction=1,
        position_sizes=None, symbol="UNKNOWN"):
    """Returns (equity, drawdown, returns, trades, metrics dict)."""
    n = len(close)
    ce, cx = process_signals(entries, exits)
    atr_period = None
    if setup.stop is not None and setup.stop[0] == "atr":
        atr_period = setup.stop[2]
    elif setup.target is not None and setup.target[0] == "atr":
        atr_period = setup.target[2]
    atr = [0.0] * n
    if atr_period is not None and atr_period > 0:
        atr = wilder_atr(high, low, close, atr_period)

    d_kernel = float(direction)
    m = 1.0
    cash = setup.initial_capital
    peak = setup.initial_capital
    last_equity = 0.0
    marked = False
    halt = False
    max_dd = setup.max_drawdown_pct
    max_dd_active = max_dd is not None and max_dd > 0.0
    pos = None  # at most one position
    trades = []
    equity_s, dd_s, ret_s = [], [], []

    def close_position(i, ts, x, reason, exit_fees=None):
        nonlocal cash, pos
        p = pos
        pos = None
        d = float(p["direction"])
        traded = reason not in ("Settlement", "EndOfData")
        y = x - d * _slip(setup, x) if traded else x
        if exit_fees is not None:
            xf, xb = exit_fees, None
        else:
            xf, xb = _leg(setup, "sell" if p["direction"] > 0 else "buy", y, p["size"])
        e, u = p["entry_price"], p["size"]
        pnl = (y - e) * u * d * m - (p["entry_fees"] + xf)
        notional = e * u * m
        ret = div(pnl, notional) * 100.0 if notional > 0.0 else 0.0
        breakdown = None
        if p["breakdown"] is not None:
            breakdown = F.add_legs(p["breakdown"], xb) if xb is not None else dict(p["breakdown"])
            # The reported total is what the cash was charged: the two legs' totals.
            breakdown["total"] = p["entry_fees"] + xf
        trades.append(Trade(
            id=len(trades), symbol=symbol, entry_idx=p["entry_idx"], exit_idx=i,
            entry_price=e, exit_price=y, size=u, direction=p["direction"], pnl=pnl,
            return_pct=ret, entry_time=p["entry_time"], exit_time=ts,
            fees=p["entry_fees"] + xf, entry_fees=p["entry_fees"], exit_fees=xf,
            exit_reason=reason, fee_breakdown=breakdown))
        cash = cash + (u * m * (e + d * (y - e)) - xf)

    def open_position(i, ts, ref, mult, atr_i):
        """None when opened, else the refusal reason."""
        nonlocal cash, pos
        d = d_kernel
        p = ref + d * _slip(setup, ref)
        w = cash
        if setup.alloted_capital is not None and setup.alloted_capital < w:
            w = setup.alloted_capital
        u = div(w, (1.0 + setup.fees) * m * p)
        if mult is not None:
            u = u * mult
        lot = setup.lot_size if setup.lot_size is not None else 0.0
        if u == u and not math.isinf(u):
            u = G.entry_quantity(u, lot, 0.0)
        if not u > 0.0 or math.isinf(u):
            return "ZeroSize"
        fee, breakdown = _leg(setup, "buy" if direction > 0 else "sell", p, u)
        model_stop = None
        if setup.stop is not None:
            kind = setup.stop[0]
            if kind in ("fixed", "trailing"):
                model_stop = (1.0 - setup.stop[1] * d) * p
            elif kind == "atr" and atr_i > 0.0:
                model_stop = p - setup.stop[1] * d * atr_i
        model_target = None
        if setup.target is not None:
            kind = setup.target[0]
            if kind == "fixed":
                model_target = (1.0 + setup.target[1] * d) * p
            elif kind == "atr" and atr_i > 0.0:
                model_target = p + setup.target[1] * d * atr_i
            elif kind == "risk_reward" and model_stop is not None:
                model_target = p + d * setup.target[1] * abs(p - model_stop)
        pos = dict(direction=direction, entry_idx=i, entry_time=ts, entry_price=p, size=u,
                   stop=model_stop, target=model_target, hh=p, ll=p, entry_fees=fee,
                   breakdown=breakdown)
        cash = cash - (u * m * p + fee)
        return None

    refused = []
    for i in range(n):
        ts, o, h, l, c = int(timestamps[i]), open_[i], high[i], low[i], close[i]
        selected = c if setup.upon_bar_close else o
        # Watermarks, stop / target / signal exit, trailing ratchet.
        if pos is not None:
            if h > pos["hh"]:
                pos["hh"] = h
            if l < pos["ll"]:
                pos["ll"] = l
            is_long = pos["direction"] > 0
            stop, target = pos["stop"], pos["target"]
            stop_hit = stop is not None and (l <= stop if is_long else h >= stop)
            target_hit = target is not None and (h >= target if is_long else l <= target)
            if stop_hit and target_hit:
                bearish_first = (c < o) if is_long else (c >= o)
                if setup.bar_path_adaptive and bearish_first:
                    stop_hit = False
                else:
                    target_hit = False
            if stop_hit:
                price = min(o, stop) if is_long else max(o, stop)
                close_position(i, ts, price, "StopLoss")
            elif target_hit:
                ls = setup.limit_slippage
                price = target * (1.0 - ls) if is_long else target * (1.0 + ls)
                close_position(i, ts, price, "TakeProfit")
            elif cx[i]:
                close_position(i, ts, selected, "Signal")
            elif setup.stop is not None and setup.stop[0] == "trailing":
                f = setup.stop[1]
                if is_long:
                    cand = (1.0 - f) * pos["hh"]
                    if pos["stop"] is None or cand > pos["stop"]:
                        pos["stop"] = cand
                else:
                    cand = (1.0 + f) * pos["ll"]
                    if pos["stop"] is None or cand < pos["stop"]:
                        pos["stop"] = cand
        # Signal entry.
        if ce[i] and pos is None:
            if halt:
                refused.append((i, "DrawdownHalt"))
            else:
                mult = None if position_sizes is None else position_sizes[i]
                reason = open_position(i, ts, selected, mult, atr[i])
                if reason is not None:
                    refused.append((i, reason))
        # Marking.
        value = 0.0
        if pos is not None:
            e, u, d = pos["entry_price"], pos["size"], float(pos["direction"])
            value += u * m * (e + d * (c - e))
        equity = cash + value
        peak = equity if peak < equity else peak
        dd = div(peak - equity, peak) * 100.0
        if peak > 0.0 and not halt and max_dd_active and dd >= max_dd:
            halt = True
        r = 0.0
        if marked and last_equity != 0.0:
            r = div(equity - last_equity, last_equity)
        last_equity = equity
        marked = True
        equity_s.append(equity)
        dd_s.append(dd)
        ret_s.append(r)
    if pos is not None and n > 0:
        close_position(n - 1, int(timestamps[n - 1]), close[n - 1], "EndOfData", exit_fees=0.0)
    metrics = compute_metrics(equity_s, dd_s, ret_s, trades,
                              [int(t) for t in timestamps[:n]], setup)
    return equity_s, dd_s, ret_s, trades, metrics, refused


# ---- metrics -------------------------------------------------------------------------------

def median_gap(ts):
    gaps = [b - a for a, b in zip(ts, ts[1:]) if b - a > 0]
    if not gaps:
        return None
    gaps.sort()
    k = len(gaps)
    if k % 2 == 1:
        return float(gaps[k // 2])
    return (float(gaps[k // 2 - 1]) + float(gaps[k // 2])) / 2.0


def annualization(ts, setup):
    if setup.legacy_annualization:
        return 365.0
    if setup.periods_per_year is not None and setup.periods_per_year > 0.0:
        return setup.periods_per_year
    g = median_gap(ts)
    if g is None:
        return 365.0
    sm = setup.session_minutes
    if g >= 8.64e13 or (sm is not None and sm <= 0.0):
        return 3.1536e16 / g
    minutes = sm if sm is not None else 375.0
    bars = minutes * 6e10 / g
    return max(bars, 1.0) * 252.0


def compute_metrics(E, D, R, trades, T, setup):
    n = len(E)
    out = {}
    start = setup.initial_capital
    end = E[n - 1] if n > 0 else start
    out["start_value"] = start
    out["end_value"] = end
    total_return = div(end - start, start) * 100.0
    out["total_return_pct"] = total_return

    max_dd = 0.0
    for x in D:
        if x > max_dd:
            max_dd = x
    longest = run = 0
    for x in D:
        run = run + 1 if x > 0.0 else 0
        longest = max(longest, run)
    out["max_drawdown_pct"] = max_dd
    out["max_drawdown_duration"] = longest

    open_trades = [t for t in trades if t.exit_reason == "EndOfData"]
    closed = [t for t in trades if t.exit_reason != "EndOfData"]
    out["total_trades"] = len(trades)
    out["total_open_trades"] = len(open_trades)
    out["total_closed_trades"] = len(trades) - len(open_trades)
    opnl = 0.0
    for t in open_trades:
        opnl += t.pnl
    out["open_trade_pnl"] = opnl

    winners = [t for t in closed if t.pnl > 0.0]
    losers = [t for t in closed if t.pnl < 0.0]
    out["winning_trades"] = len(winners)
    out["losing_trades"] = len(losers)
    out["win_rate_pct"] = len(winners) / len(closed) * 100.0 if closed else 0.0
    gp = 0.0
    for t in winners:
        gp += t.pnl
    gl = 0.0
    for t in losers:
        gl += abs(t.pnl)
    if gl > 0.0:
        out["profit_factor"] = gp / gl
    else:
        out["profit_factor"] = INF if gp > 0.0 else 0.0
    expectancy = 0.0
    if closed:
        s = 0.0
        for t in closed:
            s += t.pnl
        expectancy = s / len(closed)
    out["expectancy"] = expectancy
    sqn = 0.0
    if len(closed) >= 2:
        s2 = 0.0
        for t in closed:
            s2 += (t.pnl - expectancy) * (t.pnl - expectancy)
        var = s2 / (len(closed) - 1)
        if var > 0.0:
            sqn = math.sqrt(len(closed)) * expectancy / math.sqrt(var)
    out["sqn"] = sqn

    def mean_of(values):
        if not values:
            return 0.0
        s = 0.0
        for v in values:
            s += v
        return s / len(values)

    out["avg_win_pct"] = mean_of([t.return_pct for t in winners])
    out["avg_loss_pct"] = mean_of([t.return_pct for t in losers])
    out["avg_winning_duration"] = (
        sum(t.exit_idx - t.entry_idx for t in winners) / len(winners) if winners else 0.0)
    out["avg_losing_duration"] = (
        sum(t.exit_idx - t.entry_idx for t in losers) / len(losers) if losers else 0.0)

    fees = 0.0
    for t in trades:
        fees += t.fees
    out["total_fees_paid"] = fees
    best, worst = -INF, INF
    for t in trades:
        if t.return_pct > best:
            best = t.return_pct
        if t.return_pct < worst:
            worst = t.return_pct
    out["best_trade_pct"] = 0.0 if math.isinf(best) else best
    out["worst_trade_pct"] = 0.0 if math.isinf(worst) else worst
    out["avg_trade_return_pct"] = mean_of([t.return_pct for t in trades])

    wins = losses = max_w = max_l = 0
    for t in trades:
        if t.pnl > 0.0:
            wins, losses = wins + 1, 0
        elif t.pnl < 0.0:
            wins, losses = 0, losses + 1
        max_w, max_l = max(max_w, wins), max(max_l, losses)
    out["max_consecutive_wins"] = max_w
    out["max_consecutive_losses"] = max_l
    held = sum(t.exit_idx - t.entry_idx for t in trades)
    out["avg_holding_period"] = held / len(trades) if trades else 0.0
    out["exposure_pct"] = held / n * 100.0 if n > 0 else 0.0

    aw, al = out["avg_win_pct"], out["avg_loss_pct"]
    if al != 0.0:
        out["payoff_ratio"] = aw / abs(al)
    else:
        out["payoff_ratio"] = INF if aw > 0.0 else 0.0
    profit = end - start
    w = max_dd / 100.0
    if w > 0.0 and start > 0.0:
        out["recovery_factor"] = profit / (w * start)
    else:
        out["recovery_factor"] = INF if profit > 0.0 else 0.0

    turnover = 0.0
    for t in trades:
        turnover += abs(t.size * t.entry_price)
        if t.exit_reason not in ("EndOfData", "Settlement"):
            turnover += abs(t.size * t.exit_price)
    out["total_turnover"] = turnover

    A = annualization(T, setup)
    rf = setup.risk_free_rate
    vals = [r for r in R if r == r]
    k = len(vals)
    if k < 2:
        sharpe, sortino, omega = 0.0, 0.0, 1.0
    else:
        s = 0.0
        for r in vals:
            s += r
        mu = s / k
        s2 = 0.0
        for r in vals:
            s2 += (r - mu) * (r - mu)
        var = s2 / (k - 1)
        mue = mu - rf / A if A > 0.0 else mu
        sharpe = mue / math.sqrt(var) * math.sqrt(A) if var > 0.0 else 0.0
        down = 0.0
        for r in vals:
            if r < 0.0:
                down += r * r
        q = down / k
        if q > 0.0:
            sortino = math.sqrt(A) * mue / math.sqrt(q)
        else:
            sortino = INF if mue > 0.0 else 0.0
        pos_sum = 0.0
        neg_sum = 0.0
        for r in vals:
            if r > 0.0:
                pos_sum += r
            elif r < 0.0:
                neg_sum += abs(r)
        if neg_sum > 0.0:
            omega = pos_sum / neg_sum
        else:
            omega = INF if pos_sum > 0.0 else 1.0
    out["sharpe_ratio"] = sharpe
    out["sortino_ratio"] = sortino
    out["omega_ratio"] = omega

    if setup.legacy_annualization:
        years = max(n, 1) / 365.25
    elif len(T) >= 2 and T[-1] - T[0] >= 1:
        years = float(T[-1] - T[0]) / 3.1536e16
    else:
        years = max(n, 1) / 365.25
    cagr = ieee_pow(1.0 + total_return / 100.0, 1.0 / years) - 1.0 if years > 0.0 else 0.0
    if max_dd > 0.0:
        out["calmar_ratio"] = cagr / (max_dd / 100.0)
    else:
        out["calmar_ratio"] = INF if total_return > 0.0 else 0.0
    return out
