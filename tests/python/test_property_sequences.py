"""Random sequences of calls, faults and block reassignments (hypothesis
stateful testing), checked against the emulated devices' own state.

pykorvane: whatever stray, late, cut, padded, doubled or missing answers came
before, a call returns exactly what the device holds or raises a
KorvaneError, and a write that went through is in the device. korvane:
blocks copied between models, with models deleted under them, answer each
call with the right value or the module's failure value and never reach
freed memory (the sanitizer run of the Python tests relies on this one)."""
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
PINS, REGS = st.integers(0, 7), [0, 1, 5, 0xFF]
MODES = {"output": [0], "input": [1, 0, 0], "pullup": [1, 1, 0], "pulldown": [1, 0, 1]}  # direction, pulls
STRAYS = [bytes([7, 0x13, 1, 1, 2, 3, 4]), bytes([3, 0x12, 1])]  # a read's answer, a write's
FAILED = object()  # what a pykorvane call that raised a KorvaneError gives here


def bounded(examples, steps):
    """The same sequences on every run, no example database, no shrinking (a
    failure prints its steps as they ran; a shrink would replay late answers
    for minutes)."""
    return settings(max_examples=examples, stateful_step_count=steps, deadline=None, derandomize=True,
                    database=None, phases=[Phase.explicit, Phase.generate],
                    suppress_health_check=[HealthCheck.too_slow])


def u32(dev, attid):
    return int.from_bytes(dev.get_attribute(attid), "little")


def bit(dev, attid, n):
    return u32(dev, attid) >> n & 1


def register(dev, reg, width):
    """What an I2C access of width bytes at reg reaches on the bridge's
    current target, None when no target answers there."""
    target = dev.get_attribute(I2C_TARGET)[0]
    low, high = dev.get_i2c_register(target, reg), dev.get_i2c_register(target, (reg + 1) & 0xFF)
    return None if low is None else (low & 0xFF, low, low | (high & 0xFF) << 16, low | high << 16)[width - 1]


# name: (products, call(model, n, width), what the device holds for it)
READS = {
    "gpio.read": (["Vanta", "Brondel HUB"], lambda m, n, w: m.gpio.read(n), lambda d, n, w: bool(bit(d, LEVELS, n))),
    "gpio.levels": (["Vanta", "Brondel HUB"], lambda m, n, w: m.gpio.levels, lambda d, n, w: u32(d, LEVELS)),
    "gpio.mode": (["Vanta", "Brondel HUB"], lambda m, n, w: m.gpio.mode(n).value, lambda d, n, w: (
        "output" if not bit(d, GPIO_DIR, n) else "pullup" if bit(d, PULL_UP, n)
        else "pulldown" if bit(d, PULL_DOWN, n) else "input")),
    "adc.read": (["Vanta"], lambda m, n, w: m.adc.read(n), lambda d, n, w: u32(d, ADC + n)),
    "adc.read_all": (["Vanta"], lambda m, n, w: m.adc.read_all(), lambda d, n, w: [u32(d, ADC + c) for c in range(8)]),
    "i2c.read": (["Vanta", "DMM"], lambda m, n, w: m.i2c.read(REGS[n % 4], width=w),
                 lambda d, n, w: register(d, REGS[n % 4], w)),
    "ports": (["Brondel HUB"], lambda m, n, w: (m.port_mask, m.is_port_on(n + 1)),
              lambda d, n, w: (u32(d, PORTS), bool(bit(d, PORTS, n)))),
    "readings": (["DMM"], lambda m, n, w: (m.voltage, m.current),
                 lambda d, n, w: struct.unpack("<2f", d.get_attribute(VOLTAGE) + d.get_attribute(CURRENT))),
    "offsets": (["DMM"], lambda m, n, w: m.calibration_offsets, lambda d, n, w: struct.unpack("<4b", d.get_attribute(CALIBRATION))),
    "die_id": (["DMM"], lambda m, n, w: m.die_id, lambda d, n, w: register(d, 0xFF, 2)),
    "identity": (list(SERIALS), lambda m, n, w: getattr(m, ("vendor", "product", "revision", "serial", "firmware")[n % 5]),
                 lambda d, n, w: d.get_attribute(n % 5).split(b"\0")[0].decode()),
}


