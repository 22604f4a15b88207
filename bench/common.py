"""Shared timing for the benchmarks: medians of repeated runs, ours beside a peer."""

from __future__ import annotations

import statistics
import time
from dataclasses import dataclass
from typing import Callable


@dataclass
class Row:
    name: str  # what is measured, with the input
    ours: float  # median seconds per call
    peer: float | None  # median seconds per call of the peer on the same input
    peer_name: str = ""
    size: int = 0  # bytes processed per call, for a throughput column

    def cells(self) -> list[str]:
        def fmt(t: float | None) -> str:
            if t is None:
                return "-"
            return f"{t * 1e6:.2f} µs" if t < 1e-3 else f"{t * 1e3:.3f} ms"

        ratio = f"{self.peer / self.ours:.1f}x" if self.peer else "-"
        rate = f"{self.size / self.ours / 1e6:.0f} MB/s" if self.size else "-"
        return [self.name, fmt(self.ours), rate, self.peer_name or "-", fmt(self.peer), ratio]


def median_time(fn: Callable[[], object], repeat: int = 15, min_time: float = 0.02) -> float:
    """Median seconds per call over `repeat` samples, each long enough to time reliably."""
    fn()
    loops = 1
    while True:
        start = time.perf_counter()
        for _ in range(loops):
            fn()
        if time.perf_counter() - start >= min_time:
            break
        loops *= 2
    samples = []
    for _ in range(repeat):
        start = time.perf_counter()
        for _ in range(loops):
            fn()
        samples.append((time.perf_counter() - start) / loops)
    return statistics.median(samples)


def compare(name: str, ours: Callable[[], object], peer: Callable[[], object] | None = None, peer_name: str = "",
            size: int = 0) -> Row:
    return Row(name, median_time(ours), median_time(peer) if peer else None, peer_name, size)


def print_table(rows: list[Row]) -> None:
    header = ["benchmark", "ours (median)", "ours rate", "peer", "peer (median)", "peer/ours"]
    table = [header] + [r.cells() for r in rows]
    widths = [max(len(row[i]) for row in table) for i in range(len(header))]
    for i, row in enumerate(table):
        print("  ".join(cell.ljust(widths[j]) for j, cell in enumerate(row)))
        if i == 0:
            print("  ".join("-" * w for w in widths))
