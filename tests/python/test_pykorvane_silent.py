"""pykorvane: a device that does not answer, for two operation families
(each case waits out the 1 s wait bound, so the file is labelled slow)."""
import pytest

import pykorvane as pk
from device_helpers import R
from test_pykorvane_status import OPERATIONS

SILENT = [op for op in OPERATIONS if op[0] in ("gpio.read", "meter.voltage")]


@pytest.mark.parametrize("name, product, call, value, attid, opcode, last", SILENT,
                         ids=[op[0] for op in SILENT])
def test_muted_device_gives_no_answer(opened_pykorvane, name, product, call, value, attid, opcode, last):
    model, dev = opened_pykorvane(product)
    dev.mute()
    with pytest.raises(pk.NoAnswerError, match="no answer") as silent:
        call(model)
    assert isinstance(silent.value, TimeoutError)
    assert dev.requests()[-1] == R(attid)
    assert model.is_open  # a silent device is not a gone one
