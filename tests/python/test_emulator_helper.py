"""The Python helper of the emulated HID library, and the launcher.

Runs in a process with libkorvane_emu.so preloaded (the test command does
that); raw hidapi calls go through ctypes into the same library, so these
tests need nothing but the emulator.
"""
import ctypes
import os
import subprocess
import sys

import pytest

from korvane_emu import DEVICE, HOST, EmuError, Emulator, find_library
from device_helpers import BUILD_DIR, preload


class HidDeviceInfo(ctypes.Structure):
    pass


HidDeviceInfo._fields_ = [
    ("path", ctypes.c_char_p),
    ("vendor_id", ctypes.c_ushort),
    ("product_id", ctypes.c_ushort),
    ("serial_number", ctypes.c_wchar_p),
    ("release_number", ctypes.c_ushort),
    ("manufacturer_string", ctypes.c_wchar_p),
    ("product_string", ctypes.c_wchar_p),
    ("usage_page", ctypes.c_ushort),
    ("usage", ctypes.c_ushort),
    ("interface_number", ctypes.c_int),
    ("next", ctypes.POINTER(HidDeviceInfo)),
    ("bus_type", ctypes.c_int),
]


@pytest.fixture(scope="module")
def emulator():
    return Emulator()


@pytest.fixture
def helper_emu(emulator):
    emulator.reset()
    yield emulator
    emulator.reset()


@pytest.fixture(scope="module")
def hid(emulator):
    lib = emulator.lib
    lib.hid_enumerate.restype = ctypes.POINTER(HidDeviceInfo)
    lib.hid_enumerate.argtypes = [ctypes.c_ushort, ctypes.c_ushort]
    lib.hid_free_enumeration.argtypes = [ctypes.POINTER(HidDeviceInfo)]
    lib.hid_open_path.restype = ctypes.c_void_p
    lib.hid_open_path.argtypes = [ctypes.c_char_p]
    lib.hid_close.argtypes = [ctypes.c_void_p]
    lib.hid_write.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t]
    lib.hid_read_timeout.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int]
    return lib


def enumerate_devices(hid):
    head = hid.hid_enumerate(0, 0)
    records, node = [], head
    while node:
        d = node.contents
        records.append((d.path.decode(), d.product_string, d.serial_number, d.interface_number))
        node = d.next
    hid.hid_free_enumeration(head)
    return records


def transact(hid, handle, packet, timeout_ms=1000):
    assert hid.hid_write(handle, bytes([0]) + bytes(packet).ljust(64, b"\0"), 65) == 65
    buf = ctypes.create_string_buffer(65)
    n = hid.hid_read_timeout(handle, buf, 65, timeout_ms)
    return buf.raw[:n]


def test_helper_controls_the_library_that_serves_hidapi():
    if "libkorvane_emu.so" in os.environ.get("LD_PRELOAD", ""):
        preloaded = [p for p in os.environ["LD_PRELOAD"].split(":") if p.endswith("libkorvane_emu.so")][0]
        assert os.path.samefile(find_library(), preloaded)


def test_added_devices_enumerate_with_their_paths(helper_emu, hid):
    vanta = helper_emu.add("Vanta", serial="VT-0001")
    meter = helper_emu.add("DMM", serial="Mé-1", path="/dev/meter")
    meter.set_interfaces(2)
    assert (vanta.id, meter.id) == (0, 1)
    assert vanta.path == "/dev/emu-hidraw0"
    assert enumerate_devices(hid) == [
        ("/dev/emu-hidraw0", "Vanta", "VT-0001", 0),
        ("/dev/meter", "DMM", "Mé-1", 0),
        ("/dev/meter:1", "DMM", "Mé-1", 1),
    ]
    vanta.set_product("Vänta ☃")
    vanta.set_serial(None)
    assert enumerate_devices(hid)[0][1:3] == ("Vänta ☃", None)
    vanta.unplug()
    assert [r[0] for r in enumerate_devices(hid)] == ["/dev/meter", "/dev/meter:1"]
    with pytest.raises(ValueError):
        helper_emu.add("Toaster")