class PykorvaneSequences(RuleBasedStateMachine):
    def __init__(self, emu):
        super().__init__()
        emu.reset()
        self.devs = {p: emu.add(p, serial=s) for p, s in SERIALS.items()}
        self.models = {p: PK_MODELS[p](serial=s).open() for p, s in SERIALS.items()}
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
        self.resized.discard(product)  # a call that went through had only success answers
        return result

    @rule(read=st.sampled_from([(p, name) for name, spec in READS.items() for p in spec[0]]),
          n=PINS, width=st.integers(1, 4))
    def read(self, read, n, width):
        product, name = read
        if name == "identity" and product in self.resized:
            return  # a cut text is taken for the whole text: see test_known_wrong_values
        _, call, truth = READS[name]
        right = truth(self.devs[product], n, width)
        got = self.call(product, lambda m: call(m, n, width))
        assert got is FAILED or got == right, (got, right)

    @rule(n=PINS, value=st.integers(0, 0xFFFFFFFF))
    def values_change(self, n, value):
        self.devs["Vanta"].set_adc(n, value)
        self.devs["Vanta"].set_gpio_external(0xF0, value & 0xF0)
        self.devs["Brondel HUB"].set_gpio_external(0xF0, value >> 8 & 0xF0)
        self.devs["DMM"].set_reading((VOLTAGE, CURRENT)[n % 2], (value & 0xFFFF) / 64)
        self.devs["DMM"].set_calibration(*struct.unpack("<4b", value.to_bytes(4, "little")))

    @rule(product=GPIO, pin=PINS, mode=st.sampled_from(list(MODES)))
    def gpio_mode(self, product, pin, mode):
        if self.call(product, lambda m: m.gpio.mode(pin, mode)) is not FAILED:
            bits = [bit(self.devs[product], attid, pin) for attid in (GPIO_DIR, PULL_UP, PULL_DOWN)]
            assert bits[:len(MODES[mode])] == MODES[mode]

    # An input's level does not follow its latch: after a write the outputs
    # hold what was written and the inputs read as before.
    @rule(product=GPIO, pin=PINS, level=st.booleans(), mask=st.none() | st.integers(0, 0xFF))
    def gpio_write(self, product, pin, level, mask):
        dev, one_pin = self.devs[product], mask is None
        before, outputs = u32(dev, LEVELS), ~u32(dev, GPIO_DIR) & 0xFFFFFFFF
        if one_pin:  # the other pins keep their levels; an input pin is refused
            outputs &= 1 << pin
            mask = outputs if level else 0
        try:
            got = self.call(product, lambda m: m.gpio.write(pin, level) if one_pin else m.gpio.write_levels(mask))
        except ValueError:
            assert one_pin and not outputs
            return
        if got is not FAILED:
            assert outputs or not one_pin
            assert u32(dev, LEVELS) == before & ~outputs | mask & outputs

    @rule(product=I2C, address=st.sampled_from([0x40, 0x41]))  # nobody answers at 0x41
    def i2c_target(self, product, address):
        if self.call(product, lambda m: setattr(m.i2c, "target", address)) is not FAILED:
            assert self.devs[product].get_attribute(I2C_TARGET) == bytes([address])

    @rule(product=I2C, reg=st.sampled_from(REGS), width=st.integers(1, 4), value=st.integers(0, 0xFFFFFFFF))
    def i2c_write(self, product, reg, width, value):
        value &= (1 << 8 * width) - 1
        if self.call(product, lambda m: m.i2c.write(reg, value, width=width)) is not FAILED:
            assert register(self.devs[product], reg, width) == value

    @rule(port=st.integers(1, 8), on=st.none() | st.booleans(), mask=st.integers(0, 0xFF))
    def hub_ports(self, port, on, mask):
        dev, port_bit = self.devs["Brondel HUB"], 1 << port - 1
        want = mask if on is None else u32(dev, PORTS) | port_bit if on else u32(dev, PORTS) & ~port_bit
        switch = {None: lambda m: setattr(m, "port_mask", mask), True: lambda m: m.port_on(port),
                  False: lambda m: m.port_off(port)}[on]
        if self.call("Brondel HUB", switch) is not FAILED:
            assert u32(dev, PORTS) == want

    @rule()
    def meter_calibrate(self):
        if self.call("DMM", lambda m: m.calibrate()) is not FAILED:
            assert self.devs["DMM"].get_attribute(CALIBRATION) == bytes(4)

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
    # runs into the pairing failure of test_known_wrong_values.
    @rule(product=PRODUCTS, delay=st.sampled_from([1200, 1500]), silent=st.booleans())
    def slow_answer(self, product, delay, silent):
        if product in self.slow:
            return
        self.slow.add(product)
        if not silent:
            self.devs[product].delay_next_answer(delay)
            return
        self.devs[product].mute(True)
        try:
            assert self.call(product, lambda m: m.vendor) is FAILED
        finally:
            self.devs[product].mute(False)

    @rule(product=PRODUCTS)
    def replug(self, product):
        self.devs[product].unplug()
        assert self.call(product, lambda m: m.vendor) is FAILED  # the link learns the device is gone
        self.devs[product].replug()
        self.models[product].open()


