"""The proxy module's type stub (korvane.pyi, beside the built korvane.py)
against the module in use.

stubtest (ctest entry py.stubtest_korvane) checks names and kinds only: the
module's methods are built-in functions without signatures. Here: the stub's
constants have the module's values; on emulated devices, what the stub says a
member returns is what it returns and the typed example runs; and calls the
module refuses at run time are refused by mypy with the stub too.
"""
import ast
import os
import pathlib
import re
import runpy
import subprocess
import sys

import pytest

import korvane
from device_helpers import SOURCE_DIR

MODULE_DIR = pathlib.Path(korvane.__file__).resolve().parent
STUB = MODULE_DIR / "korvane.pyi"
EXAMPLE = SOURCE_DIR / "examples" / "typed_use.py"
MYPY_TIMEOUT_S = 300
DEVICES = [("Vanta", "VT-0001"), ("Brondel HUB", "BH-0001"), ("DMM", "DM-0001")]

# ---- what the stub declares ----------------------------------------------------------------------


def stub_members():
    """{class: [(member, return annotation, is_property)]} for the module's
    classes: each member that
    takes nothing but self (the first overload of a name), each property
    getter and each annotated attribute, in the stub's order."""
    declared = {}
    for node in ast.parse(STUB.read_text()).body:
        if not isinstance(node, ast.ClassDef) or node.name.startswith("_"):
            continue  # the private pointer classes stand for no class of the module
        members = declared.setdefault(node.name, [])
        for item in node.body:
            if isinstance(item, ast.AnnAssign):
                members.append((item.target.id, ast.unparse(item.annotation), True))
                continue
            if not isinstance(item, ast.FunctionDef) or item.name.startswith("__"):
                continue
            decorators = {ast.unparse(d) for d in item.decorator_list}
            params = item.args.posonlyargs + item.args.args + item.args.kwonlyargs
            if [p.arg for p in params] != ["self"] or item.args.vararg or \
                    any(d.endswith(".setter") for d in decorators) or \
                    any(name == item.name for name, _, _ in members):
                continue
            members.append((item.name, ast.unparse(item.returns), "property" in decorators))
    return declared


# The stub's private pointer classes and the SWIG type each stands for.
POINTERS = {"_SwigPointer": None, "_ByteBuffer": "uint8_t *", "_WideText": "wchar_t *",
            "_HidDevice": "hid_device *"}
PLAIN = {"bool": bool, "int": int, "float": float, "str": str}
PACKET = korvane.korPacket()  # its dat: a 'uint8_t *' pointer object


def conforms(value, annotation):
    """Whether value is of the annotated type (bool is not taken for int)."""
    for option in annotation.split(" | "):
        if option == "None":
            matched = value is None
        elif option == "tuple[str, ...]":
            matched = type(value) is tuple and all(type(v) is str for v in value)
        elif option in POINTERS:
            pointee = POINTERS[option]
            matched = type(value).__name__ == "SwigPyObject" and (
                pointee is None or repr(value).startswith("<Swig Object of type '%s'" % pointee))
        elif option in PLAIN:
            matched = type(value) is PLAIN[option]
        else:
            matched = type(value) is getattr(korvane, option)
        if matched:
            return True
    return False


# ---- the members' results ------------------------------------------------------------------------


