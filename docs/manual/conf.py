"""Sphinx configuration of the Korvane reference manual.

scripts/build-docs.sh runs Sphinx with this folder as the configuration
folder on a staged source tree: the guide pages as they are in the
repository (README.md, docs/*.md, emulator/README.md) beside index.rst and
reference/ from here. It sets KORVANE_SOURCE_DIR (the repository),
KORVANE_DOXYGEN_XML (Doxygen's XML of the installed headers) and a Python
path on which the built pykorvane and a module made from the korvane stub
are importable.
"""
import os
import re
from pathlib import Path

ROOT = Path(os.environ["KORVANE_SOURCE_DIR"])
_declared = re.search(r"^\s*project\(\s*korvane\s+VERSION\s+([0-9.]+)",
                      (ROOT / "CMakeLists.txt").read_text(encoding="utf-8"), re.M)
if _declared is None:
    raise RuntimeError("CMakeLists.txt declares no project(korvane VERSION ...)")

project = "Korvane"
author = "Korvane developers"
copyright = "Korvane developers"
version = release = _declared.group(1)

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "sphinxarg.ext",
    "breathe",
]
root_doc = "index"
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
# Links to headings of the Markdown pages (guide.md#threads) resolve.
myst_heading_anchors = 4
nitpicky = False

autodoc_member_order = "bysource"
autodoc_typehints = "signature"
autodoc_default_options = {"members": True, "show-inheritance": True}

breathe_projects = {"korvane": os.environ["KORVANE_DOXYGEN_XML"]}
breathe_default_project = "korvane"
breathe_default_members = ("members",)

html_theme = "furo"
html_title = f"Korvane {release}"

man_pages = [
    ("reference/cli", "korvane", "Korvane devices from the shell", [author], 1),
    ("emulator/README", "korvane-emu", "run a command with emulated Korvane devices", [author], 1),
]
man_show_urls = False


def _repository_link(app, env, node, contnode):
    """The guide pages link to files of the repository that are no pages of
    the manual (examples/demo.py, scripts/70-korvane.rules, ...). Such a link
    shows as the file's name in code style, provided the file exists; a
    link to a missing file or page stays a broken reference (an error under
    -W)."""
    # MyST hands its unresolved links to this event as references of type
    # "any" without a domain.
    if node.get("refdomain") or node.get("reftype") != "any":
        return None
    target = node.get("reftarget", "").split("#", 1)[0]
    if not target or "://" in target:
        return None
    page = Path(env.doc2path(node["refdoc"], base=False)).parent
    if not (ROOT / page / target).resolve().exists():
        return None
    from docutils import nodes

    return nodes.literal(target, contnode.astext())


def setup(app):
    app.connect("missing-reference", _repository_link)
