"""Lifecycle through the module: a thousand create/open/close/delete cycles of
each model, half through the proxy classes and half through the flat
functions, leave no receive thread, no open handle and no memory behind."""
import os
import time

import pytest

import _korvane as K
import korvane
from device_helpers import SANITIZED

CYCLES = 1000
WARMUP = 100
# Python's own allocator keeps a little of what the cycles touched; a leak of
# one model per cycle would be several MiB.
RESIDENT_SLACK_KIB = 1024

MODELS = [
    (korvane.Vanta, "Vanta", K.new_Vanta, K.Vanta_open, K.delete_Vanta),
    (korvane.Brondel, "Brondel HUB", K.new_Brondel, K.Brondel_open, K.delete_Brondel),
    (korvane.Dmm, "DMM", K.new_Dmm, K.Dmm_open, K.delete_Dmm),
]


def thread_count():
    return len(os.listdir("/proc/self/task"))


def thread_count_settled_to(expected):
    """The thread count once it has dropped to expected, or after a second: a
    joined thread can stay in /proc a moment after the join returns."""
    give_up = time.monotonic() + 1.0
    count = thread_count()
    while count > expected and time.monotonic() < give_up:
        time.sleep(0.0002)
        count = thread_count()
    return count


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def proxy_cycle(proxy_class, close_first):
    model = proxy_class()
    assert model.open() is False
    assert model.isConnected()
    if close_first:
        assert model.close() is False
    del model  # the last reference: the destructor runs here


def flat_cycle(new, open_, delete, close_first):
    model = new()
    assert open_(model) is False
    assert K.KorCore_isConnected(model)
    if close_first:
        assert K.KorCore_close(model) is False
    delete(model)


@pytest.mark.parametrize("proxy_class, product, new, open_, delete", MODELS,
                         ids=[m[1].split()[0] for m in MODELS])
def test_create_open_close_delete_cycles_leave_nothing_behind(
        emu, proxy_class, product, new, open_, delete):
    dev = emu.add(product, serial="LC-0001")
    threads_before = thread_count()

    probe = proxy_class()  # the measurement sees a model's receive thread
    assert thread_count() == threads_before + 1
    del probe
    assert thread_count_settled_to(threads_before) == threads_before

    resident_warm = None
    for i in range(CYCLES):
        if i % 2:
            proxy_cycle(proxy_class, close_first=(i % 4 == 1))
        else:
            flat_cycle(new, open_, delete, close_first=(i % 4 == 0))
        dev.clear_log()  # the emulator's log is not the module's memory
        if i % 100 == 0:
            assert thread_count_settled_to(threads_before) == threads_before, f"cycle {i}"
            assert emu.open_handle_count() == 0, f"cycle {i}"
        if i == WARMUP:
            resident_warm = resident_kib()

    growth = resident_kib() - resident_warm
    print(f"[lifecycle] {product}: {CYCLES} cycles, threads {threads_before} -> "
          f"{thread_count_settled_to(threads_before)}, open handles {emu.open_handle_count()}, "
          f"resident growth {growth} KiB")  # shown with pytest -s
    assert thread_count_settled_to(threads_before) == threads_before
    assert emu.open_handle_count() == 0
    # AddressSanitizer's quarantine keeps freed memory for a while.
    assert growth < RESIDENT_SLACK_KIB or SANITIZED