@pytest.fixture
def makers(emu):
    """For every class of the stub, a function giving an object to call the
    members on: opened models and a raw link on emulated devices, values and
    vectors made fresh for each member (some members empty them)."""
    for product, serial in DEVICES + [("Vanta", "VT-0002")]:
        emu.add(product, serial=serial)
    board, hub, meter, core = korvane.Vanta(), korvane.Brondel(), korvane.Dmm(), korvane.KorCore()
    records = korvane.hid_enumerate(korvane.USB_VID_PIC, korvane.USB_PID_PIC)
    link = korvane.KorDevice()
    manager = korvane.KorDeviceManager()
    assert (board.open("VT-0001"), hub.open(), meter.open(), link.open(records.path),
            core.openPath(manager.getPathByNameAndSerial("Vanta", "VT-0002"))) == (False,) * 5
    service = korvane.KorService(link)

    def text_value(kind):
        value = kind(korvane.ATT_VENDOR_NAME, 0, 0) if kind is korvane.Attribute else kind()
        assert value.setValue("Korvane") is False
        return value

    def iterator():
        position = korvane.StringVector(["a", "b", "c", "d"]).iterator()
        position.incr(2)
        return position

    yield {
        "SwigPyIterator": iterator,
        "StringVector": lambda: korvane.StringVector(["a", "b", "c"]),
        "hid_device_info": lambda: records,
        "KorDevice": lambda: link,
        "KorDeviceManager": lambda: manager,
        "korPacket": korvane.korPacket,
        "Attvalue": lambda: text_value(korvane.Attvalue),
        "Attribute": lambda: text_value(korvane.Attribute),
        "KorService": lambda: service,
        "KorCore": lambda: core,
        "Vanta": lambda: board,
        "Brondel": lambda: hub,
        "Dmm": lambda: meter,
        "Adc": lambda: korvane.Adc(board, 3),
        "AdcHw": lambda: board.adchw,
        "GpioHw": lambda: board.gpiohw,
        "I2cHw": lambda: board.i2chw,
        "Pin": lambda: korvane.Pin(board, 5, korvane.OUTPUT_PIN),
    }
    for connection in (board, hub, meter, core):
        connection.close()
    del service
    link.close()
    korvane.hid_free_enumeration(records)


def test_every_class_of_the_stub_is_exercised(makers):
    assert set(stub_members()) == set(makers)


@pytest.mark.parametrize("class_name", sorted(stub_members()))
def test_members_return_what_the_stub_declares(makers, class_name):
    wrong = []
    for member, annotation, is_property in stub_members()[class_name]:
        result = getattr(makers[class_name](), member)
        if not is_property:
            result = result()
        if not conforms(result, annotation):
            wrong.append("%s.%s: %r is not %s" % (class_name, member, result, annotation))
    assert wrong == []


def test_constants_are_the_modules_with_their_values():
    declared = {node.target.id: ast.literal_eval(node.value) for node in ast.parse(STUB.read_text()).body
                if isinstance(node, ast.AnnAssign) and node.value is not None}
    published = {name: value for name, value in vars(korvane).items()
                 if type(value) is int and not name.startswith("_")}
    assert len(published) == 52 and declared == published


@pytest.mark.parametrize("value, annotation, expected", [
    (True, "int", False), (1, "bool", False), (1, "int", True), (None, "str | None", True),
    (["a"], "tuple[str, ...]", False), (("a", 1), "tuple[str, ...]", False),
    (PACKET.dat, "_WideText", False), (PACKET.dat, "_ByteBuffer", True),
    (PACKET.dat, "_SwigPointer", True), (korvane.Vanta, "Vanta", False)])
def test_the_type_test_tells_types_apart(value, annotation, expected):
    assert conforms(value, annotation) is expected


# ---- the typed example ---------------------------------------------------------------------------


@pytest.mark.parametrize("devices, status, failures", [
    (DEVICES, 0, []),
    (DEVICES[:1], 1, ["FAILED: no Brondel HUB attached", "FAILED: no DMM attached"])])
def test_typed_example_runs(emu, capsys, devices, status, failures):
    for product, serial in devices:
        emu.add(product, serial=serial)
    example = runpy.run_path(str(EXAMPLE), run_name="typed_use")
    assert example["main"]() == status
    lines = capsys.readouterr().out.splitlines()
    assert lines[0] == "attached: " + ", ".join(product for product, _ in devices)
    assert "Vanta VT-0001" in lines and "pin 5 high: True, levels 0x00000020" in lines
    assert [line for line in lines if line.startswith("FAILED")] == failures


# ---- calls refused by the module and by the type checker alike -----------------------------------

