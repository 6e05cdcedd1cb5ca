# Development tasks: system packages, venv, native build, tests, benchmarks, demo.
#
#   make deps                  Debian packages for Xvfb, the clipboard and the Qt wheels
#   make build                 venv + pinned requirements + C++ modules into the source tree
#   make test                  deps + build + pytest under Xvfb
#   make bench                 deps + build + every bench/*.py under xvfb-run
#   make demo                  deps + build + the demo application
#   make cursors-png           docs/cursors.png: the measuring cursors over the demo, under Xvfb
#   make check                 the test suite against modules built with ASan and UBSan
#   make wheel                 an sdist and manylinux wheels for WHEEL_PYTHONS into dist/
#   make wheel-smoke           the wheel for Python 3.12, installed and run outside the tree
#   make clean / distclean     build products / build products and the venv
#
# Variables: PYTHON (interpreter the venv is made from), VENV (venv directory),
# QT_API (pyside6, the default, pyqt5 or pyqt6), PYTEST_ARGS, JOBS, CMAKE_ARGS,
# WHEEL_PYTHONS (the versions make wheel builds for: 3.11 3.12 3.13).
#   make build PYTHON=/root/.pyenv/versions/3.11.7/bin/python3.11 VENV=.venv311
#   make test QT_API=pyqt5

SHELL := /bin/bash
.DEFAULT_GOAL := build

PYTHON ?= $(or $(shell ls -d /root/.pyenv/versions/3.12.*/bin/python3.12 2>/dev/null | sort -V | tail -n 1),$(shell command -v python3.12))
VENV ?= .venv
QT_API ?= pyside6
PYTEST_ARGS ?= -q
JOBS ?= 2
CMAKE_ARGS ?=

# Accept any spelling (QT_API=PySide6); the rest of the tree sees lower case.
override QT_API := $(shell printf '%s' '$(QT_API)' | tr '[:upper:]' '[:lower:]')
QT_APIS := pyqt5 pyqt6 pyside6
ifeq ($(filter $(QT_API),$(QT_APIS)),)
$(error QT_API=$(QT_API) is not supported; use one of: $(QT_APIS))
endif
export QT_API

VPY := $(VENV)/bin/python
BUILD_DIR := build/$(notdir $(abspath $(VENV)))

# Each binding comes from its own requirements file (requirements/qt-<api>.txt).
DEV_STAMP := $(VENV)/.installed-dev
QT_STAMP := $(VENV)/.installed-qt-$(QT_API)
PTH_FILE := _tarvinel_source_tree.pth

# Xvfb and its xauth, xclip for the clipboard, and what the xcb platform plugin
# and Qt GUI libraries of the PyQt5/PyQt6/PySide6 wheels load; the MQTT broker
# and openssl, which the transport tests start and make certificates with;
# the tools whose output the reader's tests read: sysstat (iostat, mpstat,
# sar), procps (top, vmstat, ps), coreutils (df), iputils-ping, iproute2 (nstat,
# ip), dstat.
DEB_PACKAGES := xvfb xauth xclip mosquitto openssl \
	libx11-6 libx11-xcb1 libxext6 libxcb1 libxcb-cursor0 libxcb-glx0 libxcb-icccm4 \
	libxcb-image0 libxcb-keysyms1 libxcb-randr0 libxcb-render0 libxcb-render-util0 \
	libxcb-shape0 libxcb-shm0 libxcb-sync1 libxcb-util1 libxcb-xfixes0 libxcb-xinerama0 \
	libxcb-xkb1 libxkbcommon0 libxkbcommon-x11-0 \
	libegl1 libgl1 libopengl0 libglib2.0-0 libfontconfig1 libfreetype6 fonts-dejavu-core \
	libdbus-1-3 \
	sysstat procps coreutils iputils-ping iproute2 dstat

XVFB_RUN := xvfb-run -a -s "-screen 0 1280x1024x24"

.PHONY: deps venv build test check bench demo cursors-png wheel wheel-smoke clean distclean

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do \
	    [ "$$(dpkg-query -W -f='$${db:Status-Status}' "$$p" 2>/dev/null)" = installed ] || echo "$$p"; \
	  done); \
	if [ -n "$$missing" ]; then \
	  sudo=; [ "$$(id -u)" = 0 ] || sudo=sudo; \
	  echo "Installing Debian packages:" $$missing; \
	  $$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	  $$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(VENV)/pyvenv.cfg:
	@test -n "$(PYTHON)" || { echo "No Python 3.12 found; pass PYTHON=/path/to/python3.x" >&2; exit 1; }
	$(PYTHON) -m venv $(VENV)

