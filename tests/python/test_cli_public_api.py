"""The command-line tool (pykorvane/cli) is built on pykorvane's public API
only: a scan of its sources finds no import of a private module or name of
pykorvane and no use of an attribute that pykorvane keeps private."""
import ast

import pytest

from device_helpers import SOURCE_DIR

PACKAGE = SOURCE_DIR / "pykorvane"
CLI = PACKAGE / "cli"


def private(name):
    return name.startswith("_") and not name.endswith("__")


def package_private_names():
    """The private names pykorvane's own modules define (the tool's aside)."""
    names = set()
    for path in PACKAGE.rglob("*.py"):
        if CLI not in path.parents:
            names.add(path.stem)
            for node in ast.walk(ast.parse(path.read_text())):
                names.add(getattr(node, "name", None) or getattr(node, "attr", None) or getattr(node, "id", ""))
    return {name for name in names if name and private(name)}


def private_uses(source, privates):
    found = []
    for node in ast.walk(ast.parse(source)):
        if isinstance(node, (ast.Import, ast.ImportFrom)):
            module = getattr(node, "module", None) or ""
            names = [module] * bool(module) + [alias.name for alias in node.names]
            if any(private(part) for name in names for part in name.split(".")):
                found.append(f"line {node.lineno}: imports {', '.join(names)}")
        elif isinstance(node, ast.Attribute) and node.attr in privates:
            found.append(f"line {node.lineno}: uses {node.attr}")
    return found


@pytest.mark.parametrize("source, uses", [
    ("from pykorvane import _args", 1),
    ("import pykorvane._core", 1),
    ("device._open_found(info)", 1),
    ("info.open(); pykorvane.__version__", 0),
])
def test_the_scan_finds_private_uses(source, uses):
    assert len(private_uses(source, package_private_names())) == uses


def test_the_command_line_tool_uses_pykorvane_public_api_only():
    privates = package_private_names()
    found = {path.name: private_uses(path.read_text(), privates) for path in sorted(CLI.rglob("*.py"))}
    assert "common.py" in found
    assert not any(found.values()), found
