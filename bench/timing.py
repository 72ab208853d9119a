"""Timing helpers shared by the benchmark modules."""
import time
import timeit
from typing import Any, Callable, Dict, List, Tuple

# The most transactions a second one connection can make: the receive thread
# polls once per millisecond, and a full-speed USB HID link moves one report
# each way per 1 ms frame.
CEILING_TPS = 1000.0


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


def ns_per_call(statement: str, env: Dict[str, Any], number: int) -> float:
    """Nanoseconds per run of statement (evaluated in env): the best of five
    timeit runs of number calls."""
    best = min(timeit.repeat(statement, globals=env, number=number, repeat=5))
    return best / number * 1e9


def percentile(samples: List[float], p: float) -> float:
    ordered = sorted(samples)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))]
