"""Random sequences of calls, faults and block reassignments (hypothesis
stateful testing), checked against the emulated devices' own state.

pykorvane: whatever stray, late, cut, padded, doubled or missing answers came
before, a call returns exactly what the device holds or raises a
KorvaneError, and a write that succeeded is in the device. korvane: blocks
copied between models, with models deleted under them, answer each call
with the right value or the module's failure value and never reach freed
memory (the sanitizer run of the Python tests relies on this one)."""
import gc
import struct
import weakref

import pytest
from hypothesis import HealthCheck, Phase, settings, strategies as st
from hypothesis.stateful import RuleBasedStateMachine, rule, run_state_machine_as_test

import korvane
import pykorvane as pk

GPIO_DIR, PULL_UP, PULL_DOWN, LEVELS = 0x1200, 0x1201, 0x1202, 0x1203
ADC, I2C_TARGET, PORTS, CALIBRATION, VOLTAGE, CURRENT = 0x1300, 0x1400, 0x8000, 0x8100, 0x8101, 0x8102
SERIALS = {"Vanta": "VT-0001", "Brondel HUB": "BH-0001", "DMM": "DM-0001"}
PK_MODELS = {"Vanta": pk.Vanta, "Brondel HUB": pk.Brondel, "DMM": pk.Dmm}
PRODUCTS, GPIO, I2C = st.sampled_from(list(SERIALS)), st.sampled_from(["Vanta", "Brondel HUB"]), st.sampled_from(["Vanta", "DMM"])
PINS, REGS, WIDTHS = st.integers(0, 7), st.sampled_from([0, 1, 5, 0xFF]), st.integers(1, 4)
MODES = {"output": [0], "input": [1, 0, 0], "pullup": [1, 1, 0], "pulldown": [1, 0, 1]}  # direction, pulls
# Stray answers a device might send unasked: a read's (4-byte value) and a write's.
STRAYS = [bytes([7, 0x13, 1, 1, 2, 3, 4]), bytes([3, 0x12, 1])]
FAILED = object()  # what a pykorvane call that raised a KorvaneError gives here


def bounded(examples, steps):
    """The same sequences on every run, no example database, no shrinking (a
    failure prints the steps as they ran, and a shrink would replay late
    answers for minutes)."""
    return settings(max_examples=examples, stateful_step_count=steps, deadline=None, derandomize=True,
                    database=None, phases=[Phase.explicit, Phase.generate],
                    suppress_health_check=[HealthCheck.too_slow])


def u32(dev, attid):
    return int.from_bytes(dev.get_attribute(attid), "little")


def register(dev, reg, width):
    """What an I2C access of width bytes at reg reaches on the bridge's current
    target, None when no target answers there."""
    target = dev.get_attribute(I2C_TARGET)[0]
    low, high = dev.get_i2c_register(target, reg), dev.get_i2c_register(target, (reg + 1) & 0xFF)
    return None if low is None else (low & 0xFF, low, low | (high & 0xFF) << 16, low | high << 16)[width - 1]


