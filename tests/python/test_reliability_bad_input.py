"""Bad input at the module boundary.

Every function of _korvane is called with None, with values of the wrong kind
and with out-of-range integers in each argument position, the other arguments
being valid. A call must raise a Python exception or return; where the
conversion rules fix the exception (TypeError for a wrong kind, OverflowError
for an integer outside its type), that one. The calls run in a child
interpreter per class (a batch), so a crash fails that batch and names the
call, instead of killing the suite.

The argument types of a plain function are learnt from the module itself: a
call with too many arguments tells the count, and a probe object in each
position makes the conversion name that position's type. Overloaded functions
and the class-registration glue have their candidates listed below. Every
call builds its arguments afresh, so a failed or destructive call cannot
spoil the next one.

Run one batch by hand: python3 test_reliability_bad_input.py --batch KorDevice
(with the PYTHONPATH and LD_PRELOAD of the test command).
"""
import json
import os
import re
import resource
import subprocess
import sys

import pytest

import _korvane as K
from device_helpers import SANITIZED

FUNCTION_COUNT = 235
BATCH_TIMEOUT_S = 240
# Huge counts (a vector of 2**31 strings) must fail quickly as MemoryError,
# not swap the machine: the child's address space is capped.
CHILD_ADDRESS_SPACE = 4 << 30

# The cases the module documents as the caller's error. No call below makes
# one: they are listed so that it is plain what the test does not try.
CALLERS_ERRORS = {
    "use after delete_X":
        "every call builds its arguments afresh, so no object reaches a "
        "function after its delete_X",
    "unbounded iterator after its vector changed (or moved outside it)":
        "the iterators given to StringVector_erase and StringVector_insert "
        "are made from the call's own vector just before the call, and the "
        "SwigPyIterator functions get bounded iterators",
    "a length larger than the buffer behind a pointer object":
        "a pointer object carries no size, so no wrapper can check it: the "
        "length arguments of the hid_* buffer and string functions get only "
        "the values that their type refuses, never an in-range length past "
        "the buffer",
    "hid_free_enumeration of a record that Python owns, and delete_X of a "
    "borrowed view":
        "each frees memory that something else still owns; the records and "
        "objects given to them come from hid_enumerate and new_X",
}

# Length parameters of hidapi functions whose buffer is a pointer object.
BUFFER_LENGTHS = {
    ("hid_write", 2), ("hid_read", 2), ("hid_read_timeout", 2),
    ("hid_send_feature_report", 2), ("hid_get_feature_report", 2),
    ("hid_get_manufacturer_string", 2), ("hid_get_product_string", 2),
    ("hid_get_serial_number_string", 2), ("hid_get_indexed_string", 3),
}

VEC = "std::vector< std::string > *"
DIFF = "std::vector< std::string >::difference_type"
SIZE = "std::vector< std::string >::size_type"
ELEM = "std::vector< std::string >::value_type const &"
SEQ = "std::vector< std::string,std::allocator< std::string > > const &"
ITER = "std::vector< std::string >::iterator"
SLICE = "PySliceObject *"
PYIT = "swig::SwigPyIterator *"