# A stamp per requirements file: requirements/NAME.txt installed into the venv.
PIP_INSTALL = $(VPY) -m pip install --disable-pip-version-check -q --only-binary=:all: -r

$(DEV_STAMP): requirements/dev.txt requirements/runtime.txt requirements/native.txt | $(VENV)/pyvenv.cfg
	$(PIP_INSTALL) requirements/dev.txt
	@touch $@

$(VENV)/.installed-%: requirements/%.txt $(DEV_STAMP)
	$(PIP_INSTALL) $<
	@touch $@

# The venv imports the package from this tree: a .pth file naming the repo
# root is the development install (rewritten if the tree moved).
venv: $(DEV_STAMP) $(QT_STAMP)
ifeq ($(origin PYTHON),command line)
	@want=$$($(PYTHON) -c 'import sys; print(sys.version_info[:2])'); \
	have=$$($(VPY) -c 'import sys; print(sys.version_info[:2])'); \
	[ "$$want" = "$$have" ] || { echo "$(VENV) was made with Python $$have, not $$want: pick another VENV or make distclean" >&2; exit 1; }
endif
	@site=$$($(VPY) -c 'import sysconfig; print(sysconfig.get_path("purelib"))'); \
	if [ "$$(cat "$$site/$(PTH_FILE)" 2>/dev/null)" != "$(CURDIR)" ]; then \
	  echo "$(CURDIR)" > "$$site/$(PTH_FILE)"; \
	fi

# Configure again whenever the venv or its requirements changed; ninja itself
# re-runs CMake when CMakeLists.txt changes.
$(BUILD_DIR)/build.ninja: $(VENV)/pyvenv.cfg $(DEV_STAMP)
	$(VENV)/bin/cmake -S . -B $(BUILD_DIR) -G Ninja \
	  -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	  -DPython_EXECUTABLE=$(abspath $(VPY)) \
	  -Dpybind11_DIR="$$($(VPY) -m pybind11 --cmakedir)" \
	  $(CMAKE_ARGS)

build: venv $(BUILD_DIR)/build.ninja
	$(VENV)/bin/cmake --build $(BUILD_DIR) -j$(JOBS)

test: deps build
	$(VPY) -m pytest $(PYTEST_ARGS)

# The sanitizer build goes into a copy of the tree (build/check/tree), so the
# regular modules in the source tree stay as they are. The interpreter itself is
# not instrumented: the runtimes are preloaded into it. Leak reports are off
# because the interpreter and Qt keep memory until exit by design; the leak
# tests in the suite watch our own allocations instead. Instrumented frames are
# several times larger: the recursion-limit tests (a native call per Python
# frame, a thousand deep) need more than the usual 8 MB of stack.
CHECK_TREE := build/check/tree
CHECK_BUILD := build/check/$(notdir $(abspath $(VENV)))
SANITIZE := -fsanitize=address,undefined -fno-sanitize-recover=undefined
SAN_PRELOAD = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libubsan.so)

check: deps venv
	rm -rf $(CHECK_TREE) && mkdir -p $(CHECK_TREE)
	tar -c --exclude='*.so' --exclude=__pycache__ tarvinel twins tests bench examples pyproject.toml README.md | tar -x -C $(CHECK_TREE)
	$(VENV)/bin/cmake -S . -B $(CHECK_BUILD) -G Ninja \
	  -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPython_EXECUTABLE=$(abspath $(VPY)) \
	  -Dpybind11_DIR="$$($(VPY) -m pybind11 --cmakedir)" \
	  -DSTELVANE_SANITIZE="$(SANITIZE)" -DSTELVANE_TREE=$(abspath $(CHECK_TREE)) $(CMAKE_ARGS)
	$(VENV)/bin/cmake --build $(CHECK_BUILD) -j$(JOBS)
	cd $(CHECK_TREE) && ulimit -s 65536 && PYTHONPATH=$(abspath $(CHECK_TREE)) \
	  LD_PRELOAD="$(SAN_PRELOAD)" \
	  ASAN_OPTIONS=detect_leaks=0:halt_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(abspath $(VPY)) -m pytest -p no:cacheprovider $(PYTEST_ARGS)

BENCH_STAMP := $(VENV)/.installed-bench

