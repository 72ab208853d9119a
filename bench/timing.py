"""Timing helpers shared by the benchmark modules."""
import time
from typing import Any, Callable, List, Tuple


def timed_loop(read: Callable[[], Any], seconds: float) -> Tuple[float, List[float], Any]:
    """Calls read() as fast as it returns for seconds, after 200 warm-up
    calls: (calls per second, the latency of each call in seconds, the last
    result)."""
    for _ in range(200):
        read()
    latencies = []
    clock = time.perf_counter
    end = clock() + seconds
    start = clock()
    while True:
        t0 = clock()
        value = read()
        t1 = clock()
        latencies.append(t1 - t0)
        if t1 >= end:
            break
    return len(latencies) / (clock() - start), latencies, value


def percentile(samples: List[float], p: float) -> float:
    ordered = sorted(samples)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))]