# Candidates of the overloaded functions (argument types per candidate).
OVERLOADS = {
    "KorDevice_open": [("KorDevice *", "char const *"), ("KorDevice *", "uint16_t", "uint16_t"),
                       ("KorDevice *", "uint16_t", "uint16_t", "wchar_t *")],
    "KorDeviceManager_getDeviceNum": [("KorDeviceManager *",),
                                      ("KorDeviceManager *", "std::string")],
    "Attvalue_setValue": [("Attvalue *", "uint8_t"), ("Attvalue *", "double"),
                          ("Attvalue *", "char *"), ("Attvalue *", "uint8_t *", "uint8_t")],
    "Vanta_open": [("Vanta *",), ("Vanta *", "std::string")],
    "Brondel_open": [("Brondel *",), ("Brondel *", "std::string")],
    "Dmm_open": [("Dmm *",), ("Dmm *", "std::string")],
    "new_Pin": [("Vanta *", "uint8_t"), ("Vanta *", "uint8_t", "PinMode")],
    "Pin_value": [("Pin *",), ("Pin *", "bool")],
    "new_StringVector": [(), (SIZE,), (SEQ,), (SIZE, ELEM)],
    "StringVector___getitem__": [(VEC, SLICE), (VEC, DIFF)],
    "StringVector___setitem__": [(VEC, SLICE, SEQ), (VEC, SLICE), (VEC, DIFF, ELEM)],
    "StringVector___delitem__": [(VEC, DIFF), (VEC, SLICE)],
    "StringVector___setslice__": [(VEC, DIFF, DIFF), (VEC, DIFF, DIFF, SEQ)],
    "StringVector_erase": [(VEC, ITER), (VEC, ITER, ITER)],
    "StringVector_resize": [(VEC, SIZE), (VEC, SIZE, ELEM)],
    "StringVector_insert": [(VEC, ITER, ELEM), (VEC, ITER, SIZE, ELEM)],
    "SwigPyIterator_incr": [(PYIT, "size_t"), (PYIT,)],
    "SwigPyIterator_decr": [(PYIT, "size_t"), (PYIT,)],
    "SwigPyIterator___sub__": [(PYIT, "ptrdiff_t"), (PYIT, "swig::SwigPyIterator const &")],
}
# Operators that answer NotImplemented instead of raising for a bad operand,
# so a probe teaches nothing: their argument types are listed too.
OPERATORS = {
    "SwigPyIterator___add__": [(PYIT, "ptrdiff_t")],
    "SwigPyIterator___eq__": [(PYIT, "swig::SwigPyIterator const &")],
    "SwigPyIterator___ne__": [(PYIT, "swig::SwigPyIterator const &")],
}

CLASSES = ["hid_device_info", "KorDeviceManager", "KorDevice", "KorService", "KorCore",
           "korPacket", "Attvalue", "Attribute", "GpioHw", "AdcHw", "I2cHw", "Vanta",
           "Brondel", "Dmm", "Pin", "Adc", "StringVector", "SwigPyIterator"]
# Batches whose calls talk to emulated devices through an opened model.
OPENED_MODEL_BATCHES = {"Vanta", "Brondel", "Dmm", "Pin", "Adc"}
EMPTY_VECTOR_BATCH = "StringVector on an empty vector"


def module_functions():
    return sorted(n for n in dir(K) if not n.startswith("__") and callable(getattr(K, n)))


def batch_of(name):
    """The class a flat function belongs to, or 'free functions'."""
    bare = re.sub(r"^(new_|delete_)", "", name)
    for cls in sorted(CLASSES, key=len, reverse=True):
        if bare == cls or bare.startswith(cls + "_"):
            return cls
    return "free functions"


def batches():
    names = sorted({batch_of(n) for n in module_functions()})
    return names + [EMPTY_VECTOR_BATCH]


# --- The parent: one child interpreter per batch ------------------------------

def test_module_has_every_function_this_test_covers():
    assert len(module_functions()) == FUNCTION_COUNT


def _limit_child():
    # AddressSanitizer reserves terabytes of shadow address space; under it,
    # oversized allocations fail through its allocator_may_return_null.
    if SANITIZED:
        return
    resource.setrlimit(resource.RLIMIT_AS, (CHILD_ADDRESS_SPACE, CHILD_ADDRESS_SPACE))


@pytest.mark.parametrize("batch", batches())
def test_bad_arguments_raise_or_return(batch):
    try:
        child = subprocess.run(
            [sys.executable, os.path.abspath(__file__), "--batch", batch],
            capture_output=True, text=True, timeout=BATCH_TIMEOUT_S, preexec_fn=_limit_child)
    except subprocess.TimeoutExpired as expired:
        partial = expired.stdout or ""  # bytes here, whatever text= says
        if isinstance(partial, bytes):
            partial = partial.decode(errors="replace")
        pytest.fail(f"batch {batch!r} hung; last call: {_last_call(partial)}")
    lines = child.stdout.splitlines()
    if child.returncode != 0 or not lines or not lines[-1].startswith("DONE"):
        pytest.fail(f"batch {batch!r} died (exit {child.returncode}) in call:\n"
                    f"  {_last_call(child.stdout)}\nstderr tail:\n{child.stderr[-3000:]}")
    problems = [json.loads(line[len("PROBLEM "):]) for line in lines if line.startswith("PROBLEM ")]
    calls = sum(1 for line in lines if line.startswith("CALL "))
    assert calls > 0
    assert not problems, f"{len(problems)} of {calls} calls misbehaved:\n" + "\n".join(
        json.dumps(p) for p in problems[:40])


