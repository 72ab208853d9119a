"""The module frame: pointer objects, type entries, ownership, the proxy
protocol and the runtime's fixes of SWIG 4.1.0 (crash-prone cases run in a
child interpreter)."""
import ctypes
import os
import subprocess
import sys
import textwrap

import pytest

import _korvane as K
import korvane
from device_helpers import SANITIZED

CAPSULE = b"swig_runtime_data4.type_pointer_capsule"

# Type entries: mangled name -> names, display name last.
TYPE_ENTRIES = {
    "_p_Adc": "Adc *", "_p_AdcHw": "AdcHw *", "_p_Attribute": "Attribute *",
    "_p_Attvalue": "Attvalue *", "_p_Brondel": "Brondel *", "_p_Dmm": "Dmm *",
    "_p_GpioHw": "GpioHw *", "_p_I2cHw": "I2cHw *", "_p_Pin": "Pin *",
    "_p_KorCore": "KorCore *", "_p_KorDevice": "KorDevice *",
    "_p_KorDeviceManager": "KorDeviceManager *", "_p_KorService": "KorService *",
    "_p_Vanta": "Vanta *", "_p_korPacket": "korPacket *",
    "_p_hid_device_info": "hid_device_info *",
    "_p_AttGpioHw": "enum AttGpioHw *|AttGpioHw *", "_p_AttI2cHw": "enum AttI2cHw *|AttI2cHw *",
    "_p_AttributionPermission": "enum AttributionPermission *|AttributionPermission *",
    "_p_AttributionProperty": "enum AttributionProperty *|AttributionProperty *",
    "_p_OperationCode": "enum OperationCode *|OperationCode *",
    "_p_PinMode": "enum PinMode *|PinMode *", "_p_ReturnCode": "enum ReturnCode *|ReturnCode *",
    "_p_hid_device_": "hid_device_ *|hid_device *",
    "_p_char": "char *", "_p_wchar_t": "wchar_t *",
    "_p_unsigned_char": "unsigned char *|uint_least8_t *|uint_fast8_t *|uint8_t *",
    "_p_signed_char": "signed char *|int_least8_t *|int_fast8_t *|int8_t *",
    "_p_unsigned_short": "unsigned short *|uint_least16_t *|uint16_t *",
    "_p_short": "short *|int_least16_t *|int16_t *",
    "_p_unsigned_int":
        "uintptr_t *|uint_least32_t *|uint_fast32_t *|uint32_t *|unsigned int *|uint_fast16_t *",
    "_p_int": "intptr_t *|int *|int_least32_t *|int_fast32_t *|int32_t *|int_fast16_t *",
    "_p_unsigned_long_long":
        "uint_least64_t *|uint_fast64_t *|uint64_t *|unsigned long long *|uintmax_t *",
    "_p_long_long": "int_least64_t *|int_fast64_t *|int64_t *|long long *|intmax_t *",
    "_p_p_PyObject": "PyObject **",
    "_p_std__vectorT_std__string_std__allocatorT_std__string_t_t":
        "std::vector< std::string,std::allocator< std::string > > *|std::vector< std::string > *",
    "_p_std__allocatorT_std__string_t":
        "std::vector< std::string >::allocator_type *|std::allocator< std::string > *",
    "_p_swig__SwigPyIterator": "swig::SwigPyIterator *",
    "_p_std__invalid_argument": "std::invalid_argument *",
    "_p_allocator_type": "allocator_type *", "_p_difference_type": "difference_type *",
    "_p_size_type": "size_type *", "_p_value_type": "value_type *",
}


class TypeInfo(ctypes.Structure):
    pass


class CastInfo(ctypes.Structure):
    pass


TypeInfo._fields_ = [("name", ctypes.c_char_p), ("str", ctypes.c_char_p),
                     ("dcast", ctypes.c_void_p), ("cast", ctypes.POINTER(CastInfo)),
                     ("clientdata", ctypes.c_void_p), ("owndata", ctypes.c_int)]
CastInfo._fields_ = [("type", ctypes.POINTER(TypeInfo)), ("converter", ctypes.c_void_p),
                     ("next", ctypes.POINTER(CastInfo)), ("prev", ctypes.POINTER(CastInfo))]