def test_product_name_of_a_vanta_through_raw_calls(helper_emu, hid):
    dev = helper_emu.add("Vanta", serial="VT-0001")
    handle = hid.hid_open_path(dev.path.encode())
    assert handle
    try:
        answer = transact(hid, handle, b"\x04\x13\x00\x01")
        assert answer[1:3] == b"\x13\x01"
        assert answer[3:3 + (answer[0] & 0x3F) - 3] == b"Vanta\0"
        assert helper_emu.open_handle_count() == 1
    finally:
        hid.hid_close(handle)
    assert helper_emu.open_handle_count() == 0
    assert dev.requests() == [(0x13, 1, b"")]
    host, device = dev.log()
    assert (host.kind, device.kind) == (HOST, DEVICE)
    assert host.report == b"\x04\x13\x00\x01".ljust(64, b"\0")
    assert device.value == b"Vanta\0"
    dev.clear_log()
    assert dev.log() == []


@pytest.mark.parametrize("fault, packet, expected", [
    (lambda d: d.fail_attribute(0x1300), b"\x04\x13\x13\x00", b"\x03\x13\x00"),
    (lambda d: d.raw_answer(0x1300, b"\x05\x13\x01\xaa\xbb"), b"\x04\x13\x13\x00", b"\x05\x13\x01\xaa\xbb"),
    (lambda d: d.remove_attribute(0x1300), b"\x04\x13\x13\x00", b"\x03\x13\x00"),
    (lambda d: d.set_adc(0, 0x1234), b"\x04\x13\x13\x00", b"\x07\x13\x01\x34\x12\x00\x00"),
    (lambda d: d.set_gpio_external(0x1, 0x1), b"\x04\x13\x12\x03", b"\x07\x13\x01\x01\x00\x00\x00"),
    (lambda d: d.resize_next_answer(2), b"\x04\x13\x13\x00", b"\x05\x13\x01\x64\x00\x00"),
    (lambda d: d.delay_next_answer(0), b"\x04\x13\x13\x00", b"\x07\x13\x01\x64\x00\x00\x00"),
    (lambda d: d.duplicate_next_answer(), b"\x04\x13\x13\x00", b"\x07\x13\x01\x64\x00\x00\x00"),
])
def test_state_and_faults_set_through_the_helper(helper_emu, hid, fault, packet, expected):
    dev = helper_emu.add("Vanta")
    fault(dev)
    handle = hid.hid_open_path(dev.path.encode())
    try:
        assert transact(hid, handle, packet)[:len(expected)] == expected
    finally:
        hid.hid_close(handle)


@pytest.mark.parametrize("arm", [
    lambda d: d.delay_next_answer(-1), lambda d: d.delay_next_answer(600001),
    lambda d: d.resize_next_answer(-1), lambda d: d.resize_next_answer(62),
])
def test_one_shot_faults_refuse_values_out_of_range(helper_emu, arm):
    with pytest.raises(ValueError):
        arm(helper_emu.add("Vanta"))


@pytest.mark.parametrize("call", [
    lambda d: d.set_adc(0, 2**40 + 7), lambda d: d.set_adc(0, -1), lambda d: d.set_adc(2**32, 1),
    lambda d: d.set_gpio_external(1 << 32, 0), lambda d: d.set_i2c_register(0x40, 0x100, 0),
    lambda d: d.set_i2c_register(0x40, 0, 0x10000), lambda d: d.add_i2c_target(0x140),
    lambda d: d.set_attribute(0x10000 + 0x1300, b"\0"), lambda d: d.set_calibration(0, 0, 0, 128),
    lambda d: d.fail_attribute(-1), lambda d: d.answer_delay(2**31),
])
def test_values_too_wide_for_the_control_api_are_refused(helper_emu, call):
    dev = helper_emu.add("Vanta")
    state = lambda: (dev.get_attribute(0x1300), dev.get_attribute(0x1203), dev.get_i2c_register(0x40, 0))  # noqa: E731
    before = state()
    with pytest.raises(OverflowError):
        call(dev)
    assert state() == before  # ctypes would have passed the low bits on