def _last_call(stdout):
    calls = [line for line in stdout.splitlines() if line.startswith("CALL ")]
    return calls[-1][5:] if calls else "(before the first call)"


# --- The child: builds arguments, calls, judges ----------------------------------

INT_RANGES = {
    "bool": None,
    "uint8_t": (0, 2**8 - 1), "unsigned char": (0, 2**8 - 1),
    "int8_t": (-2**7, 2**7 - 1), "signed char": (-2**7, 2**7 - 1),
    "uint16_t": (0, 2**16 - 1), "unsigned short": (0, 2**16 - 1),
    "int16_t": (-2**15, 2**15 - 1), "short": (-2**15, 2**15 - 1),
    "uint32_t": (0, 2**32 - 1), "unsigned int": (0, 2**32 - 1),
    "int32_t": (-2**31, 2**31 - 1), "int": (-2**31, 2**31 - 1),
    "PinMode": (-2**31, 2**31 - 1),
    "uint64_t": (0, 2**64 - 1), "int64_t": (-2**63, 2**63 - 1),
    # Address-sized types follow the build's own width.
    "size_t": (0, 2 * sys.maxsize + 1), SIZE: (0, 2 * sys.maxsize + 1),
    "ptrdiff_t": (-sys.maxsize - 1, sys.maxsize), DIFF: (-sys.maxsize - 1, sys.maxsize),
}
FLOATS = {"float", "double"}
CHAR_POINTERS = {"char *", "char const *"}
STRINGS = {"std::string"}
REFERENCES_REFUSING_NONE = {ELEM, "Attribute", "uint8_t [65]", "swig::SwigPyIterator const &",
                            "std::vector< std::string > &"}
SEQUENCES = {SEQ, "std::vector< std::string > const &"}
RAW_POINTERS = {"uint8_t *", "unsigned char *", "unsigned char const *", "wchar_t *",
                "wchar_t const *", "hid_device *"}

BAD_VALUES = [
    ("None", lambda: None),
    ("object()", lambda: object()),
    ("1.5", lambda: 1.5),
    ("'s'", lambda: "s"),
    ("b'x'", lambda: b"x"),
    ("foreign pointer", None),  # made per position: a pointer object of another type
    ("-1", lambda: -1),
    ("2**31", lambda: 2**31),
    ("2**64", lambda: 2**64),
    ("-2**63-1", lambda: -2**63 - 1),
]
INT_LABELS = {"-1", "2**31", "2**64", "-2**63-1"}
CONVERSION_FAILURE = re.compile(r"in method '|Wrong number or type of arguments")


class Probe:
    """A value no conversion accepts: it makes the module name the type."""