class PykorvaneSequences(RuleBasedStateMachine):
    def __init__(self, emu):
        super().__init__()
        emu.reset()
        self.devs = {p: emu.add(p, serial=s) for p, s in SERIALS.items()}
        self.models = {p: PK_MODELS[p](serial=s).open() for p, s in SERIALS.items()}
        self.devs["Vanta"].set_gpio_external(0xF0, 0xA0)
        self.devs["Brondel HUB"].set_gpio_external(0xF0, 0x50)
        self.slow = set()  # devices given a late answer or a silent call
        self.resized = set()  # devices with a resize armed and no call gone through since

    def teardown(self):
        for model in self.models.values():
            model.close()

    def call(self, product, action):
        try:
            result = action(self.models[product])
        except pk.KorvaneError:
            return FAILED
        self.resized.discard(product)  # every answer of a call that went through was a success
        return result

    def expect(self, product, action, truth):
        got = self.call(product, action)
        assert got is FAILED or got == truth, (got, truth)

    @rule(product=GPIO, pin=PINS)
    def gpio_read(self, product, pin):
        self.expect(product, lambda m: m.gpio.read(pin), bool(u32(self.devs[product], LEVELS) >> pin & 1))

    @rule(product=GPIO)
    def gpio_levels(self, product):
        self.expect(product, lambda m: m.gpio.levels, u32(self.devs[product], LEVELS))

    @rule(product=GPIO, pin=PINS, mode=st.sampled_from(list(MODES)))
    def gpio_mode(self, product, pin, mode):
        if self.call(product, lambda m: m.gpio.mode(pin, mode)) is not FAILED:
            bits = [u32(self.devs[product], a) >> pin & 1 for a in (GPIO_DIR, PULL_UP, PULL_DOWN)]
            assert bits[:len(MODES[mode])] == MODES[mode]

    # An input's level does not follow its latch, so after a write the
    # outputs hold what was written and the inputs read as before.
    @rule(product=GPIO, pin=PINS, level=st.booleans(), mask=st.none() | st.integers(0, 0xFF))
    def gpio_write(self, product, pin, level, mask):
        dev = self.devs[product]
        before, outputs = u32(dev, LEVELS), ~u32(dev, GPIO_DIR) & 0xFFFFFFFF
        write = lambda m: m.gpio.write_levels(mask)  # noqa: E731
        if mask is None:  # one pin: the others are written back as read
            outputs &= 1 << pin
            mask, write = outputs if level else 0, lambda m: m.gpio.write(pin, level)
        if self.call(product, write) is not FAILED:
            assert u32(dev, LEVELS) == before & ~outputs | mask & outputs

    @rule(channel=st.integers(0, 7), value=st.none() | st.integers(0, 0xFFFFFFFF))
    def adc_read(self, channel, value):
        dev = self.devs["Vanta"]
        if value is not None:
            dev.set_adc(channel, value)
        self.expect("Vanta", lambda m: m.adc.read(channel), u32(dev, ADC + channel))

    @rule()
    def adc_read_all(self):
        self.expect("Vanta", lambda m: m.adc.read_all(), [u32(self.devs["Vanta"], ADC + c) for c in range(8)])

    @rule(product=I2C, address=st.sampled_from([0x40, 0x41]))  # nobody answers at 0x41
    def i2c_target(self, product, address):
        if self.call(product, lambda m: setattr(m.i2c, "target", address)) is not FAILED:
            assert self.devs[product].get_attribute(I2C_TARGET) == bytes([address])

    @rule(product=I2C, reg=REGS, width=WIDTHS)
    def i2c_read(self, product, reg, width):
        self.expect(product, lambda m: m.i2c.read(reg, width=width), register(self.devs[product], reg, width))

    @rule(product=I2C, reg=REGS, width=WIDTHS, value=st.integers(0, 0xFFFFFFFF))
    def i2c_write(self, product, reg, width, value):
        value &= (1 << 8 * width) - 1
        if self.call(product, lambda m: m.i2c.write(reg, value, width=width)) is not FAILED:
            assert register(self.devs[product], reg, width) == value

    @rule(port=st.integers(1, 8), on=st.booleans())
    def hub_port(self, port, on):
        dev, bit = self.devs["Brondel HUB"], 1 << port - 1
        before = u32(dev, PORTS)
        if self.call("Brondel HUB", lambda m: m.port_on(port) if on else m.port_off(port)) is not FAILED:
            assert u32(dev, PORTS) == (before | bit if on else before & ~bit)

    @rule(mask=st.integers(0, 0xFF))
    def hub_port_mask(self, mask):
        if self.call("Brondel HUB", lambda m: setattr(m, "port_mask", mask)) is not FAILED:
            assert u32(self.devs["Brondel HUB"], PORTS) == mask

    @rule(port=st.integers(1, 8))
    def hub_read(self, port):
        mask = u32(self.devs["Brondel HUB"], PORTS)
        self.expect("Brondel HUB", lambda m: (m.port_mask, m.is_port_on(port)), (mask, bool(mask >> port - 1 & 1)))

    @rule(attid=st.sampled_from([VOLTAGE, CURRENT]), value=st.sampled_from([0.25, 5.0, -2.5, 12.125]))
    def meter_reading(self, attid, value):
        dev = self.devs["DMM"]
        dev.set_reading(attid, value)
        read = (lambda m: m.voltage) if attid == VOLTAGE else (lambda m: m.current)
        self.expect("DMM", read, struct.unpack("<f", dev.get_attribute(attid))[0])

    @rule(offsets=st.tuples(*[st.integers(-8, 8)] * 4))
    def meter_offsets(self, offsets):
        self.devs["DMM"].set_calibration(*offsets)
        self.expect("DMM", lambda m: m.calibration_offsets, struct.unpack("<4b", self.devs["DMM"].get_attribute(CALIBRATION)))

    @rule()
    def meter_calibrate(self):
        if self.call("DMM", lambda m: m.calibrate()) is not FAILED:
            assert self.devs["DMM"].get_attribute(CALIBRATION) == bytes(4)

    @rule()
    def meter_die_id(self):
        self.expect("DMM", lambda m: m.die_id, register(self.devs["DMM"], 0xFF, 2))

    @rule(product=PRODUCTS, attid=st.integers(0, 4))
    def identity(self, product, attid):
        if product in self.resized:
            return  # a cut text is taken for the whole text: see test_known_wrong_values
        text = self.devs[product].get_attribute(attid).split(b"\0")[0].decode()
        name = ("vendor", "product", "revision", "serial", "firmware")[attid]
        self.expect(product, lambda m: getattr(m, name), text)

    @rule(product=PRODUCTS, report=st.sampled_from(STRAYS))
    def stray_answer(self, product, report):
        self.devs[product].inject(report)

    @rule(product=PRODUCTS, length=st.sampled_from([0, 2, 5]))
    def resized_answer(self, product, length):
        self.devs[product].resize_next_answer(length)
        self.resized.add(product)

    @rule(product=PRODUCTS)
    def duplicated_answer(self, product):
        self.devs[product].duplicate_next_answer()

    # A late or missing answer costs its call the wait bound. One per device
    # and example: a second one on a connection that still owes a late answer
    # runs into the pairing failure of test_known_wrong_values below.
    @rule(product=PRODUCTS, delay=st.sampled_from([1200, 1500]))
    def late_answer(self, product, delay):
        if self.slow_once(product):
            self.devs[product].delay_next_answer(delay)

    @rule(product=PRODUCTS)
    def silent_call(self, product):
        if self.slow_once(product):
            self.devs[product].mute(True)
            try:
                assert self.call(product, lambda m: m.vendor) is FAILED
            finally:
                self.devs[product].mute(False)

    def slow_once(self, product):
        fresh = product not in self.slow
        self.slow.add(product)
        return fresh

    @rule(product=PRODUCTS)
    def replug(self, product):
        self.devs[product].unplug()
        assert self.call(product, lambda m: m.vendor) is FAILED  # the link learns the device is gone
        self.devs[product].replug()
        self.models[product].open()


