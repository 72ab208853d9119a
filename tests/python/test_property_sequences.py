"""Random sequences of calls, faults and block reassignments (hypothesis stateful testing),
checked against the emulated devices' own state. pykorvane: after any stray, late, cut, padded,
doubled or missing answers, a call returns exactly what the device holds or raises a KorvaneError,
and a write that went through is in the device. korvane: blocks copied between models, with models
deleted under them, give the right value or the failure value and never reach freed memory (the
sanitizer run relies on this)."""
import collections
import gc
import struct
import weakref

from hypothesis import HealthCheck, Phase, settings, strategies as st
from hypothesis.stateful import RuleBasedStateMachine, rule, run_state_machine_as_test

import korvane
import pykorvane as pk

GPIO_DIR, PULL_UP, PULL_DOWN, LEVELS = 0x1200, 0x1201, 0x1202, 0x1203
ADC, I2C_TARGET, PORTS, CALIBRATION, VOLTAGE, CURRENT = 0x1300, 0x1400, 0x8000, 0x8100, 0x8101, 0x8102
SERIALS = {"Vanta": "VT-0001", "Brondel HUB": "BH-0001", "DMM": "DM-0001"}
GPIO, I2C, ALL = ["Vanta", "Brondel HUB"], ["Vanta", "DMM"], list(SERIALS)
MODES = {"output": [0], "input": [1, 0, 0], "pullup": [1, 1, 0], "pulldown": [1, 0, 1]}  # direction, pulls
REGS, TEXTS = [0, 1, 5, 0xFF], ("vendor", "product", "revision", "serial", "firmware")
Args = collections.namedtuple("Args", "pin level mask mode reg width value port address")
ARGS = st.builds(Args, pin=st.integers(0, 7), level=st.booleans(), mask=st.integers(0, 0xFF),
                 mode=st.sampled_from(list(MODES)), reg=st.sampled_from(REGS), width=st.integers(1, 4),
                 value=st.integers(0, 0xFFFFFFFF), port=st.integers(1, 8),
                 address=st.sampled_from([0x40, 0x41]))  # nobody answers at 0x41
FAULTS = {  # answers a device may send besides its own: unasked, cut or padded, twice
    "stray read answer": lambda dev: dev.inject(bytes([7, 0x13, 1, 1, 2, 3, 4])),
    "stray write answer": lambda dev: dev.inject(bytes([3, 0x12, 1])),
    **{"resize %d" % n: (lambda n: lambda dev: dev.resize_next_answer(n))(n) for n in (0, 2, 5)},
    "duplicate": lambda dev: dev.duplicate_next_answer(),
}
FAILED = object()  # what a pykorvane call that raised a KorvaneError gives here


def bounded(examples, steps):
    """Fixed sequences, no example database, no shrinking (a shrink would replay late answers for minutes)."""
    return settings(max_examples=examples, stateful_step_count=steps, deadline=None, derandomize=True,
                    database=None, phases=[Phase.explicit, Phase.generate],
                    suppress_health_check=[HealthCheck.too_slow])


def u32(dev, attid):
    return int.from_bytes(dev.get_attribute(attid), "little")


def bit(dev, attid, n):
    return u32(dev, attid) >> n & 1


def register(dev, reg, width):
    """What an I2C access of width bytes at reg reaches on the bridge's target, None when nobody answers."""
    target = dev.get_attribute(I2C_TARGET)[0]
    low, high = dev.get_i2c_register(target, reg), dev.get_i2c_register(target, (reg + 1) & 0xFF)
    return None if low is None else (low & 0xFF, low, low | (high & 0xFF) << 16, low | high << 16)[width - 1]


def pin_bits(dev, pin, mode):
    """The pin's bits of the masks that tell the mode, as MODES lists them."""
    return [bit(dev, attid, pin) for attid in (GPIO_DIR, PULL_UP, PULL_DOWN)][:len(MODES[mode])]


def levels_after(dev, pins, mask):
    """Levels after writing mask to pins: the outputs among them take it, the rest read as before
    (an input's level does not follow its latch)."""
    outputs = pins & ~u32(dev, GPIO_DIR)
    return u32(dev, LEVELS) & ~outputs | mask & outputs


