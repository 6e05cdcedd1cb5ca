"""The package's version. pyproject.toml defines it; an installed package
carries it in its metadata, read here at run time. A source tree imported
through the development .pth file has no metadata of its own: its version is
pyproject.toml's with "+source" added, so that a report never passes a
development tree off as the release of that number."""

from importlib import metadata
from pathlib import Path
import sys
import tomllib

DISTRIBUTION = "tarvinel-stelvane"
# Where the installed package's __init__.py lies, relative to site-packages.
PACKAGE_INIT = "tarvinel/stelvane/__init__.py"
# Neither metadata nor a readable pyproject.toml: a copied tree.
UNKNOWN = "0+unknown"


def package_version(package_init: Path, path: list[str] | None = None) -> str:
    """The version of the package whose __init__.py is `package_init`: its
    distribution's, when a distribution on `path` (default sys.path) installed
    that very file; else that of the source tree the file lies in."""
    package_init = package_init.resolve()
    for distribution in metadata.distributions(name=DISTRIBUTION,
                                               path=sys.path if path is None else path):
        # Another copy installed beside a source tree on the path is not it.
        if Path(distribution.locate_file(PACKAGE_INIT)).resolve() == package_init:
            return distribution.version
    return source_version(package_init.parents[2] / "pyproject.toml")


def source_version(pyproject: Path) -> str:
    """pyproject.toml's version, marked as a source tree's."""
    try:
        text = pyproject.read_text(encoding="utf-8")
        return tomllib.loads(text)["project"]["version"] + "+source"
    except (OSError, UnicodeDecodeError, tomllib.TOMLDecodeError, KeyError, TypeError):
        return UNKNOWN


def version() -> str:
    """This package's version (see package_version)."""
    # The package itself, wherever in it this module lies.
    return package_version(Path(sys.modules["tarvinel.stelvane"].__file__))
