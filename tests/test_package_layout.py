"""The package's shape, read from its source: no module imports another in a
circle (lazy imports inside functions included), the producer process's
modules reach no Qt, and no file grows past 400 lines."""

import ast
from pathlib import Path

PACKAGE = Path(__file__).resolve().parents[1] / "tarvinel" / "stelvane"
ROOT = "tarvinel.stelvane"
MAX_LINES = 400
QT_MODULES = ("PyQt5", "PyQt6", "PySide6", "pyqtgraph")


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
    reached, todo = set(), [f"{ROOT}.producer", f"{ROOT}.sources", f"{ROOT}.feed"]
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