def test_pykorvane_calls_return_the_device_state_or_raise(emu):
    run_state_machine_as_test(lambda: PykorvaneSequences(emu), settings=bounded(20, 30))


def quietly(call):
    """call(), a KorvaneError ignored."""
    try:
        call()
    except pk.KorvaneError:
        pass


def late_then(extra):
    """A read whose answer comes 1.3 s late, then extra(board, dev), then a
    read whose own answer is late too: the first late answer arrives while
    it waits."""
    def run(board, dev):
        dev.set_adc(2, 0x44434241)
        dev.delay_next_answer(1300)
        quietly(lambda: board.adc.read(2))
        extra(board, dev)
        dev.delay_next_answer(5000)
    return run


# Sequences the machine found that return another value than the device's,
# kept out of it until fixed: a stray or doubled report dropped before a
# request is counted as the late answer still owed, so later requests go
# without a fence and the late answer (ADC channel 2's) is taken for theirs;
# an identity text cut short is taken for the whole.
@pytest.mark.xfail(strict=True, raises=AssertionError, reason="the call returns another value than the device holds")
@pytest.mark.parametrize("setup, call, truth", [
    (late_then(lambda b, d: (d.inject(STRAYS[1]), quietly(lambda: b.adc.read(0)))),
     lambda b: b.gpio.levels, lambda d: u32(d, LEVELS)),
    (late_then(lambda b, d: (d.duplicate_next_answer(), quietly(lambda: b.adc.read(0)))),
     lambda b: b.gpio.levels, lambda d: u32(d, LEVELS)),
    (lambda b, d: d.resize_next_answer(2), lambda b: b.serial, lambda d: "VT-0001"),
], ids=["stray-report", "duplicated-answer", "cut-identity-text"])
def test_known_wrong_values(opened_pykorvane, setup, call, truth):
    board, dev = opened_pykorvane("Vanta")
    setup(board, dev)
    right = truth(dev)
    try:
        got = call(board)
    except pk.KorvaneError:
        return
    assert got == right


# The module's face: model slots, each on a device of its own, and the
# blocks each kind has. Every device holds values of its own, so a block
# reaching the wrong device shows.
SLOTS = {"v1": (korvane.Vanta, "Vanta", "VT-0001"), "v2": (korvane.Vanta, "Vanta", "VT-0002"),
         "b": (korvane.Brondel, "Brondel HUB", "BH-0001"), "d": (korvane.Dmm, "DMM", "DM-0001")}
MEMBERS = {korvane.Vanta: ("gpiohw", "adchw", "i2chw"), korvane.Brondel: ("gpiohw",), korvane.Dmm: ("i2chw",)}
COPIES = [(member, target, source) for target in SLOTS for source in SLOTS
          for member in MEMBERS[SLOTS[target][0]] if member in MEMBERS[SLOTS[source][0]]]
