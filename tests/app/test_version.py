"""The version `stelvane --version` prints: an installed package's from its
metadata, a source tree's from its pyproject.toml, marked as such."""

from pathlib import Path
import tomllib

import pytest

from tarvinel.stelvane import options, version

REPO_ROOT = Path(__file__).resolve().parents[2]
PYPROJECT_VERSION = tomllib.loads((REPO_ROOT / "pyproject.toml").read_text())["project"]["version"]


def installed_tree(site: Path, version_text: str, init_in_record: str = version.PACKAGE_INIT):
    """A site-packages folder as pip leaves it: the package's __init__.py and
    the distribution's metadata; returns the __init__.py."""
    init = site / version.PACKAGE_INIT
    init.parent.mkdir(parents=True)
    init.write_text("")
    info = site / f"tarvinel_stelvane-{version_text}.dist-info"
    info.mkdir()
    (info / "METADATA").write_text(
        f"Metadata-Version: 2.1\nName: tarvinel-stelvane\nVersion: {version_text}\n")
    (info / "RECORD").write_text(f"{init_in_record},,\n")
    return init


def test_the_command_prints_the_source_trees_version_marked_as_such(capsys):
    # The installed command's is checked by .ci/wheel-smoke on a built wheel.
    parser = options.make_parser()  # its name: stelvane, or python -m tarvinel.stelvane
    with pytest.raises(SystemExit) as leaving:
        options.parse_args(["--version"], parser)
    assert leaving.value.code == 0
    assert capsys.readouterr().out == f"{parser.prog} {PYPROJECT_VERSION}+source\n"


def test_an_installed_package_reports_its_metadatas_version(tmp_path):
    init = installed_tree(tmp_path / "site", "2.5.1")
    assert version.package_version(init, path=[str(tmp_path / "site")]) == "2.5.1"


def test_a_source_tree_beside_an_installed_copy_reports_its_own_version(tmp_path):
    installed_tree(tmp_path / "site", "2.5.1")
    tree = tmp_path / "checkout"
    (tree / "tarvinel" / "stelvane").mkdir(parents=True)
    (tree / "pyproject.toml").write_text('[project]\nname = "x"\nversion = "3.0.0"\n')
    init = tree / version.PACKAGE_INIT
    init.write_text("")
    assert version.package_version(init, path=[str(tmp_path / "site")]) == "3.0.0+source"


def test_a_tree_without_metadata_or_a_readable_pyproject_says_unknown(tmp_path):
    assert version.source_version(tmp_path / "pyproject.toml") == version.UNKNOWN
    broken = tmp_path / "broken.toml"
    for text in ("[project\n", '[project]\nname = "x"\n', "project = 3\n"):
        broken.write_text(text)
        assert version.source_version(broken) == version.UNKNOWN
