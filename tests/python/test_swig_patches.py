"""SWIG's library files patched at configure time, and the overload dispatch's
plain message for too many arguments.

cmake/KorvaneSwigPatches.cmake is run on a scratch CMake project with the
project's patches and with broken ones; the module tests check that the flag
behind the plain message describes the dispatch's own unpacking only.
"""
import re
import shutil
import subprocess
from pathlib import Path

import pytest

import _korvane as K
from device_helpers import BUILD_DIR, SOURCE_DIR

PATCH_DIR = SOURCE_DIR / "korvane" / "swig-patches"
CONFIGURE_TIMEOUT_S = 120


def _swig():
    """The SWIG the build used (from its cache), else the first on PATH."""
    cache = BUILD_DIR / "CMakeCache.txt"
    if cache.exists():
        found = re.search(r"^KORVANE_SWIG:FILEPATH=(.+)$", cache.read_text(), re.M)
        if found:
            return found.group(1)
    program = shutil.which("swig4.0") or shutil.which("swig")
    if not program or not shutil.which("cmake") or not shutil.which("patch"):
        pytest.skip("needs swig, cmake and patch (scripts/bootstrap.sh)")
    return program


@pytest.fixture(scope="module")
def swig():
    program = _swig()
    text = subprocess.run([program, "-version"], capture_output=True, text=True,
                          timeout=CONFIGURE_TIMEOUT_S).stdout
    lib = subprocess.run([program, "-swiglib"], capture_output=True, text=True,
                         timeout=CONFIGURE_TIMEOUT_S).stdout.split()[0]
    return program, re.search(r"SWIG Version ([0-9.]+)", text).group(1), Path(lib) / "python"


def configure(tmp_path, swig, patches):
    """Runs the patch step for the patch folder `patches` into tmp_path/out."""
    program, version, _ = swig
    project = tmp_path / "project"
    project.mkdir(exist_ok=True)
    (project / "CMakeLists.txt").write_text(
        "cmake_minimum_required(VERSION 3.18)\nproject(patchcheck NONE)\n"
        f"include({SOURCE_DIR / 'cmake' / 'KorvaneSwigPatches.cmake'})\n"
        f'korvane_patch_swig_library({program} "{version}" {patches} {tmp_path / "out"})\n')
    return subprocess.run(["cmake", "-S", str(project), "-B", str(tmp_path / "build")],
                          capture_output=True, text=True, timeout=CONFIGURE_TIMEOUT_S)


def copy_patches(tmp_path, names=None):
    folder = tmp_path / "patches"
    folder.mkdir(exist_ok=True)
    for patch in PATCH_DIR.glob("*.patch"):
        if names is None or patch.name in names:
            shutil.copy(patch, folder)
    return folder


def added_lines(patch):
    return [line[1:] for line in patch.read_text().splitlines()
            if line.startswith("+") and not line.startswith("+++")]


def test_every_patch_applies_and_lands_in_the_output_folder(tmp_path, swig):
    result = configure(tmp_path, swig, PATCH_DIR)
    assert result.returncode == 0, result.stderr
    patches = sorted(PATCH_DIR.glob("*.patch"))
    assert {p.name for p in patches} >= {"pyrun.swg.patch", "pyerrors.swg.patch"}
    assert sorted(f.name for f in (tmp_path / "out").iterdir()) == [p.name[:-6] for p in patches]
    for patch in patches:
        patched = (tmp_path / "out" / patch.name[:-6]).read_text()
        assert patched != (swig[2] / patch.name[:-6]).read_text()
        assert all(line in patched for line in added_lines(patch)), patch.name


def _context_changed(text):
    return text.replace(" SWIG_Python_RaiseOrModifyTypeError(const char *message)\n",
                        " SWIG_Python_RaiseOrModifyTypeError(const char *text)\n", 1)


def _reversed(text):
    swapped = []
    for line in text.splitlines(keepends=True):
        if line.startswith("---") or line.startswith("+++"):
            swapped.append(line)
        elif line.startswith("-"):
            swapped.append("+" + line[1:])
        elif line.startswith("+"):
            swapped.append("-" + line[1:])
        elif line.startswith("@@"):
            old, new = re.match(r"@@ -(\S+) \+(\S+) @@", line).groups()
            swapped.append(f"@@ -{new} +{old} @@\n")
        else:
            swapped.append(line)
    return "".join(swapped)