def cut(a):
    return a.value & (1 << 8 * a.width) - 1


# name: (products, call(model, args), what the device holds for it)
READS = {
    "gpio.read": (GPIO, lambda m, a: m.gpio.read(a.pin), lambda d, a: bool(bit(d, LEVELS, a.pin))),
    "gpio.levels": (GPIO, lambda m, a: m.gpio.levels, lambda d, a: u32(d, LEVELS)),
    "gpio.mode": (GPIO, lambda m, a: m.gpio.mode(a.pin).value,
                  lambda d, a: next(mode for mode, bits in MODES.items() if pin_bits(d, a.pin, mode) == bits)),
    "adc.read": (["Vanta"], lambda m, a: m.adc.read(a.pin), lambda d, a: u32(d, ADC + a.pin)),
    "adc.read_all": (["Vanta"], lambda m, a: m.adc.read_all(),
                     lambda d, a: [u32(d, ADC + n) for n in range(8)]),
    "i2c.read": (I2C, lambda m, a: m.i2c.read(a.reg, width=a.width),
                 lambda d, a: register(d, a.reg, a.width)),
    "ports": (["Brondel HUB"], lambda m, a: (m.port_mask, m.is_port_on(a.port)),
              lambda d, a: (u32(d, PORTS), bool(bit(d, PORTS, a.port - 1)))),
    "readings": (["DMM"], lambda m, a: (m.voltage, m.current),
                 lambda d, a: struct.unpack("<2f", d.get_attribute(VOLTAGE) + d.get_attribute(CURRENT))),
    "offsets": (["DMM"], lambda m, a: m.calibration_offsets,
                lambda d, a: struct.unpack("<4b", d.get_attribute(CALIBRATION))),
    "die_id": (["DMM"], lambda m, a: m.die_id, lambda d, a: register(d, 0xFF, 2)),
    "identity": (ALL, lambda m, a: getattr(m, TEXTS[a.pin % 5]),
                 lambda d, a: d.get_attribute(a.pin % 5).split(b"\0")[0].decode()),
}
# name: (products, call(model, args), the device's state once it went through, that state foreseen
# before the call; None: the call must be refused with ValueError)
WRITES = {
    "gpio.mode": (GPIO, lambda m, a: m.gpio.mode(a.pin, a.mode),
                  lambda d, a: pin_bits(d, a.pin, a.mode), lambda d, a: MODES[a.mode]),
    "gpio.write": (GPIO, lambda m, a: m.gpio.write(a.pin, a.level), lambda d, a: u32(d, LEVELS),
                   lambda d, a: None if bit(d, GPIO_DIR, a.pin) else levels_after(d, 1 << a.pin, a.level << a.pin)),
    "gpio.write_levels": (GPIO, lambda m, a: m.gpio.write_levels(a.mask), lambda d, a: u32(d, LEVELS),
                          lambda d, a: levels_after(d, 0xFFFFFFFF, a.mask)),
    "i2c.target": (I2C, lambda m, a: setattr(m.i2c, "target", a.address),
                   lambda d, a: d.get_attribute(I2C_TARGET)[0], lambda d, a: a.address),
    "i2c.write": (I2C, lambda m, a: m.i2c.write(a.reg, cut(a), width=a.width),
                  lambda d, a: register(d, a.reg, a.width), lambda d, a: cut(a)),
    "port_on": (["Brondel HUB"], lambda m, a: m.port_on(a.port), lambda d, a: u32(d, PORTS),
                lambda d, a: u32(d, PORTS) | 1 << a.port - 1),
    "port_off": (["Brondel HUB"], lambda m, a: m.port_off(a.port), lambda d, a: u32(d, PORTS),
                 lambda d, a: u32(d, PORTS) & ~(1 << a.port - 1)),
    "port_mask": (["Brondel HUB"], lambda m, a: setattr(m, "port_mask", a.mask), lambda d, a: u32(d, PORTS),
                  lambda d, a: a.mask),
    "calibrate": (["DMM"], lambda m, a: m.calibrate(), lambda d, a: d.get_attribute(CALIBRATION),
                  lambda d, a: bytes(4)),
}