HOLDS = [(slot, member) for slot in SLOTS for member in MEMBERS[SLOTS[slot][0]]]
# member: (call, what the device holds for it, the module's failure value)
CALLS = {
    "gpiohw": [(lambda blk, n: blk.read(), lambda dev, n: u32(dev, LEVELS), 0xFFFFFFFF),
               (lambda blk, n: blk.digitalRead(n), lambda dev, n: bool(u32(dev, LEVELS) >> n & 1), True)],
    "adchw": [(lambda blk, n: blk.analogRead(n), lambda dev, n: u32(dev, ADC + n), 0xFFFFFFFF)],
    "i2chw": [(lambda blk, n: blk.read2byte(n), lambda dev, n: dev.get_i2c_register(0x40, n), 0)],
}


class Made:
    """A model object made in a slot: whether its open went through, and for
    each block, the Made whose connection the block talks through."""

    def __init__(self, model, dev, opened):
        self.ref, self.dev, self.opened = weakref.ref(model), dev, opened
        self.blocks = {member: self for member in MEMBERS[type(model)]}

    def serves(self):
        return self.ref() is not None and self.opened


class ModuleBlocks(RuleBasedStateMachine):
    def __init__(self, emu):
        super().__init__()
        emu.reset()
        self.devs = {slot: emu.add(product, serial=serial) for slot, (_, product, serial) in SLOTS.items()}
        for k, (slot, dev) in enumerate(self.devs.items(), 1):
            members = MEMBERS[SLOTS[slot][0]]
            if "gpiohw" in members:
                dev.set_gpio_external(0xFFFFFFFF, 0x01010101 * (k * 0x11))
            for n in range(8):
                "adchw" in members and dev.set_adc(n, k << 16 | n)
                "i2chw" in members and dev.set_i2c_register(0x40, n, k << 12 | n + 1)
        self.slots, self.made, self.held = {}, [], []  # slot: (model, Made); every Made; held blocks
        for slot in SLOTS:
            self.make(slot)

    def teardown(self):
        for n, block in enumerate(self.blocks()):  # every block still referenced
            self.check(*block, n % 8)
        self.slots.clear(), self.held.clear()
        gc.collect()

    def make(self, slot):
        model_class, _, serial = SLOTS[slot]
        # A device opens in one model at a time: a deleted one that a held
        # block still borrows keeps it.
        free = not any(made.serves() and made.dev is self.devs[slot] for made in self.made)
        model = model_class()
        made = Made(model, self.devs[slot], model.open(serial) is False)
        assert made.opened == free
        self.slots[slot] = model, made
        self.made.append(made)

    def blocks(self):
        """(Made, member, block) of every block reachable: the models' and the held ones."""
        return [(made, member, getattr(model, member))
                for model, made in self.slots.values() for member in MEMBERS[type(model)]] + self.held

    def check(self, made, member, block, arg):
        served = made.blocks[member]
        for call, truth, failure in CALLS[member]:
            assert call(block, arg) == (truth(served.dev, arg) if served.serves() else failure)

    @rule(slot=st.sampled_from(list(SLOTS)), arg=st.integers(0, 7))
    def renew(self, slot, arg):
        """Deletes the slot's model and makes another in its place."""
        del self.slots[slot]
        gc.collect()
        self.make(slot)
        self.check_orphans(arg)

    @rule(copy=st.sampled_from(COPIES))
    def assign(self, copy):
        member, target, source = copy
        setattr(self.slots[target][0], member, getattr(self.slots[source][0], member))
        self.slots[target][1].blocks[member] = self.slots[source][1].blocks[member]

    @rule(hold=st.sampled_from(HOLDS))
    def hold(self, hold):
        slot, member = hold
        self.held.append((self.slots[slot][1], member, getattr(self.slots[slot][0], member)))

    @rule(pick=st.integers(0, 7))
    def let_go(self, pick):
        if self.held:
            del self.held[pick % len(self.held)]
            gc.collect()
            self.check_orphans(pick)

    def check_orphans(self, arg):
        """Calls every block whose connection's model is gone."""
        for made, member, block in self.blocks():
            if made.blocks[member].ref() is None:
                self.check(made, member, block, arg)

    @rule(pick=st.integers(0, 15), arg=st.integers(0, 7))
    def call(self, pick, arg):
        blocks = self.blocks()
        self.check(*blocks[pick % len(blocks)], arg)


def test_module_blocks_copied_between_models_outlive_them_safely(emu):
    run_state_machine_as_test(lambda: ModuleBlocks(emu), settings=bounded(30, 40))