# Every bench/*.py is a benchmark; what they share (the harness package, with
# the row sender they start in a process of their own) is in bench/harness/.
BENCHES := $(sort $(wildcard bench/*.py))

bench: deps build $(BENCH_STAMP)
	@for b in $(BENCHES); do \
	  echo "== $$b"; \
	  $(XVFB_RUN) $(VPY) "$$b" || exit 1; \
	done

demo: deps build
	@if [ -n "$$DISPLAY" ]; then \
	  $(VPY) -m tarvinel.stelvane; \
	else \
	  mkdir -p docs; \
	  STELVANE_SCREENSHOT=docs/screenshot.png STELVANE_RUN_SECONDS=6 \
	    $(XVFB_RUN) $(VPY) -m tarvinel.stelvane --fresh; \
	fi

# The README's picture of the cursors: the demo with a limit line, cursors A
# and B put down and the plots paused (docs/cursors_screenshot.py).
cursors-png: deps build
	mkdir -p docs
	$(XVFB_RUN) $(VPY) docs/cursors_screenshot.py docs/cursors.png

# Wheels: the sdist first, then a wheel per Python built from it (what is not
# in the sdist cannot reach a wheel), each repaired by auditwheel to the
# manylinux tag its symbols allow. Each Python gets a build venv of its own
# with the pinned native build and tools (requirements/wheel.txt).
WHEEL_PYTHONS ?= 3.11 3.12 3.13
DIST ?= dist
WHEEL_BUILD := build/wheel
PACKAGE_VERSION := $(shell sed -n 's/^version = "\(.*\)"/\1/p' pyproject.toml)
SDIST := $(DIST)/tarvinel_stelvane-$(PACKAGE_VERSION).tar.gz
python_of = $(or $(shell ls -d /root/.pyenv/versions/$(1).*/bin/python$(1) 2>/dev/null | sort -V | tail -n 1),$(shell command -v python$(1)))

$(WHEEL_BUILD)/venv-%/.installed: requirements/wheel.txt requirements/native.txt
	@python="$(call python_of,$*)"; \
	test -n "$$python" || { echo "No Python $* found: set WHEEL_PYTHONS" >&2; exit 1; }; \
	rm -rf $(@D) && "$$python" -m venv $(@D)
	$(@D)/bin/python -m pip install --disable-pip-version-check -q --only-binary=:all: -r requirements/wheel.txt
	@touch $@

wheel: $(foreach version,$(WHEEL_PYTHONS),$(WHEEL_BUILD)/venv-$(version)/.installed)
	rm -rf $(WHEEL_BUILD)/raw $(DIST)/tarvinel_stelvane-*
	$(WHEEL_BUILD)/venv-$(firstword $(WHEEL_PYTHONS))/bin/python -m build --sdist --no-isolation --outdir $(DIST) .
	@for version in $(WHEEL_PYTHONS); do \
	  venv=$(WHEEL_BUILD)/venv-$$version; raw=$(WHEEL_BUILD)/raw/$$version; \
	  echo "== wheel for Python $$version"; \
	  start=$$(date +%s); \
	  PATH="$(CURDIR)/$$venv/bin:$$PATH" $$venv/bin/python -m pip wheel --disable-pip-version-check -q \
	    --no-build-isolation --no-deps -w $$raw $(SDIST) || exit 1; \
	  PATH="$(CURDIR)/$$venv/bin:$$PATH" $$venv/bin/auditwheel repair -w $(DIST) $$raw/*.whl || exit 1; \
	  echo "Python $$version: $$(( $$(date +%s) - start )) s"; \
	done
	@ls -l $(DIST)

# The smoke test of the default Python's wheel (built into build/wheel/smoke,
# dist/ stays as it is): a fresh venv outside the tree installs it, binaries
# only and the dependencies at the versions the tests use, and the installed
# command reads a file and makes a video (the [video] extra).
SMOKE_DIST := $(WHEEL_BUILD)/smoke
wheel-smoke:
	$(MAKE) wheel WHEEL_PYTHONS=3.12 DIST=$(SMOKE_DIST)
	$(WHEEL_BUILD)/venv-3.12/bin/python .ci/wheel-smoke $(SMOKE_DIST)/tarvinel_stelvane-$(PACKAGE_VERSION)-cp312-*.whl \
	  --python $(WHEEL_BUILD)/venv-3.12/bin/python --video \
	  --constraint requirements/dev.txt --constraint requirements/qt-pyside6.txt

clean:
	rm -rf build .pytest_cache .hypothesis dist
	rm -f tarvinel/stelvane/*.so tests/native/*.so
	find . -name __pycache__ -type d -not -path './.venv*' -prune -exec rm -rf {} +

distclean: clean
	rm -rf $(VENV)