@pytest.mark.parametrize("name, change, reason", [
    ("pyerrors.swg.patch", _context_changed, "does not apply"),
    ("pyerrors.swg.patch", _reversed, "does not apply"),
    ("nosuchfile.swg.patch", lambda text: text, "which this SWIG does not have"),
])
def test_a_patch_that_does_not_apply_stops_the_configure_naming_version_and_patch(
        tmp_path, swig, name, change, reason):
    folder = copy_patches(tmp_path, {"pyrun.swg.patch"})
    (folder / name).write_text(change((PATCH_DIR / "pyerrors.swg.patch").read_text()))
    result = configure(tmp_path, swig, folder)
    assert result.returncode != 0
    message = " ".join(result.stderr.split())
    assert f"SWIG {swig[1]}:" in message
    assert str(folder / name) in message and reason in message
    assert not (tmp_path / "out" / name[:-6]).exists()


def test_a_removed_patch_leaves_no_copy_and_an_unchanged_one_is_not_rewritten(tmp_path, swig):
    folder = copy_patches(tmp_path, {"pyrun.swg.patch", "pyerrors.swg.patch"})
    assert configure(tmp_path, swig, folder).returncode == 0
    kept = tmp_path / "out" / "pyrun.swg"
    written = kept.stat().st_mtime_ns
    (folder / "pyerrors.swg.patch").unlink()
    result = configure(tmp_path, swig, folder)
    assert result.returncode == 0, result.stderr
    assert [f.name for f in (tmp_path / "out").iterdir()] == ["pyrun.swg"]
    assert kept.stat().st_mtime_ns == written


# ---- the overload dispatch's flag -------------------------------------------------

# Calls with a wrong number of arguments, with their messages: a function
# with one form (too many, too few) and an overloaded one (too many).
WRONG_COUNTS = [
    pytest.param(lambda: K.StringVector_append(K.new_StringVector(), "a", "b"),
                 "StringVector_append expected 2 arguments, got 3", id="one-form-too-many"),
    pytest.param(lambda: K.hid_open(1), "hid_open expected 3 arguments, got 1", id="one-form-too-few"),
    pytest.param(lambda: K.KorDevice_open(1, 2, 3, 4, 5),
                 "KorDevice_open expected at most 4 arguments, got 5", id="overloaded-too-many"),
]
NO_LEN = "object of type '' has no len()"


class CheckedSequence:
    """A one-element sequence: reading its length makes `call` if given (which
    raises a TypeError reading `text`), reading its element raises the
    TypeError of len() on an object whose type name makes that message as long
    as `text`, so that its error object likely takes the memory of the freed
    one. The dispatch of new_StringVector reads both while it checks the
    vector form."""

    def __init__(self, call=None, text="unreadable element" + "x" * len(NO_LEN)):
        self.call, self.text, self.seen = call, text, False
        self.unsized = type("U" * max(1, len(text) - len(NO_LEN)), (), {})

    def __len__(self):
        # The error is dropped at once (no reference kept), as a caller that
        # handles it would.
        if self.call:
            try:
                self.call()
            except TypeError as error:
                self.seen = str(error) == self.text
        return 1

    def __getitem__(self, index):
        return len(self.unsized())

    def message(self):
        return NO_LEN.replace("''", f"'{self.unsized.__name__}'")


@pytest.mark.parametrize("call, text", WRONG_COUNTS)
def test_wrong_count_inside_a_check_leaves_the_dispatch_text_on_the_checks_error(call, text):
    for _ in range(50):  # freed error objects get reused: an address match would show
        sequence = CheckedSequence(call, text)
        with pytest.raises(TypeError) as error:
            K.new_StringVector(sequence)
        assert sequence.seen
        assert str(error.value).startswith(
            sequence.message() + "\nAdditional information:\n"
            "Wrong number or type of arguments for overloaded function 'new_StringVector'.")


@pytest.mark.parametrize("call, text", WRONG_COUNTS)
def test_wrong_count_before_a_dispatch_leaves_its_plain_message_to_that_call(call, text):
    with pytest.raises(TypeError) as error:
        call()
    assert str(error.value) == text
    sequence = CheckedSequence()
    with pytest.raises(TypeError) as error:
        K.new_StringVector(sequence)
    assert str(error.value).startswith(sequence.message() + "\nAdditional information:\n")
    with pytest.raises(TypeError) as error:
        K.StringVector___getitem__(K.new_StringVector(), 1, 2)
    assert str(error.value) == "StringVector___getitem__ expected at most 2 arguments, got 3"