# Each snippet runs with an opened board, hub and meter and a device manager;
# at run time it raises the exception, and mypy reports the message for it.
MISUSES = [
    ("board.gpiohw.digitalWrite(5, korvane.HIGH)", TypeError,
     'Argument 2 to "digitalWrite" of "GpioHw" has incompatible type "int"; expected "bool"'),
    ("board.open(serial='VT-0001')", TypeError, 'No overload variant of "open" of "Vanta" matches'),
    ("board.adchw = board.gpiohw", TypeError,
     'Incompatible types in assignment (expression has type "GpioHw", variable has type "AdcHw")'),
    ("board.i2chw.write2byte(0x05, 1.5)", TypeError,
     'Argument 2 to "write2byte" of "I2cHw" has incompatible type "float"; expected "int"'),
    ("hub.enableUsbPort('3')", TypeError,
     'Argument 1 to "enableUsbPort" of "Brondel" has incompatible type "str"; expected "int"'),
    ("manager.getSerialList()", TypeError, 'Too few arguments for "getSerialList" of "KorDeviceManager"'),
    ("meter.getVoltage() + ' V'", TypeError, 'Unsupported operand types for + ("float" and "str")'),
    ("korvane.KorDevice().write(b'\\0' * 65, 65)", TypeError,
     'Argument 1 to "write" of "KorDevice" has incompatible type "bytes"; expected "_ByteBuffer"'),
    ("korvane.convertWcharToString(korvane.korPacket().dat)", TypeError,
     'Argument 1 to "convertWcharToString" has incompatible type "_ByteBuffer"'),
    ("korvane.hid_open(korvane.USB_VID_PIC, korvane.USB_PID_PIC, 'VT-0001')", TypeError,
     'Argument 3 to "hid_open" has incompatible type "str"'),
    ("korvane.StringVector().swap(['a'])", TypeError,
     'Argument 1 to "swap" of "StringVector" has incompatible type "List[str]"; expected "StringVector"'),
    ("korvane.Pin(board)", TypeError, 'No overload variant of "Pin" matches'),
    ("korvane.Attribute(1, 0)", TypeError, 'Missing positional argument "property" in call to "Attribute"'),
    ("korvane.SwigPyIterator()", AttributeError, 'Cannot instantiate abstract class "SwigPyIterator"'),
    ("with korvane.Vanta() as other:\n    other.enableUsbPort(1)", AttributeError,
     '"Vanta" has no attribute "enableUsbPort"'),
]


@pytest.fixture(scope="module")
def mypy_reports(tmp_path_factory):
    """mypy's errors on the misuse snippets, by snippet, from one run."""
    folder = tmp_path_factory.mktemp("misuse")
    lines = ["import korvane"]
    first_lines = []
    for snippet, _, _ in MISUSES:
        lines.append("def case%d(board: korvane.Vanta, hub: korvane.Brondel, meter: korvane.Dmm,"
                     " manager: korvane.KorDeviceManager) -> None:" % len(first_lines))
        first_lines.append(len(lines) + 1)
        lines += ["    " + line for line in snippet.splitlines()]
    (folder / "misuse.py").write_text("\n".join(lines) + "\n")
    # mypy never loads the module; the sanitizer runtimes stay out of it.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    env["MYPYPATH"] = str(MODULE_DIR)
    run = subprocess.run([sys.executable, "-m", "mypy", "--no-error-summary",
                          "--cache-dir", str(folder / "cache"), "misuse.py"],
                         cwd=folder, env=env, capture_output=True, text=True, timeout=MYPY_TIMEOUT_S)
    reports = [[] for _ in MISUSES]
    for line in run.stdout.splitlines():
        found = re.match(r"misuse\.py:(\d+): (error|note): (.*)", line)
        assert found, run.stdout + run.stderr
        number = int(found.group(1))
        assert number >= first_lines[0], line
        if found.group(2) == "error":
            reports[max(i for i, first in enumerate(first_lines) if first <= number)].append(found.group(3))
    return reports


@pytest.mark.parametrize("index", range(len(MISUSES)), ids=[m[0].split("(")[0] for m in MISUSES])
def test_misuse_is_refused_by_mypy_and_at_run_time(emu, mypy_reports, index):
    snippet, raised, message = MISUSES[index]
    assert any(message in report for report in mypy_reports[index]), mypy_reports[index]
    for product, serial in DEVICES:
        emu.add(product, serial=serial)
    board, hub, meter = korvane.Vanta(), korvane.Brondel(), korvane.Dmm()
    try:
        assert (board.open(), hub.open(), meter.open()) == (False, False, False)
        with pytest.raises(raised):
            exec(snippet, {"korvane": korvane, "board": board, "hub": hub, "meter": meter,
                           "manager": korvane.KorDeviceManager()})
    finally:
        for connection in (board, hub, meter):
            connection.close()