class World:
    """The emulated devices and the factories of valid argument values."""

    def __init__(self, batch):
        import korvane
        from korvane_emu import Emulator
        self.korvane = korvane
        self.emu = Emulator()
        self.emu.reset()
        self.vanta = self.emu.add("Vanta", serial="BI-1")
        self.emu.add("Brondel HUB", serial="BI-2")
        self.emu.add("DMM", serial="BI-3")
        dead = self.emu.add("DMM", serial="BI-DEAD")
        # hid_read_timeout with a negative timeout waits for ever by
        # definition; on an unplugged device every read returns at once.
        self.dead_handle = K.hid_open_path(dead.path)
        dead.unplug()
        self.open_models = batch in OPENED_MODEL_BATCHES
        self.keep = []

    # Objects that arguments borrow from live in keep, released after the
    # call in reverse order (dependents first).
    def kept(self, obj):
        self.keep.append(obj)
        return obj

    def release(self):
        while self.keep:
            self.keep.pop()

    # A device can be open in one model object at a time, and a model made
    # for an earlier call may still be alive: each opened model gets a
    # device of its own.
    def fresh_serial(self, cls):
        product = {"Vanta": "Vanta", "Brondel": "Brondel HUB", "Dmm": "DMM"}[cls]
        self.models_opened = getattr(self, "models_opened", 0) + 1
        serial = "BI-%s-%d" % (cls, self.models_opened)
        self.emu.add(product, serial=serial)
        return serial

    def model(self, cls):
        obj = getattr(K, "new_" + cls)()
        if self.open_models:
            opened = getattr(K, cls + "_open")(obj, self.fresh_serial(cls))
            assert opened is False, cls + " did not open"
        return obj

    def opened_vanta(self):
        vanta = self.kept(K.new_Vanta())
        assert K.Vanta_open(vanta, self.fresh_serial("Vanta")) is False
        return vanta

    def service(self):
        device = self.kept(K.new_KorDevice())
        K.KorDevice_open(device, self.vanta.path)
        return self.kept(K.new_KorService(device))

    def handle(self):
        handle = K.hid_open_path(self.vanta.path)
        K.hid_set_nonblocking(handle, 1)
        return handle

    def vector(self):
        return K.new_StringVector(("a", "b", "c"))

    def value(self, name, typ, built):
        """A fresh valid value of typ for a call of name; built holds the
        arguments before it."""
        if typ in INT_RANGES:
            if typ == "bool":
                return True
            if (name, len(built)) in BUFFER_LENGTHS or typ in ("size_t", SIZE):
                return 8  # fits every buffer and wide-string buffer used here
            return 1
        if typ in FLOATS:
            return 1.5
        if typ in CHAR_POINTERS:
            return self.vanta.path if "open" in name.lower() else "x"
        if typ in STRINGS or typ == ELEM:
            return "Vanta"
        if typ in SEQUENCES:
            return ("a", "b")
        if typ == SLICE:
            return slice(0, 2)
        if typ in (VEC, "std::vector< std::string > const *", "std::vector< std::string > &"):
            return self.vector()
        if typ == ITER:
            # From the call's own vector; the second of a range is its end.
            vector = built[0] if built and _is_pointer_of(built[0], "std::vector") else \
                self.kept(self.vector())
            return K.StringVector_begin(vector) if len(built) < 2 else K.StringVector_end(vector)
        if typ.startswith("swig::SwigPyIterator"):
            return K.StringVector_iterator(self.kept(self.vector()))
        if typ in ("Vanta *", "Brondel *", "Dmm *"):
            return self.model(typ[:-2])
        if typ == "KorCore *":
            return K.new_KorCore()
        if typ == "KorDevice *":
            return K.new_KorDevice()
        if typ == "KorService *":
            return K.new_KorService(self.kept(K.new_KorDevice()))
        if typ == "KorDeviceManager *":
            return K.new_KorDeviceManager()
        if typ == "Attvalue *":
            return K.new_Attvalue()
        if typ in ("Attribute *", "Attribute"):
            return K.new_Attribute(0x1203, 0, 0)
        if typ == "korPacket *":
            return K.new_korPacket()
        if typ in ("GpioHw *", "AdcHw *", "I2cHw *"):
            block = typ[:-2]
            return getattr(K, "new_" + block)(self.service(), getattr(K, {
                "GpioHw": "ATT_GPIO0_BASE", "AdcHw": "ATT_ADC_BASE", "I2cHw": "ATT_IC20_BASE"}[block]))
        if typ in ("Pin *", "Adc *"):
            return getattr(K, "new_" + typ[:-2])(self.opened_vanta(), 1)
        if typ in ("uint8_t *", "unsigned char *", "unsigned char const *", "uint8_t [65]"):
            return K.korPacket_dat_get(self.kept(K.new_korPacket()))
        if typ in ("wchar_t *", "wchar_t const *"):
            text = self.kept(K.new_Attvalue())
            K.Attvalue_setValue(text, "ab")
            return K.Attvalue_getValueU8str(text)
        if typ == "hid_device *":
            return self.dead_handle if name == "hid_read_timeout" else self.handle()
        if typ == "hid_device_info *":
            if name == "hid_free_enumeration":
                return K.hid_enumerate(0, 0)
            return K.new_hid_device_info()
        if typ.startswith("proxy class "):
            return getattr(self.korvane, typ.split()[-1])
        if typ.startswith("pointer object "):
            return self.value(name, pointer_type(typ.split()[-1]), built)
        if typ.startswith("proxy instance "):
            cls = typ.split()[-1]
            instance = object.__new__(getattr(self.korvane, cls))
            getattr(K, cls + "_swiginit")(instance, self.value(name, pointer_type(cls), []))
            return instance  # holds a pointer object already: swiginit appends
        if typ == "callable":
            return K.new_Attvalue
        raise LookupError(f"no valid value for type {typ!r} (function {name})")

    def foreign_pointer(self, typ):
        return K.new_Attvalue() if typ.startswith("korPacket") else K.new_korPacket()


