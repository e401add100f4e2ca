"""A moving-average crossover backtest on real NSE daily bars bundled with Quillon.

Run with `make demo`. Trades RELIANCE long when the 20-day average crosses above the
50-day average and exits when it crosses back, with a 2 x ATR(14) stop, whole shares,
a little slippage and the statutory NSE intraday cost schedule. Prints the metrics, the
first trades with their itemised costs and a one-line summary per bundled stock, and
writes an equity and drawdown chart to demo_output/.
"""

import sys
from pathlib import Path

import numpy as np

import quillon as ql
from quillon.datasets import available, load_daily

SYMBOL = "RELIANCE"
FAST, SLOW = 20, 50
OUTPUT = Path(__file__).resolve().parent.parent / "demo_output"


def date_of(ns):
    return str(np.datetime64(int(ns) + ql.IST_OFFSET_NS, "ns").astype("datetime64[D]"))


def crossover_signals(close):
    """Entries where the fast average crosses above the slow one, exits where it crosses
    back below (no signal while either average is still warming up)."""
    fast, slow = ql.sma(close, FAST), ql.sma(close, SLOW)
    above = np.zeros(len(close), dtype=bool)
    known = np.isfinite(fast) & np.isfinite(slow)
    above[known] = fast[known] > slow[known]
    before = np.r_[False, above[:-1]]
    was_known = np.r_[False, known[:-1]]
    entries = above & ~before & was_known
    exits = ~above & before & known
    return entries, exits


def configuration():
    config = ql.BacktestConfig(initial_capital=1_000_000.0, slippage=0.0005, fee_segment="NSE")
    config.set_atr_stop(2.0, 14)
    return config


def backtest(symbol):
    bars = load_daily(symbol)
    entries, exits = crossover_signals(bars["close"])
    result = ql.run_single_backtest(
        bars["timestamps"], bars["open"], bars["high"], bars["low"], bars["close"],
        bars["volume"], entries, exits, symbol=symbol, config=configuration(),
        instrument_config=ql.InstrumentConfig(lot_size=1.0))
    return bars, result


def print_metrics(result):
    print("\nMetrics")
    for key, value in result.metrics.to_dict().items():
        if value is None:
            text = "unbounded"
        elif isinstance(value, int):
            text = f"{value:d}"
        else:
            text = f"{value:,.2f}"
        print(f"  {key:<28} {text:>16}")


def print_trades(result, count=8):
    trades = result.trades()
    print(f"\nFirst {min(count, len(trades))} of {len(trades)} trades")
    print(f"  {'entry':>10} {'exit':>10} {'shares':>7} {'buy':>9} {'sell':>9} {'pnl':>11} "
          f"{'return':>8} {'costs':>8} {'stt':>7}  reason")
    for t in trades[:count]:
        costs = t.fee_breakdown or {}
        print(f"  {date_of(t.entry_time):>10} {date_of(t.exit_time):>10} {t.size:>7.0f} "
              f"{t.entry_price:>9.2f} {t.exit_price:>9.2f} {t.pnl:>11,.2f} {t.return_pct:>7.2f}% "
              f"{t.fees:>8.2f} {costs.get('stt', 0.0):>7.2f}  {t.exit_reason}")


def plot(symbol, bars, result):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    dates = (bars["timestamps"] + ql.IST_OFFSET_NS).astype("datetime64[ns]")
    equity, drawdown = result.equity_curve(), result.drawdown_curve()
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(10, 6), sharex=True,
                                      gridspec_kw={"height_ratios": [3, 1]})
    top.plot(dates, equity, color="tab:blue", linewidth=1.2, label="strategy equity")
    hold = bars["close"] / bars["close"][0] * equity[0]
    top.plot(dates, hold, color="tab:gray", linewidth=0.8, alpha=0.7, label="buy and hold")
    for t in result.trades():
        top.axvspan(dates[t.entry_idx], dates[t.exit_idx], color="tab:green", alpha=0.06)
    top.set_title(f"{symbol}: SMA {FAST}/{SLOW} crossover, 2 x ATR(14) stop, NSE costs")
    top.set_ylabel("equity (INR)")
    top.legend(loc="upper left")
    top.grid(alpha=0.3)
    bottom.fill_between(dates, -drawdown, 0.0, color="tab:red", alpha=0.4)
    bottom.set_ylabel("drawdown (%)")
    bottom.grid(alpha=0.3)
    fig.tight_layout()
    OUTPUT.mkdir(exist_ok=True)
    path = OUTPUT / f"backtest_{symbol}.png"
    fig.savefig(path, dpi=120)
    plt.close(fig)
    return path


def main():
    print(f"Quillon {ql.__version__} - SMA {FAST}/{SLOW} crossover on bundled NSE daily bars")
    bars, result = backtest(SYMBOL)
    n = len(bars["close"])
    print(f"\n{SYMBOL}: {n} daily bars, {date_of(bars['timestamps'][0])} to "
          f"{date_of(bars['timestamps'][-1])}")
    print_metrics(result)
    print_trades(result)
    print(f"\nChart written to {plot(SYMBOL, bars, result)}")

    print("\nSame strategy on every bundled stock")
    for symbol in available():
        _, r = backtest(symbol)
        m = r.metrics
        print(f"  {symbol:<10} {r!r}  sharpe {m.sharpe_ratio:5.2f}  "
              f"win rate {m.win_rate_pct:5.1f}%  costs {m.total_fees_paid:>10,.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
