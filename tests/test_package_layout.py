"""The package's shape, read from its source: its folders are layers, each
importing only the layers below it; no module imports another in a circle
(lazy imports inside functions included); nothing below the plot widgets
reaches Qt; the package top stays small; no file grows past 400 lines."""

import ast
import functools
from pathlib import Path

PACKAGE = Path(__file__).resolve().parents[1] / "tarvinel" / "stelvane"
ROOT = "tarvinel.stelvane"
MAX_LINES = 400
QT_MODULES = ("PyQt5", "PyQt6", "PySide6", "pyqtgraph")
MAX_TOP_MODULES = 12
MAX_FUNCTION_LINES = 40

# The layers from the bottom up, each by the folders and top modules it holds.
# A module may import its own layer and those below it; the sources and the
# window's data model never import each other; the layers up to the data
# model import no Qt (the producer process runs them, and the model's
# arithmetic is tested without a window).
LAYERS = (
    ("shared", {"protocol", "config"}),
    ("formats", {"formats"}),
    ("sources", {"sources"}),
    ("model", {"model", "dataset"}),
    ("widgets", {"widgets", "qt_compat"}),
    ("presenters", {"presenters"}),
    ("window", {"window"}),
    ("app", {"", "__main__", "app", "options", "version"}),
)
QT_FREE_LAYERS = ("shared", "formats", "sources", "model")
APART = {frozenset({"sources", "model"})}


@functools.cache
def module_files() -> dict[str, Path]:
    files = {}
    for path in sorted(PACKAGE.rglob("*.py")):
        parts = path.relative_to(PACKAGE).with_suffix("").parts
        if parts[-1] == "__init__":
            parts = parts[:-1]
        files[".".join((ROOT, *parts))] = path
    return files


def imported_modules(name: str, path: Path, modules) -> set[str]:
    """The package's modules that an import statement anywhere in the file
    names (relative imports resolved): for `from M import x` that is M.x
    where M.x is a module, else M. The parent packages every import runs
    first are left out: each is loaded before any of its modules anyway."""
    package = name if path.name == "__init__.py" else name.rpartition(".")[0]
    found = set()
    for node in ast.walk(ast.parse(path.read_text(), str(path))):
        if isinstance(node, ast.Import):
            found.update(alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom):
            base = node.module or ""
            if node.level:
                anchor = package.split(".")[:len(package.split(".")) - (node.level - 1)]
                base = ".".join(anchor + ([base] if base else []))
            for alias in node.names:
                found.add(base if _defined_in(base, alias.name, modules) else f"{base}.{alias.name}")
    return {module for module in found if module in modules and module != name}


def _defined_in(module: str, name: str, modules) -> bool:
    """Whether `from module import name` takes a name the module defines
    (rather than a module of its own: one of ours, or a native one)."""
    if f"{module}.{name}" in modules or module not in modules:
        return False
    tree = ast.parse(modules[module].read_text())
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and node.name == name:
            return True
        if isinstance(node, (ast.Import, ast.ImportFrom)):
            if any((a.asname or a.name).split(".")[0] == name for a in node.names):
                return True
        targets = node.targets if isinstance(node, ast.Assign) else \
            [node.target] if isinstance(node, ast.AnnAssign) else []
        if any(isinstance(t, ast.Name) and t.id == name for t in targets):
            return True
    return False


@functools.cache
def import_graph() -> dict[str, set[str]]:
    files = module_files()
    return {name: imported_modules(name, path, files) for name, path in files.items()}


def test_no_module_of_the_package_imports_another_in_a_circle():
    graph = import_graph()
    assert f"{ROOT}.app" in graph[ROOT]  # show()'s import, inside the function, is seen
    done, path = set(), []

    def visit(name):
        if name in path:
            raise AssertionError("import circle: " + " -> ".join(path[path.index(name):] + [name]))
        if name in done:
            return
        path.append(name)
        for other in sorted(graph[name]):
            visit(other)
        path.pop()
        done.add(name)

    for name in sorted(graph):
        visit(name)


def test_the_producer_process_reaches_no_qt():
    graph, files = import_graph(), module_files()
    reached, todo = set(), [f"{ROOT}.sources.producer", f"{ROOT}.sources", f"{ROOT}.sources.feed"]
    while todo:
        name = todo.pop()
        if name not in reached:
            reached.add(name)
            todo += graph[name]
    assert {f"{ROOT}.sources.instrument", f"{ROOT}.formats.text.reader"} <= reached
    for name in sorted(reached):
        tree = ast.parse(files[name].read_text())
        for node in ast.walk(tree):
            if isinstance(node, (ast.Import, ast.ImportFrom)):
                named = [a.name for a in node.names] if isinstance(node, ast.Import) else [node.module or ""]
                assert not any(n.split(".")[0] in QT_MODULES for n in named), (name, named)
        assert name != f"{ROOT}.qt_compat"


def test_no_file_of_the_package_is_over_400_lines():
    long = {str(path.relative_to(PACKAGE)): lines for path in PACKAGE.rglob("*.py")
            if (lines := len(path.read_text().splitlines())) > MAX_LINES}
    assert long == {}


def layer_of(module: str) -> int:
    first = module[len(ROOT):].lstrip(".").split(".")[0]
    for index, (_, rooms) in enumerate(LAYERS):
        if first in rooms:
            return index
    raise AssertionError(f"{module} lies in no layer: add its folder to LAYERS")


def test_each_layer_imports_only_the_layers_below_it():
    wrong = []
    for name, imported in import_graph().items():
        for other in imported:
            mine, theirs = layer_of(name), layer_of(other)
            pair = frozenset({LAYERS[mine][0], LAYERS[theirs][0]})
            if theirs > mine or (mine != theirs and pair in APART):
                wrong.append(f"{name} ({LAYERS[mine][0]}) imports {other} ({LAYERS[theirs][0]})")
    assert wrong == []


def test_the_layers_below_the_widgets_import_no_qt():
    files = module_files()
    wrong = []
    for name, path in files.items():
        if LAYERS[layer_of(name)][0] not in QT_FREE_LAYERS:
            continue
        for node in ast.walk(ast.parse(path.read_text())):
            if isinstance(node, ast.Import):
                named = [a.name for a in node.names]
            elif isinstance(node, ast.ImportFrom) and not node.level:
                named = [node.module or ""]
            else:
                continue
            wrong += [(name, n) for n in named if n.split(".")[0] in QT_MODULES]
    assert wrong == []


def test_the_package_top_holds_only_the_entry_points_and_what_native_code_imports():
    top = sorted(path.stem for path in PACKAGE.glob("*.py"))
    assert len(top) <= MAX_TOP_MODULES, top


def test_at_most_two_functions_of_the_package_are_over_40_lines():
    long = sorted(f"{path.relative_to(PACKAGE)}:{node.lineno} {node.name}"
                  for path in PACKAGE.rglob("*.py")
                  for node in ast.walk(ast.parse(path.read_text()))
                  if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef))
                  and node.end_lineno - node.lineno + 1 > MAX_FUNCTION_LINES)
    assert len(long) <= 2, long