def pointer_type(cls):
    return VEC if cls == "StringVector" else cls + " *"


def _is_pointer_of(obj, prefix):
    return f"of type '{prefix}" in repr(obj)


def candidates(name, fn):
    """Argument type lists of name: listed, or learnt from the module."""
    if name in OVERLOADS:
        return OVERLOADS[name]
    if name in OPERATORS:
        return OPERATORS[name]
    if name.endswith("_swigregister"):
        return [("proxy class " + name[:-len("_swigregister")],)]
    if name.endswith("_swiginit"):
        cls = name[:-len("_swiginit")]
        return [("proxy instance " + cls, "pointer object " + cls)]
    if name == "SWIG_PyInstanceMethod_New":
        return [("callable",)]
    return None


def learn_types(name, fn, world):
    try:
        fn(*[Probe() for _ in range(9)])
    except TypeError as error:
        message = str(error)
    else:
        raise AssertionError(f"{name} accepted nine probe arguments")
    if "takes no arguments" in message:
        return ()
    if "takes exactly one argument" in message:
        count = 1
    else:
        match = re.search(r"expected (at most )?(\d+) arguments", message)
        if not match or match.group(1):
            raise AssertionError(f"{name} looks overloaded and has no candidates listed: {message}")
        count = int(match.group(2))
    types = []
    for position in range(count):
        args = [world.value(name, t, []) for t in types] + [Probe()] * (count - position)
        try:
            fn(*args)
        except TypeError as error:
            match = re.search(r"argument (\d+) of type '(.*)'$", str(error))
            if not match or int(match.group(1)) != position + 1:
                raise AssertionError(f"{name}: probe in position {position + 1} gave {error}")
            types.append(match.group(2))
        else:
            raise AssertionError(f"{name} accepted a probe in position {position + 1}")
        finally:
            del args
            world.release()
    return tuple(types)


def expectation(typ, label, value, overloaded):
    """Exception names a call may end with (None: return or any exception)."""
    if overloaded or typ.startswith(("proxy ", "callable")):
        return None
    if typ.startswith("pointer object "):
        # swiginit chains any pointer object behind the instance's own.
        return None if label == "foreign pointer" else {"TypeError"}
    wrong_kind = label in ("object()", "1.5", "'s'", "b'x'", "foreign pointer")
    if typ in INT_RANGES:
        if typ == "bool" or label in ("None",) or wrong_kind:
            return {"TypeError"}
        low, high = INT_RANGES[typ]
        return {"OverflowError"} if not low <= value <= high else "converted"
    if typ in FLOATS:
        if label == "None" or label in ("object()", "'s'", "b'x'", "foreign pointer"):
            return {"TypeError"}
        return "converted"
    if typ in CHAR_POINTERS:
        return None if label in ("None", "'s'") else {"TypeError"}
    if typ in STRINGS:
        return "converted" if label == "'s'" else {"TypeError"}
    if typ in SEQUENCES:
        if label == "None":
            return {"TypeError", "ValueError"}
        return None if label == "'s'" else {"TypeError"}
    if typ in REFERENCES_REFUSING_NONE:
        if label == "None":
            return {"ValueError"}
        if typ == ELEM and label == "'s'":
            return "converted"
        return {"TypeError"}
    # Pointers to classes and raw pointers: None is a null pointer, which the
    # module may refuse; anything else of the wrong kind is a TypeError.
    return None if label == "None" else {"TypeError"}


