"""Helpers the module's tests share: request tuples as the emulator logs
them, a device's reports, and the model objects over emulated devices."""
import contextlib

import _korvane as K

READ, WRITE = 0x13, 0x12


def R(attid):
    """A read request as dev.requests() lists it."""
    return (READ, attid, b"")


def W(attid, value):
    """A write request as dev.requests() lists it."""
    return (WRITE, attid, bytes(value))


# What every open sends: reads of the five identity texts, in order.
IDENTITY_READS = [R(attid) for attid in range(5)]


def u32(value):
    return value.to_bytes(4, "little")


def host_reports(dev):
    """The 64-byte reports the device received from the host, in order."""
    return [entry.report for entry in dev.log() if entry.kind == 0]


@contextlib.contextmanager
def model_on(emu, model, product, serial):
    """An emulated device of the product and a model object, not yet opened;
    the object is deleted (and so closed) afterwards."""
    dev = emu.add(product, serial=serial)
    device = model()
    yield device, dev
    getattr(K, "delete_" + model.__name__)(device)


def assert_deleting_open_releases_handle(emu, class_name, open_name, *open_args):
    """Deleting an open object through the flat function releases its handle."""
    thing = getattr(K, "new_" + class_name)()
    assert getattr(K, class_name + "_" + open_name)(thing, *open_args) is False
    assert emu.open_handle_count() == 1
    getattr(K, "delete_" + class_name)(thing)
    assert emu.open_handle_count() == 0