def test_mute_delay_and_restoring_faults(helper_emu, hid):
    dev = helper_emu.add("DMM")
    handle = hid.hid_open_path(dev.path.encode())
    try:
        dev.mute()
        assert transact(hid, handle, b"\x04\x13\x81\x01", timeout_ms=50) == b""
        dev.mute(False)
        dev.answer_delay(500)
        assert transact(hid, handle, b"\x04\x13\x81\x01", timeout_ms=20) == b""
        buf = ctypes.create_string_buffer(65)
        assert hid.hid_read_timeout(handle, buf, 65, 5000) == 64
        dev.answer_delay(0)
        dev.raw_answer(0x8101, b"\x03\x13\x00")
        dev.raw_answer(0x8101, None)
        assert transact(hid, handle, b"\x04\x13\x81\x01")[:7] == b"\x07\x13\x01\x00\x00\xa0\x40"
    finally:
        hid.hid_close(handle)


def test_getters_give_none_for_what_is_not_there(helper_emu):
    dev = helper_emu.add("DMM")
    assert dev.get_attribute(0x8101) == b"\x00\x00\xa0\x40"
    assert dev.get_attribute(0x9999) is None
    assert dev.get_i2c_register(0x40, 0xFF) == 0x2260
    assert dev.get_i2c_register(0x41, 0xFF) is None
    dev.set_calibration(-2, 3, 0, -128)
    assert dev.get_attribute(0x8100) == b"\xfe\x03\x00\x80"
    assert dev.calibration_count() == 0
    with pytest.raises(EmuError):
        dev.set_adc(0, 1)  # the meter has no ADC block
    with pytest.raises(EmuError):
        helper_emu.device(5)


# Lists what hid_enumerate finds in the launched process: the preloaded
# library's hid_* symbols come first in the global scope.
LISTING = """
import ctypes
class Info(ctypes.Structure):
    pass
Info._fields_ = [("path", ctypes.c_char_p), ("vid", ctypes.c_ushort), ("pid", ctypes.c_ushort),
                 ("serial", ctypes.c_wchar_p), ("release", ctypes.c_ushort), ("maker", ctypes.c_wchar_p),
                 ("product", ctypes.c_wchar_p), ("page", ctypes.c_ushort), ("usage", ctypes.c_ushort),
                 ("interface", ctypes.c_int), ("next", ctypes.POINTER(Info))]
hid = ctypes.CDLL(None)
hid.hid_enumerate.restype = ctypes.POINTER(Info)
hid.hid_enumerate.argtypes = [ctypes.c_ushort, ctypes.c_ushort]
hid.hid_free_enumeration.argtypes = [ctypes.POINTER(Info)]
head = hid.hid_enumerate(0x04D8, 0xECD0)
node, found = head, []
while node:
    found.append("%s=%s:%s" % (node.contents.path.decode(), node.contents.product, node.contents.serial))
    node = node.contents.next
hid.hid_free_enumeration(head)
print(";".join(found))
"""


def launcher():
    path = str(BUILD_DIR / "emulator" / "korvane-emu")
    if not os.access(path, os.X_OK):
        pytest.skip("launcher not built")
    return path