def run_call(fn, args):
    try:
        fn(*args)
    except Exception as error:  # a crash would not get here; anything raised is fine
        outcome = type(error).__name__, str(error)[:300]
    else:
        outcome = "returned", ""
    print("GOT %s %s" % (outcome[0], outcome[1].replace("\n", " ")[:120]), flush=True)
    return outcome


def exercise(name, fn, world, problems, emit):
    listed = candidates(name, fn)
    overloaded = name in OVERLOADS or name in OPERATORS
    plans = listed if listed is not None else [learn_types(name, fn, world)]
    for types in plans:
        # The valid call first: a refused base would hide every later position.
        args = []
        for t in types:
            args.append(world.value(name, t, args))
        emit(f"{name}{types} with valid arguments")
        outcome, message = run_call(fn, args)
        del args
        world.release()
        if outcome != "returned" and CONVERSION_FAILURE.search(message):
            problems.append({"call": name, "types": types, "problem": "valid arguments refused",
                             "outcome": outcome, "message": message})
        for position, typ in enumerate(types):
            for label, make in BAD_VALUES:
                if SANITIZED and label == "2**31" and "StringVector" in name:
                    # A vector of 2**31 strings finds no memory; under
                    # AddressSanitizer a failing operator new aborts instead
                    # of throwing std::bad_alloc, so the MemoryError it
                    # becomes is proven by the normal run only.
                    continue
                if label in INT_LABELS and (name, position) in BUFFER_LENGTHS:
                    value = make()
                    if 0 <= value <= 2 * sys.maxsize + 1:
                        continue  # in range but past the buffer: the caller's error
                args = []
                for t in types[:position]:
                    args.append(world.value(name, t, args))
                value = world.foreign_pointer(typ) if make is None else make()
                args.append(value)
                for t in types[position + 1:]:
                    args.append(world.value(name, t, args))
                emit(f"{name}{types} argument {position + 1} = {label}")
                outcome, message = run_call(fn, args)
                if name.endswith("_swigregister"):
                    fn(world.value(name, typ, []))  # put the real proxy class back
                del args, value
                world.release()
                allowed = expectation(typ, label, None if make is None else make(), overloaded)
                bad = outcome == "SystemError"
                if allowed == "converted":
                    bad = bad or (outcome in ("TypeError", "OverflowError")
                                  and CONVERSION_FAILURE.search(message) is not None)
                elif allowed is not None:
                    bad = bad or outcome not in allowed
                if bad:
                    problems.append({"call": name, "argument": position + 1, "type": typ,
                                     "value": label, "outcome": outcome, "message": message,
                                     "expected": sorted(allowed) if isinstance(allowed, set)
                                     else allowed})


def exercise_empty_vector(world, problems, emit):
    """Element access on an empty vector: refused or harmless, never a crash."""
    for name in ("StringVector_front", "StringVector_back", "StringVector_pop",
                 "StringVector_pop_back", "StringVector___getitem__"):
        args = [K.new_StringVector()] + ([0] if name.endswith("__getitem__") else [])
        emit(f"{name} on an empty vector")
        outcome, message = run_call(getattr(K, name), args)
        if outcome == "SystemError":
            problems.append({"call": name, "outcome": outcome, "message": message})


def child_main(batch):
    world = World(batch)
    problems = []

    def emit(text):
        print("CALL " + text, flush=True)

    if batch == EMPTY_VECTOR_BATCH:
        exercise_empty_vector(world, problems, emit)
    else:
        for name in module_functions():
            if batch_of(name) == batch:
                exercise(name, getattr(K, name), world, problems, emit)
    for problem in problems:
        print("PROBLEM " + json.dumps(problem, default=str), flush=True)
    print("DONE", flush=True)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--batch":
        child_main(sys.argv[2])
    else:
        sys.exit("usage: test_reliability_bad_input.py --batch NAME")
