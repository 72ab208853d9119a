"""The command-line tool (pykorvane/cli) is built on pykorvane's public API
only: a scan of its sources (ast, nothing is imported) finds no private name
of pykorvane, i.e. no name starting with "_" (dunders such as __version__
aside) reached from pykorvane:

- imports of a private module or name (``import pykorvane._core``, ``from
  pykorvane.discovery import _attached``, ``from .. import _args``);
- attributes reached from a name bound to pykorvane (``pykorvane._core``,
  ``discovery._primary``), also through getattr and friends;
- private attributes that pykorvane defines, on any object (``device.
  _open_found(info)``, ``board._core``), except a CLI class's own
  attributes on self/cls;
- module paths in strings (``importlib.import_module("pykorvane._core")``).

The tool's own private names (in pykorvane.cli) are its business.
"""
import ast
import re
from pathlib import Path
from typing import Dict, Iterator, List, Optional, Set

from device_helpers import SOURCE_DIR

PACKAGE = SOURCE_DIR / "pykorvane"
CLI = PACKAGE / "cli"
ATTRIBUTE_CALLS = {"getattr", "hasattr", "setattr", "delattr"}
PRIVATE_PATH = re.compile(r"\bpykorvane(?:\.\w+)*\._\w")


def private(name: str) -> bool:
    return name.startswith("_") and not (name.startswith("__") and name.endswith("__"))


def package_private_names() -> Set[str]:
    """Every private name pykorvane's own modules (the CLI's aside) define:
    modules, functions, classes, module and instance attributes, imports."""
    names: Set[str] = set()
    for path in sorted(PACKAGE.rglob("*.py*")):
        if CLI in path.parents or path.suffix not in (".py", ".pyi"):
            continue
        names.add(path.stem)
        for node in ast.walk(ast.parse(path.read_text(), str(path))):
            if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)):
                names.add(node.name)
            elif isinstance(node, ast.Name) and isinstance(node.ctx, ast.Store):
                names.add(node.id)
            elif isinstance(node, ast.Attribute) and isinstance(node.ctx, ast.Store):
                names.add(node.attr)
            elif isinstance(node, ast.alias):
                names.add(node.asname or node.name.split(".")[-1])
    return {name for name in names if private(name)}


class Scan(ast.NodeVisitor):
    """The private uses of pykorvane in one module of the package
    ``package`` (dotted, e.g. "pykorvane.cli")."""

    def __init__(self, package: str, privates: Set[str]) -> None:
        self.package = package.split(".")
        self.privates = privates
        # Names of the module bound to pykorvane (modules or their members).
        self.bound: Set[str] = set()
        # Per enclosing class: whether it derives from something of pykorvane.
        self.classes: List[bool] = []
        self.found: List[str] = []

    def note(self, node: ast.AST, what: str) -> None:
        self.found.append(f"line {getattr(node, 'lineno', '?')}: {what}")

    def module_of(self, node: ast.ImportFrom) -> Optional[str]:
        """The absolute module of a from-import, None when it is not
        pykorvane's or is the CLI's own."""
        if node.level:
            base = self.package[:len(self.package) - node.level + 1]
            parts = base + (node.module.split(".") if node.module else [])
        else:
            parts = (node.module or "").split(".")
        if parts[0] != "pykorvane" or parts[:2] == ["pykorvane", "cli"]:
            return None
        return ".".join(parts)

    def visit_Import(self, node: ast.Import) -> None:
        for alias in node.names:
            parts = alias.name.split(".")
            if parts[0] != "pykorvane" or parts[:2] == ["pykorvane", "cli"]:
                continue
            if any(private(p) for p in parts):
                self.note(node, f"imports {alias.name}")
            self.bound.add(alias.asname or "pykorvane")

    def visit_ImportFrom(self, node: ast.ImportFrom) -> None:
        module = self.module_of(node)
        if module is None:
            return
        if any(private(p) for p in module.split(".")):
            self.note(node, f"imports from {module}")
        for alias in node.names:
            if private(alias.name):
                self.note(node, f"imports {alias.name} from {module}")
            self.bound.add(alias.asname or alias.name)

    def root(self, node: ast.AST) -> Optional[str]:
        while isinstance(node, (ast.Attribute, ast.Subscript, ast.Call)):
            node = node.func if isinstance(node, ast.Call) else node.value
        return node.id if isinstance(node, ast.Name) else None

    def reached(self, node: ast.AST, base: ast.AST, name: str, how: str) -> None:
        if not private(name):
            return
        root = self.root(base)
        own = root in ("self", "cls") and self.classes and not self.classes[-1]
        if root in self.bound:
            self.note(node, f"{how} {name} of {root} (pykorvane)")
        elif name in self.privates and not own:
            self.note(node, f"{how} {name}, a private name of pykorvane")

    def visit_ClassDef(self, node: ast.ClassDef) -> None:
        self.classes.append(any(self.root(base) in self.bound for base in node.bases))
        self.generic_visit(node)
        self.classes.pop()

    def visit_Attribute(self, node: ast.Attribute) -> None:
        self.reached(node, node.value, node.attr, "uses")
        self.generic_visit(node)

    def visit_Call(self, node: ast.Call) -> None:
        if (isinstance(node.func, ast.Name) and node.func.id in ATTRIBUTE_CALLS and len(node.args) >= 2
                and isinstance(node.args[1], ast.Constant) and isinstance(node.args[1].value, str)):
            self.reached(node, node.args[0], node.args[1].value, f"{node.func.id}()s")
        self.generic_visit(node)

    def visit_Constant(self, node: ast.Constant) -> None:
        if isinstance(node.value, str) and PRIVATE_PATH.search(node.value):
            self.note(node, f"names a private module path in {node.value!r}")