def cases(table):
    return st.sampled_from([(product, name) for name, entry in table.items() for product in entry[0]])


class PykorvaneSequences(RuleBasedStateMachine):
    def __init__(self, emu):
        super().__init__()
        emu.reset()
        self.devs = {p: emu.add(p, serial=s) for p, s in SERIALS.items()}
        self.models = {p: cls(serial=SERIALS[p]).open() for p, cls in zip(ALL, (pk.Vanta, pk.Brondel, pk.Dmm))}
        self.slow, self.late = 0, set()  # late answers and silent calls so far; devices given a late one
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

    @rule(reads=st.lists(st.tuples(cases(READS), ARGS), min_size=1, max_size=4))
    def read(self, reads):
        for (product, name), a in reads:
            if name == "identity" and product in self.resized:
                continue  # a text cut short (no terminating zero) is taken for the whole text
            right = READS[name][2](self.devs[product], a)
            got = self.call(product, lambda m: READS[name][1](m, a))
            assert got is FAILED or got == right, (got, right)

    @rule(writes=st.lists(st.tuples(cases(WRITES), ARGS), min_size=1, max_size=4))
    def write(self, writes):
        for (product, name), a in writes:
            dev, (_, call, state, foreseen) = self.devs[product], WRITES[name]
            wanted = foreseen(dev, a)
            try:
                got = self.call(product, lambda m: call(m, a))
            except ValueError:  # a pin that is an input
                assert wanted is None
                continue
            assert got is FAILED or state(dev, a) == wanted, (state(dev, a), wanted)

    @rule(a=ARGS)
    def values_change(self, a):
        self.devs["Vanta"].set_adc(a.pin, a.value)
        self.devs["Vanta"].set_gpio_external(0xF0, a.mask & 0xF0)
        self.devs["Brondel HUB"].set_gpio_external(0xF0, a.mask << 4 & 0xF0)
        self.devs["DMM"].set_reading((VOLTAGE, CURRENT)[a.pin % 2], (a.value & 0xFFFF) / 64)
        self.devs["DMM"].set_calibration(*struct.unpack("<4b", a.value.to_bytes(4, "little")))

    @rule(product=st.sampled_from(ALL), faults=st.lists(st.sampled_from(list(FAULTS)), min_size=1, max_size=3))
    def faults(self, product, faults):
        for fault in faults:
            FAULTS[fault](self.devs[product])
        self.resized.update(product for fault in faults if fault.startswith("resize"))

    # A late or missing answer costs its call the wait bound: two per example.
    @rule(product=st.sampled_from(ALL), delay=st.sampled_from([1200, 1500]), silent=st.booleans())
    def slow_answer(self, product, delay, silent):
        if self.slow < 2:
            self.slow += 1
            dev = self.devs[product]
            if not silent:
                dev.delay_next_answer(delay)
                self.late.add(product)
                return
            dev.mute(True)
            try:
                assert self.call(product, lambda m: m.vendor) is FAILED
            finally:
                dev.mute(False)

    @rule(product=st.sampled_from(ALL))
    def replug(self, product):
        self.devs[product].unplug()
        assert self.call(product, lambda m: m.vendor) is FAILED  # so the link learns the device is gone
        self.devs[product].replug()
        self.models[product].open()


def test_pykorvane_calls_return_the_device_state_or_raise(emu):
    run_state_machine_as_test(lambda: PykorvaneSequences(emu), settings=bounded(25, 80))


# The module's face: model slots, each on a device of its own holding values
# of its own (so a block reaching the wrong device shows), and their blocks.
SLOTS = {"v1": (korvane.Vanta, "Vanta", "VT-0001"), "v2": (korvane.Vanta, "Vanta", "VT-0002"),
         "b": (korvane.Brondel, "Brondel HUB", "BH-0001"), "d": (korvane.Dmm, "DMM", "DM-0001")}