@pytest.mark.parametrize("args, expected", [
    ([], "/dev/emu-hidraw0=Vanta:VT-0001;/dev/emu-hidraw1=Brondel HUB:BH-0001;/dev/emu-hidraw2=DMM:DM-0001"),
    (["--device", "DMM:D-9:/dev/m:x", "--device=Vanta"], "/dev/m:x=DMM:D-9;/dev/emu-hidraw1=Vanta:None"),
    (["--no-devices"], ""),
])
def test_launcher_attaches_the_devices_it_is_given(args, expected):
    env = dict(os.environ, LD_PRELOAD=preload())
    env.pop("KORVANE_EMU_LIB", None)
    result = subprocess.run([launcher(), *args, "--", sys.executable, "-c", LISTING],
                            env=env, capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == expected


def test_launcher_refuses_an_unknown_model():
    result = subprocess.run([launcher(), "--device", "Toaster", "true"],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 2
    assert "unknown model" in result.stderr


# ---- the state file across processes, and the helper in a plain interpreter

# Step one drives pin 5 high and sets a register; step two reads both back.
# Each prints what it saw; the SWIG module works unchanged over the emulator.
STEP_SET = """
import korvane
board = korvane.Vanta()
assert board.open() is False
assert board.gpiohw.pinMode(5, korvane.OUTPUT_PIN) is False
assert board.gpiohw.digitalWrite(5, True) is False
board.i2chw.setI2cDeviceAddr(0x40)
assert board.i2chw.write2byte(0x05, 0xABCD) is False
print("set")
"""
STEP_READ = """
import korvane
board = korvane.Vanta()
assert board.open() is False
board.i2chw.setI2cDeviceAddr(0x40)
print(int(board.gpiohw.digitalRead(5)), hex(board.i2chw.read2byte(0x05)))
"""


def run_launched(args, code, timeout=60):
    env = dict(os.environ, LD_PRELOAD=preload())
    env.pop("KORVANE_EMU_STATE", None)
    return subprocess.run([launcher(), *args, "--", sys.executable, "-c", code],
                          env=env, capture_output=True, text=True, timeout=timeout)


def test_state_file_carries_the_devices_from_one_process_to_the_next(tmp_path):
    state = tmp_path / "bench.json"
    assert run_launched(["--state", str(state)], STEP_READ).stdout.split() == ["0", "0x0"]
    first = run_launched(["--state", str(state)], STEP_SET)
    assert first.returncode == 0, first.stderr
    second = run_launched(["--state", str(state)], STEP_READ)
    assert second.returncode == 0, second.stderr
    assert second.stdout.split() == ["1", "0xabcd"]
    assert not [p.name for p in tmp_path.iterdir() if p.name != "bench.json"]  # no temporary file left
    # Without the file the devices start from power-up again.
    assert run_launched([], STEP_READ).stdout.split() == ["0", "0x0"]


def test_a_shell_between_the_steps_leaves_the_state_to_its_commands(tmp_path):
    """bash has the library preloaded but never uses it: it must not write
    its stale view of the devices over what the commands saved."""
    state = tmp_path / "bench.json"
    script = tmp_path / "set.py"
    script.write_text(STEP_SET)
    env = dict(os.environ, LD_PRELOAD=preload())
    result = subprocess.run([launcher(), "--state", str(state), "--", "bash", "-c",
                             f'"{sys.executable}" "{script}" && "{sys.executable}" -c "$0" && echo end', STEP_READ],
                            env=env, capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["set", "1", "0xabcd", "end"]
    assert run_launched(["--state", str(state)], STEP_READ).stdout.split() == ["1", "0xabcd"]


@pytest.mark.parametrize("text, reason", [
    ('{"devices": [', "line 1, column 14: unexpected end"),
    ('{"devices": [{"model": "Vanta", "gpio": {"level": 1}}]}', "devices[0].gpio.level: unknown member"),
    ("\x00\xff", "line 1, column 1"),
])
def test_a_bad_state_file_is_reported_kept_and_replaced_by_the_default_devices(tmp_path, text, reason):
    state = tmp_path / "bench.json"
    state.write_bytes(text.encode("latin-1"))
    result = run_launched(["--state", str(state)], STEP_SET + STEP_READ)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["set", "1", "0xabcd"]
    assert f"state file {state} is not valid: {reason}" in result.stderr
    assert "starting from the default devices" in result.stderr
    assert state.read_bytes() == text.encode("latin-1")


def test_state_saved_and_loaded_through_the_helper(helper_emu, tmp_path):
    dev = helper_emu.add("DMM", serial="DM-5")
    dev.set_calibration(4, 3, 2, 1)
    helper_emu.save_state(tmp_path / "s.json")
    helper_emu.reset()
    helper_emu.load_state(tmp_path / "s.json")
    assert helper_emu.device(0).get_attribute(0x8100) == b"\x04\x03\x02\x01"
    (tmp_path / "bad.json").write_text('{"devices": [{"model": "Toaster"}]}')
    with pytest.raises(EmuError, match=r"bad\.json: devices\[0\]\.model: unknown model"):
        helper_emu.load_state(tmp_path / "bad.json")
    assert helper_emu.device_count() == 1


def test_a_state_file_as_written_before_loads_and_saves_unchanged(helper_emu, tmp_path):
    """fixtures/emu-state-v1.json was written by the emulator's own JSON
    writer (format version 1; three models, every kind of value): it loads,
    and saving it again gives the same bytes."""
    fixture = os.path.join(os.path.dirname(__file__), "fixtures", "emu-state-v1.json")
    helper_emu.load_state(fixture)
    assert helper_emu.device_count() == 4
    helper_emu.save_state(tmp_path / "again.json")
    with open(fixture, "rb") as written:
        assert (tmp_path / "again.json").read_bytes() == written.read()


def plain_interpreter(code, **variables):
    """A fresh interpreter without the preloaded library (sanitizer runtimes
    kept), with the build's korvane, pykorvane and this helper on its path."""
    env = dict(os.environ, LD_PRELOAD=preload())
    env.pop("KORVANE_EMU_DEVICES", None)
    env.update(variables)
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=60)


def test_helper_loads_the_library_into_a_plain_interpreter():
    result = plain_interpreter("""
from korvane_emu import Emulator, loaded_library
assert loaded_library() is None
emu = Emulator()
emu.add("DMM", serial="DM-3").set_reading(0x8101, 3.25)
import korvane, pykorvane
with pykorvane.Dmm() as meter:
    print(meter.serial, meter.voltage)
swig = korvane.Dmm()
print(swig.open("DM-3"), swig.getVoltage())
""")
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["DM-3", "3.25", "False", "3.25"]


TRY_EMULATOR = """
from korvane_emu import EmuError, Emulator
try:
    Emulator({library})
except EmuError as error:
    print(error)
"""
READ_METER = """
import korvane, pykorvane
from korvane_emu import Emulator
Emulator().add("DMM", serial="DM-3").set_reading(0x8101, 3.25)
with pykorvane.Dmm() as meter:
    print(meter.serial, meter.voltage)
print(korvane.hid_enumerate(0x04D8, 0xECD0).path)
"""


@pytest.mark.parametrize("env, code, out, err", [
    # Created after the modules are imported, before any listing or open.
    ({}, READ_METER, "DM-3 3.25\n/dev/emu-hidraw0\n", ""),
    # Chosen by the environment: the module's hid_* functions go there too.
    ({"KORVANE_BACKEND": "emulator", "KORVANE_EMU_DEVICES": "DMM:DM-7"},
     "import korvane, pykorvane\nprint(pykorvane.devices()[0].serial, korvane.hid_enumerate(0x04D8, 0xECD0).path)",
     "DM-7 /dev/emu-hidraw0\n", ""),
    # After a listing through the system's hidapi it is too late.
    ({}, "import pykorvane\npykorvane.devices()" + TRY_EMULATOR.format(library=""),
     "too late to choose the emulator HID backend: the system one is in use", ""),
    ({}, "import pykorvane" + TRY_EMULATOR.format(library="'/nowhere/libkorvane_emu.so'"),
     "the emulated HID library cannot be loaded from /nowhere/libkorvane_emu.so", ""),
    # A chosen backend that cannot be loaded reaches no device at all.
    ({"KORVANE_BACKEND": "emulator", "KORVANE_EMU_LIB": "/nowhere/libkorvane_emu.so"},
     "import pykorvane\nprint(pykorvane.devices())", "[]\n",
     "korvane: the emulated HID library was not found (tried /nowhere/libkorvane_emu.so; set KORVANE_EMU_LIB);"
     " no device can be reached\n"),
    ({"KORVANE_BACKEND": "usb"}, "import pykorvane\nprint(pykorvane.devices())", "[]\n",
     "korvane: KORVANE_BACKEND=usb is no HID backend (system or emulator); no device can be reached\n"),
], ids=["emulator-after-import", "environment", "too-late", "no-library-file", "environment-no-library",
        "environment-unknown"])
def test_backend_chosen_at_run_time_without_preloading(env, code, out, err):
    result = plain_interpreter(code, **env)
    assert result.returncode == 0, result.stderr
    assert out in result.stdout and result.stderr == err