class ModuleInfo(ctypes.Structure):
    _fields_ = [("types", ctypes.POINTER(ctypes.POINTER(TypeInfo))), ("size", ctypes.c_size_t),
                ("next", ctypes.c_void_p), ("type_initial", ctypes.c_void_p),
                ("cast_initial", ctypes.c_void_p), ("clientdata", ctypes.c_void_p)]


def type_table():
    """name -> (names, names of the types its pointers accept) from the shared capsule."""
    capsule = sys.modules["swig_runtime_data4"].type_pointer_capsule
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype, get.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
    info = ModuleInfo.from_address(get(capsule, CAPSULE))
    table = {}
    for i in range(info.size):
        entry = info.types[i].contents
        accepted, cast = [], entry.cast
        while cast:
            accepted.append(cast.contents.type.contents.name.decode())
            cast = cast.contents.next
        table[entry.name.decode()] = (entry.str.decode(), accepted)
    return table


def run_child(code):
    """Runs code in a fresh interpreter with the module's environment."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=os.environ.copy(),
                          capture_output=True, text=True, timeout=60)


# ---- type entries -------------------------------------------------------------

def test_type_entries_and_their_names():
    table = type_table()
    assert {name: names for name, (names, _) in table.items()} == TYPE_ENTRIES


@pytest.mark.parametrize("entry, accepted", [
    ("_p_Attvalue", {"_p_Attvalue", "_p_Attribute"}),
    ("_p_KorCore", {"_p_KorCore", "_p_Vanta", "_p_Dmm", "_p_Brondel"}),
    ("_p_Attribute", {"_p_Attribute"}),
    ("_p_Vanta", {"_p_Vanta"}),
    ("_p_unsigned_char", {"_p_unsigned_char"}),
])
def test_type_entries_accept_only_their_own_and_derived_pointers(entry, accepted):
    assert set(type_table()[entry][1]) == accepted


def test_runtime_types_exist_with_their_documentation():
    types = {t.__name__: t for t in object.__subclasses__()}
    for name in ("SwigPyObject", "SwigPyPacked"):
        assert types[name].__doc__ == "Swig object carries a C/C++ instance pointer"
    assert type(K.new_korPacket()) is types["SwigPyObject"]


# ---- pointer object -------------------------------------------------------------

def test_repr_names_the_display_type_and_the_objects_own_address():
    packet = K.new_korPacket()
    dat = K.korPacket_dat_get(packet)
    assert repr(dat) == "<Swig Object of type 'uint8_t *' at 0x%x>" % id(dat)
    assert repr(packet) == "<Swig Object of type 'korPacket *' at 0x%x>" % id(packet)


def test_int_is_the_library_address_and_equality_compares_addresses():
    packet = K.new_korPacket()
    first, second = K.korPacket_dat_get(packet), K.korPacket_dat_get(packet)
    assert first is not second
    assert int(first) == int(second) == int(packet)  # dat is the packet's first member
    assert first == second and not first != second
    other = K.korPacket_dat_get(K.new_korPacket())
    assert first != other and not first == other


@pytest.mark.parametrize("other", [5, "x", None, object(), korvane.Attvalue()])
def test_comparison_with_other_objects_is_not_implemented(other):
    pointer = K.new_korPacket()
    assert pointer.__eq__(other) is NotImplemented
    assert pointer.__ne__(other) is NotImplemented
    assert (pointer == other) is False and (pointer != other) is True


def test_ordering_is_not_supported_and_pointer_objects_are_unhashable():
    a, b = K.new_korPacket(), K.new_korPacket()
    with pytest.raises(TypeError):
        a < b
    with pytest.raises(TypeError, match="unhashable"):
        hash(a)


@pytest.mark.parametrize("method, doc", [
    ("disown", "releases ownership of the pointer"),
    ("acquire", "acquires ownership of the pointer"),
    ("own", "returns/sets ownership of the pointer"),
    ("append", "appends another 'this' object"),
    ("next", "returns the next 'this' object"),
])
def test_pointer_object_method_documentation(method, doc):
    assert getattr(type(K.new_korPacket()), method).__doc__ == doc


def test_ownership_flags():
    pointer = K.new_korPacket()
    assert pointer.own() is True
    assert pointer.disown() is None and pointer.own() is False
    assert pointer.acquire() is None and pointer.own() is True
    assert pointer.own(0) is True and pointer.own() is False
    assert pointer.own([1]) is False and pointer.own() is True
    K.delete_korPacket(pointer)
    assert pointer.own() is False


def test_own_with_a_value_whose_truth_fails_raises_that_error():
    class Undecided:
        def __bool__(self):
            raise ZeroDivisionError("no truth")
    with pytest.raises(ZeroDivisionError):
        K.new_korPacket().own(Undecided())


def test_borrowed_results_do_not_own():
    assert K.korPacket_dat_get(K.new_korPacket()).own() is False
    assert K.Attvalue_getValueU8str(K.new_Attvalue()).own() is False


def test_append_and_next():
    a, b, c = K.new_korPacket(), K.new_korPacket(), K.new_korPacket()
    assert a.next() is None
    assert b.append(c) is None and b.next() is c
    assert a.append(b) is None
    assert a.next() is b and b.next() is c  # the appended object keeps its own next
    assert repr(a).count("<Swig Object of type 'korPacket *'") == 3
    a.append(c)
    assert a.next() is c  # next is replaced


def test_append_refuses_other_objects_and_loops():
    a, b = K.new_korPacket(), K.new_korPacket()
    with pytest.raises(TypeError, match="^Attempt to append a non SwigPyObject$"):
        a.append(5)
    a.append(b)
    with pytest.raises(ValueError):
        b.append(a)
    with pytest.raises(ValueError):
        a.append(a)


def test_chained_pointer_objects_supply_the_first_accepted_type():
    packet = K.new_korPacket()
    dat = K.korPacket_dat_get(packet)
    dat.append(K.new_Attvalue())
    assert K.Attvalue_getValueLength(dat) == 1  # found behind dat
    assert K.korPacket_dat_get(packet) == dat  # compares its own address


# ---- proxy protocol ---------------------------------------------------------------

def test_new_returns_bare_owned_pointer_object_and_proxies_register():
    pointer = K.new_Attvalue()
    assert type(pointer).__name__ == "SwigPyObject" and pointer.own()
    value = korvane.Attvalue()
    assert value.this.own() is True
    assert isinstance(K.KorDeviceManager_getPathByName, type(len))


def test_swiginit_sets_this_then_chains_behind_it():
    instance = korvane.Attvalue.__new__(korvane.Attvalue)
    first, second = K.new_Attvalue(), K.new_Attvalue()
    assert K.Attvalue_swiginit(instance, first) is None
    assert instance.__dict__["this"] is first
    K.Attvalue_swiginit(instance, second)
    assert instance.this is first and first.next() is second


def test_swiginit_with_a_non_pointer_on_an_initialised_instance_raises():
    instance = korvane.Attvalue()
    with pytest.raises(TypeError, match="^Attempt to append a non SwigPyObject$"):
        K.Attvalue_swiginit(instance, 42)


def test_swiginit_on_an_instance_without_dict_raises():
    with pytest.raises(Exception):
        K.Attvalue_swiginit(5, K.new_Attvalue())


@pytest.mark.parametrize("call, message", [
    (lambda: K.Attvalue_swiginit(1), "swiginit expected 2 arguments, got 1"),
    (lambda: K.Attvalue_swiginit(1, 2, 3), "swiginit expected 2 arguments, got 3"),
])
def test_swiginit_unpacking_name(call, message):
    with pytest.raises(TypeError) as error:
        call()
    assert str(error.value) == message


def test_results_of_registered_classes_are_proxies_made_without_init():
    board = korvane.Vanta()
    block = board.gpiohw
    assert type(block) is korvane.GpioHw
    assert block.this.own() is False


def test_type_acceptance():
    board, value, attribute = korvane.Vanta(), korvane.Attvalue(), korvane.Attribute(7, 0, 0)
    assert K.KorCore_isConnected(board) is False  # a Vanta is a KorCore
    assert K.Attvalue_getValueLength(attribute) == 1  # an Attribute is an Attvalue
    with pytest.raises(TypeError) as error:
        K.Attribute_getAttid(value)
    assert str(error.value) == "in method 'Attribute_getAttid', argument 1 of type 'Attribute *'"


def test_objects_reach_their_pointer_through_this():
    class Holder:
        pass
    outer, inner = Holder(), Holder()
    inner.this = K.new_Attvalue()
    outer.this = inner
    assert K.Attvalue_getValueLength(outer) == 1
    with pytest.raises(TypeError):
        K.Attvalue_getValueLength(Holder())


def test_this_that_leads_back_to_itself_is_refused():
    class Holder:
        pass
    looped = Holder()
    looped.this = looped
    with pytest.raises(TypeError, match="argument 1 of type 'Attvalue \\*'"):
        K.Attvalue_getValueLength(looped)


def test_computed_this_without_dict_stays_alive_for_the_call():
    class Slotted:
        __slots__ = ()

        @property
        def this(self):
            return K.new_Attvalue()
    assert K.Attvalue_getValueLength(Slotted()) == 1


def test_instance_method_wrapper():
    method = K.SWIG_PyInstanceMethod_New(K.Attvalue_getValueLength)

    class Holder:
        getValueLength = method
    holder = Holder()
    holder.this = K.new_Attvalue()
    assert holder.getValueLength() == 1
    assert K.SWIG_PyInstanceMethod_New(len) is not None


# ---- ownership and destruction (in a child interpreter) -----------------------------

def test_owned_object_of_an_unregistered_class_reports_a_leak():
    child = run_child("""
        import _korvane as K
        packet = K.new_korPacket()
        del packet
        borrowed = K.korPacket_dat_get(K.new_korPacket())
        del borrowed
        print("done")
    """)
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [
        "swig/python detected a memory leak of type 'korPacket *', no destructor found.",
        "swig/python detected a memory leak of type 'korPacket *', no destructor found.",
        "done"]


def test_disowned_object_is_not_destroyed_and_registered_ones_are():
    child = run_child("""
        import _korvane as K
        import korvane
        packet = K.new_korPacket()
        packet.disown()
        del packet
        value = korvane.Attvalue()
        del value
        print("done")
    """)
    assert child.returncode == 0, child.stderr
    assert child.stdout == "done\n"


def test_python_destroy_function_gets_a_non_owning_pointer_object():
    child = run_child("""
        import _korvane as K
        seen = []
        class Packet:
            def __swig_destroy__(pointer):
                seen.append((repr(pointer).split(" at ")[0], pointer.own()))
                K.delete_korPacket(pointer)
            __swig_destroy__ = staticmethod(__swig_destroy__)
        class Failing:
            @staticmethod
            def __swig_destroy__(pointer):
                raise RuntimeError("refused")
        K.korPacket_swigregister(Packet)
        packet = K.new_korPacket()
        del packet
        print(seen)
        K.korPacket_swigregister(Failing)
        packet = K.new_korPacket()
        del packet
        print("after")
    """)
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == ["[(\"<Swig Object of type 'korPacket *'\", False)]", "after"]
    assert "RuntimeError: refused" in child.stderr


def test_shared_runtime_capsule():
    runtime = sys.modules["swig_runtime_data4"]
    assert type(runtime.type_pointer_capsule).__name__ == "PyCapsule"


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer's shadow memory needs an unlimited address space")
def test_receive_thread_that_cannot_start_raises_runtime_error():
    # With the address space capped just above what the process uses, a new
    # thread's stack cannot be mapped.
    child = run_child("""
        import resource, _korvane as K
        device = K.new_KorDevice()
        for line in open("/proc/self/status"):
            if line.startswith("VmSize:"):
                used = int(line.split()[1]) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (used + 2 * 1024 * 1024, resource.RLIM_INFINITY))
        for make in (lambda: K.new_KorService(device), K.new_KorCore, K.new_Vanta,
                     K.new_Brondel, K.new_Dmm):
            try:
                make()
                print("started")
            except RuntimeError as error:
                print("RuntimeError", str(error).startswith("cannot start the receive thread"))
    """)
    assert child.returncode == 0, child.stderr
    results = [line for line in child.stdout.splitlines() if "memory leak" not in line]
    assert results == ["RuntimeError True"] * 5


def test_proxies_keep_what_they_borrow_alive():
    child = run_child("""
        import gc, korvane
        service = korvane.KorService(korvane.KorDevice())
        block = korvane.GpioHw(korvane.KorService(korvane.KorDevice()), korvane.ATT_GPIO0_BASE)
        view = korvane.Vanta().gpiohw
        pin = korvane.Pin(korvane.Vanta(), 3)
        channel = korvane.Adc(korvane.Vanta(), 1)
        gc.collect()
        print(service.readAttribute(korvane.Attribute(0, 0, 0)), block.read(), view.read(),
              pin.value(), channel.value())
    """)
    assert child.returncode == 0, child.stderr
    assert child.stdout.split() == ["True", "4294967295", "4294967295", "True", "-1"]