def scan(source: str, package: str, privates: Set[str]) -> List[str]:
    visitor = Scan(package, privates)
    visitor.visit(ast.parse(source))
    return visitor.found


def cli_modules() -> Iterator[Path]:
    return iter(sorted(CLI.rglob("*.py")))


def package_of(path: Path) -> str:
    return ".".join(path.parent.relative_to(SOURCE_DIR).parts)


def test_the_command_line_tool_uses_pykorvane_public_api_only():
    privates = package_private_names()
    assert {"_core", "_open_found", "_attached"} <= privates
    modules = list(cli_modules())
    assert CLI / "__init__.py" in modules and CLI / "common.py" in modules
    found: Dict[str, List[str]] = {}
    for path in modules:
        uses = scan(path.read_text(), package_of(path), privates)
        if uses:
            found[str(path.relative_to(SOURCE_DIR))] = uses
    assert not found, "the command-line tool reaches private names of pykorvane:\n" + "\n".join(
        f"  {module}: {use}" for module, uses in found.items() for use in uses)


def test_the_scan_finds_each_kind_of_private_use():
    privates = package_private_names()
    source = '''
import pykorvane
import pykorvane._core
import pykorvane.discovery as disco
from pykorvane import _args
from pykorvane.discovery import _attached, devices
from .. import _block
from ..device import Device
from . import common
from .common import _Interrupts
import importlib

pykorvane._core.attached_devices()
disco._primary([])
getattr(pykorvane, "_core")
device = pykorvane.Vanta()
device._open_found(None)
print(device._core, pykorvane.__version__, common._anything, _Interrupts.seen)
importlib.import_module("pykorvane._core")

class Mine:
    def go(self):
        return self._core

class Sub(Device):
    def go(self):
        return self._core
'''
    found = scan(source, "pykorvane.cli", privates)
    expected = [
        "line 3: imports pykorvane._core",
        "line 5: imports _args from pykorvane",
        "line 6: imports _attached from pykorvane.discovery",
        "line 7: imports _block from pykorvane",
        "line 13: uses _core of pykorvane (pykorvane)",
        "line 14: uses _primary of disco (pykorvane)",
        "line 15: getattr()s _core of pykorvane (pykorvane)",
        "line 17: uses _open_found, a private name of pykorvane",
        "line 18: uses _core, a private name of pykorvane",
        "line 19: names a private module path in 'pykorvane._core'",
        "line 27: uses _core, a private name of pykorvane",
    ]
    assert sorted(found) == sorted(expected)
