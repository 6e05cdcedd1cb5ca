"""The native layer on its own: function objects, classes and modules with
C++ bodies must look and behave like their Python counterparts."""
import gc
import inspect
import types
import weakref

import pytest

import _native_probe as probe


def frames_of(exc):
    names = []
    tb = exc.__traceback__
    while tb is not None:
        names.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    return names


def collect():
    for _ in range(3):
        gc.collect()


class TestBinding:
    def test_class_access_gives_the_function_and_instance_access_a_bound_method(self):
        child = probe.Child()
        assert probe.Child.greet is probe.Child.__dict__["greet"]
        bound = child.greet
        assert isinstance(bound, types.MethodType)
        assert bound.__self__ is child and bound.__func__ is probe.Child.greet
        assert bound() == "child+base"
        assert probe.Child.greet(child) == "child+base"

    def test_zero_argument_super_uses_the_defining_class(self):
        class Grandchild(probe.Child):
            def greet(self):
                return "grand+" + super().greet()

        assert Grandchild().greet() == "grand+child+base"

    def test_read_only_property(self):
        child = probe.Child()
        assert child.kind == "kind of Child"
        with pytest.raises(AttributeError):
            child.kind = "x"

    def test_names_and_module(self):
        assert probe.Child.greet.__name__ == "greet"
        assert probe.Child.greet.__qualname__ == "Child.greet"
        assert probe.Child.greet.__module__ == "_native_probe"
        assert probe.Child.__module__ == "_native_probe"
        assert probe.add.__doc__ is None
        assert repr(probe.add).startswith("<function add at 0x")
        assert probe.add.__globals__ is vars(probe)

    def test_attributes_behave_like_a_function_dict(self):
        probe.add.marker = 1
        assert probe.add.__dict__["marker"] == 1
        with pytest.raises(AttributeError):
            probe.add.__pyqtSignature__
        del probe.add.marker