MEMBERS = {korvane.Vanta: ("gpiohw", "adchw", "i2chw"), korvane.Brondel: ("gpiohw",), korvane.Dmm: ("i2chw",)}
COPIES = [(member, target, source) for target in SLOTS for source in SLOTS
          for member in MEMBERS[SLOTS[target][0]] if member in MEMBERS[SLOTS[source][0]]]
HOLDS = [(slot, member) for slot in SLOTS for member in MEMBERS[SLOTS[slot][0]]]
CALLS = {  # member: [(call, what the device holds for it, the module's failure value)]
    "gpiohw": [(lambda blk, n: blk.read(), lambda dev, n: u32(dev, LEVELS), 0xFFFFFFFF),
               (lambda blk, n: blk.digitalRead(n), lambda dev, n: bool(bit(dev, LEVELS, n)), True)],
    "adchw": [(lambda blk, n: blk.analogRead(n), lambda dev, n: u32(dev, ADC + n), 0xFFFFFFFF)],
    "i2chw": [(lambda blk, n: blk.read2byte(n), lambda dev, n: dev.get_i2c_register(0x40, n), 0)],
}


class Made:
    """A model made in a slot: its device, whether it opened, and per block
    the Made whose connection the block talks through."""

    def __init__(self, model, dev, opened):
        self.ref, self.dev, self.opened = weakref.ref(model), dev, opened
        self.blocks = {member: self for member in MEMBERS[type(model)]}

    serves = property(lambda self: self.ref() is not None and self.opened)


class ModuleBlocks(RuleBasedStateMachine):
    def __init__(self, emu):
        super().__init__()
        emu.reset()
        self.devs = {slot: emu.add(product, serial=serial) for slot, (_, product, serial) in SLOTS.items()}
        for k, (slot, dev) in enumerate(self.devs.items(), 1):
            members = MEMBERS[SLOTS[slot][0]]
            if "gpiohw" in members:
                dev.set_gpio_external(0xFFFFFFFF, 0x11111111 * k)
            for n in range(8 if "i2chw" in members else 0):
                dev.set_i2c_register(0x40, n, k << 12 | n + 1)
            for n in range(8 if "adchw" in members else 0):
                dev.set_adc(n, k << 16 | n)
        self.slots, self.made, self.held = {}, [], []  # slot: (model, Made); every Made; held blocks
        for slot in SLOTS:
            self.make(slot)

    def teardown(self):
        self.slots.clear()  # the models close, freeing their devices' paths for the next example
        self.held.clear()
        gc.collect()

    def make(self, slot):
        # A device opens in one model at a time: a deleted one that a held block borrows keeps it.
        free = not any(made.serves and made.dev is self.devs[slot] for made in self.made)
        model = SLOTS[slot][0]()
        made = Made(model, self.devs[slot], model.open(SLOTS[slot][2]) is False)
        assert made.opened == free
        self.slots[slot] = model, made
        self.made.append(made)

    def check(self, n, orphans_only):
        """Calls every block referenced (the models' and the held ones), or only those whose
        connection's model is gone: each gives the device's value, or the failure value when
        its connection is gone or not open."""
        blocks = [(made, member, getattr(model, member))
                  for model, made in self.slots.values() for member in MEMBERS[type(model)]] + self.held
        for made, member, block in blocks:
            served = made.blocks[member]
            if orphans_only and served.ref() is not None:
                continue
            for call, truth, failure in CALLS[member]:
                assert call(block, n) == (truth(served.dev, n) if served.serves else failure)

    @rule(slot=st.sampled_from(list(SLOTS)), n=st.integers(0, 7))
    def renew(self, slot, n):
        del self.slots[slot]
        gc.collect()
        self.make(slot)
        self.check(n, orphans_only=True)

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
            self.check(pick, orphans_only=True)

    @rule(n=st.integers(0, 7))
    def call_all(self, n):
        self.check(n, orphans_only=False)


def test_module_blocks_copied_between_models_outlive_them_safely(emu):
    run_state_machine_as_test(lambda: ModuleBlocks(emu), settings=bounded(20, 40))