def test_pykorvane_calls_return_the_device_state_or_raise(emu):
    run_state_machine_as_test(lambda: PykorvaneSequences(emu), settings=bounded(20, 30))


def quietly(call):
    try:
        call()
    except pk.KorvaneError:
        pass


def late_then(extra):
    """A read whose answer comes 1.3 s late, extra(board, dev), then a read
    whose own answer is late too: the first late answer arrives while it waits."""
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


# The module's face: model slots, each on a device of its own holding values
# of its own (so a block reaching the wrong device shows), and their blocks.
SLOTS = {"v1": (korvane.Vanta, "Vanta", "VT-0001"), "v2": (korvane.Vanta, "Vanta", "VT-0002"),
         "b": (korvane.Brondel, "Brondel HUB", "BH-0001"), "d": (korvane.Dmm, "DMM", "DM-0001")}
MEMBERS = {korvane.Vanta: ("gpiohw", "adchw", "i2chw"), korvane.Brondel: ("gpiohw",), korvane.Dmm: ("i2chw",)}
COPIES = [(member, target, source) for target in SLOTS for source in SLOTS
          for member in MEMBERS[SLOTS[target][0]] if member in MEMBERS[SLOTS[source][0]]]
HOLDS = [(slot, member) for slot in SLOTS for member in MEMBERS[SLOTS[slot][0]]]
# member: [(call, what the device holds for it, the module's failure value)]
CALLS = {
    "gpiohw": [(lambda blk, n: blk.read(), lambda dev, n: u32(dev, LEVELS), 0xFFFFFFFF),
               (lambda blk, n: blk.digitalRead(n), lambda dev, n: bool(bit(dev, LEVELS, n)), True)],
    "adchw": [(lambda blk, n: blk.analogRead(n), lambda dev, n: u32(dev, ADC + n), 0xFFFFFFFF)],
    "i2chw": [(lambda blk, n: blk.read2byte(n), lambda dev, n: dev.get_i2c_register(0x40, n), 0)],
}


class Made:
    """A model made in a slot: whether its open went through, and per block
    the Made whose connection the block talks through."""

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
            "gpiohw" in members and dev.set_gpio_external(0xFFFFFFFF, 0x01010101 * k * 0x11)
            for n in range(8):
                "adchw" in members and dev.set_adc(n, k << 16 | n)
                "i2chw" in members and dev.set_i2c_register(0x40, n, k << 12 | n + 1)
        self.slots, self.made, self.held = {}, [], []  # slot: (model, Made); every Made; held blocks
        for slot in SLOTS:
            self.make(slot)

    def teardown(self):
        for n, block in enumerate(self.blocks()):
            self.check(*block, n % 8)
        self.slots.clear(), self.held.clear()
        gc.collect()

    def make(self, slot):
        # A device opens in one model at a time: a deleted one that a held
        # block still borrows keeps it.
        free = not any(made.serves() and made.dev is self.devs[slot] for made in self.made)
        model = SLOTS[slot][0]()
        made = Made(model, self.devs[slot], model.open(SLOTS[slot][2]) is False)
        assert made.opened == free
        self.slots[slot] = model, made
        self.made.append(made)

    def blocks(self):
        """(Made, member, block) of every block referenced: the models' and the held ones."""
        return [(made, member, getattr(model, member))
                for model, made in self.slots.values() for member in MEMBERS[type(model)]] + self.held

    def check(self, made, member, block, n):
        served = made.blocks[member]
        for call, truth, failure in CALLS[member]:
            assert call(block, n) == (truth(served.dev, n) if served.serves() else failure)

    def check_orphans(self, n):
        """Calls every block whose connection's model is gone."""
        for made, member, block in self.blocks():
            if made.blocks[member].ref() is None:
                self.check(made, member, block, n)

    @rule(slot=st.sampled_from(list(SLOTS)), n=PINS)
    def renew(self, slot, n):
        del self.slots[slot]
        gc.collect()
        self.make(slot)
        self.check_orphans(n)

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

    @rule(pick=st.integers(0, 15), n=PINS)
    def call(self, pick, n):
        blocks = self.blocks()
        self.check(*blocks[pick % len(blocks)], n)


def test_module_blocks_copied_between_models_outlive_them_safely(emu):
    run_state_machine_as_test(lambda: ModuleBlocks(emu), settings=bounded(30, 40))