class TestArguments:
    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda: probe.add(1), "add() missing 1 required positional argument: 'b'"),
            (lambda: probe.add(), "add() missing 2 required positional arguments: 'a' and 'b'"),
            (lambda: probe.typed(), "typed() missing 3 required positional arguments: 'text', 'items', and 'count'"),
            (lambda: probe.add(1, 2, 3), "add() takes 2 positional arguments but 3 were given"),
            (lambda: probe.read_global(1), "read_global() takes 0 positional arguments but 1 was given"),
            (lambda: probe.with_defaults(1, 2, 3, 4), "with_defaults() takes from 1 to 3 positional arguments but 4 were given"),
            (lambda: probe.add(1, a=2), "add() got multiple values for argument 'a'"),
            (lambda: probe.add(1, 2, x=3), "add() got an unexpected keyword argument 'x'"),
            (lambda: probe.Child().greet(1), "Child.greet() takes 1 positional argument but 2 were given"),
        ],
    )
    def test_binding_errors_read_as_cpython_writes_them(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message

    def test_binding_errors_carry_no_traceback_entry_of_the_function(self):
        # PyQt retries a slot with fewer arguments only for such errors.
        try:
            probe.add(1, 2, 3)
        except TypeError as exc:
            assert frames_of(exc) == ["test_binding_errors_carry_no_traceback_entry_of_the_function"]

    def test_keywords_and_defaults(self):
        assert probe.add(b=2, a=1) == 3
        assert probe.with_defaults(1) == (1, 2, None)
        assert probe.with_defaults(1, c=5) == (1, 2, 5)
        assert probe.with_defaults.__defaults__ == (2, None)

    @pytest.mark.parametrize(
        "args, name, got",
        [
            (("t", [], True), "count", "bool"),
            (("t", [], None), "count", "NoneType"),
            (("t", [], 1.0), "count", "float"),
            ((type("S", (str,), {})("t"), [], 1), "text", "S"),
            ((b"t", [], 1), "text", "bytes"),
            (("t", type("L", (list,), {})(), 1), "items", "L"),
            (("t", (), 1), "items", "tuple"),
        ],
    )
    def test_exact_type_parameters_reject_everything_else(self, args, name, got):
        with pytest.raises(TypeError) as info:
            probe.typed(*args)
        assert str(info.value) == f"Argument '{name}' has incorrect type (expected {name and {'text': 'str', 'items': 'list', 'count': 'int'}[name]}, got {got})"
        assert frames_of(info.value)[-1] == "typed"

    def test_exact_types_pass(self):
        assert probe.typed("t", ["a"], 3) == ("t", ["a"], 3)


class TestIntrospection:
    def test_signature_and_annotations(self):
        assert str(inspect.signature(probe.typed)) == "(text: 'str', items: 'list[str]', count: 'int') -> 'tuple[str, list, int]'"
        assert str(inspect.signature(probe.with_defaults)) == "(a, b=2, c=None)"
        assert str(inspect.signature(probe.Child().greet)) == "()"
        assert probe.Child.greet.__annotations__ == {}
        assert probe.typed.__annotations__["return"] == "tuple[str, list, int]"

    def test_code_object_has_the_true_argument_count(self):
        code = probe.Child.greet.__code__
        assert isinstance(code, types.CodeType)
        assert code.co_argcount == 1 and code.co_varnames == ("self",)
        assert code.co_name == "greet" and code.co_qualname == "Child.greet"
        assert code.co_flags & inspect.CO_OPTIMIZED and code.co_flags & inspect.CO_NEWLOCALS


class TestBodies:
    def test_body_errors_get_one_traceback_entry(self):
        with pytest.raises(ValueError) as info:
            probe.fail("x")
        names = frames_of(info.value)
        assert names.count("fail") == 1
        assert names[-1] == "fail"

    def test_globals_are_looked_up_at_call_time(self):
        with pytest.raises(NameError, match="name 'probe_value' is not defined"):
            probe.read_global()
        probe.probe_value = 7
        try:
            assert probe.read_global() == 7
        finally:
            del probe.probe_value
        assert probe.itertools.__name__ == "itertools"
        assert probe.path.__name__.endswith("path")


class TestCollection:
    def test_function_in_a_cycle_is_collected(self):
        cls = probe.make_recorder(object.__class__("Root", (), {"keyPressEvent": lambda self, ev: None}))
        func = cls.__dict__["on_change"]
        func.cycle = func
        ref = weakref.ref(func)
        del func, cls
        collect()
        assert ref() is None

    def test_class_and_instances_are_collected(self):
        base = type("Root", (), {"keyPressEvent": lambda self, ev: None})
        cls = probe.make_recorder(base)
        instance = cls()
        refs = [weakref.ref(cls), weakref.ref(instance)]
        del cls, instance
        collect()
        assert [r() for r in refs] == [None, None]


class TestQt:
    @pytest.fixture
    def recorder(self, qtbot):
        from tarvinel.stelvane.qt_compat import QtWidgets

        widget = probe.make_recorder(QtWidgets.QLineEdit)()
        qtbot.addWidget(widget)
        with qtbot.waitExposed(widget):
            widget.show()
        return widget

    def test_metaclass_of_the_bases_is_used(self, recorder):
        from tarvinel.stelvane.qt_compat import QtWidgets

        assert type(type(recorder)) is type(QtWidgets.QLineEdit)

    def test_virtual_override_is_reached_from_cpp(self, qtbot, recorder):
        qtbot.keyClicks(recorder, "ab")
        assert recorder.keys == ["a", "b"]
        assert recorder.text() == "ab"  # the base handler ran too

    def test_slot_taking_fewer_arguments_is_retried_without_them(self, qtbot, recorder):
        from tarvinel.stelvane.qt_compat import QtWidgets

        combo = QtWidgets.QComboBox()
        qtbot.addWidget(combo)
        combo.addItems(["a", "b"])
        combo.activated.connect(recorder.on_change)
        combo.activated.emit(1)
        assert recorder.keys == ["changed"]

    def test_slot_does_not_keep_its_instance_alive(self, qtbot):
        from tarvinel.stelvane.qt_compat import QtWidgets

        widget = probe.make_recorder(QtWidgets.QLineEdit)()
        button = QtWidgets.QPushButton()
        qtbot.addWidget(button)
        button.clicked.connect(widget.on_change)
        button.click()
        assert widget.keys == ["changed"]
        ref = weakref.ref(widget)
        del widget
        collect()
        assert ref() is None
        button.click()  # the connection went with the widget
