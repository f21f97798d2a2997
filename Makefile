# Quick start: `make demo` runs the demo, `make test` runs the test suite. Both create .venv
# with a Python >= 3.13 (override with PYTHON=...), install the build and test dependencies
# from PyPI, and (re)build the extension only when a source file changed.

VENV := .venv
BIN := $(VENV)/bin
SOURCES := $(shell find src -name '*.cpp' -o -name '*.hpp' -o -name '*.map') CMakeLists.txt pyproject.toml

.PHONY: demo test bench build clean

demo: $(VENV)/.built
	$(BIN)/python demo/demo.py

test: $(VENV)/.built
	$(BIN)/python -m pytest $(PYTEST_ARGS)

bench: $(VENV)/.built
	$(BIN)/python bench/run.py $(BENCH_ARGS)

build: $(VENV)/.built

$(VENV)/.ready: pyproject.toml
	@test -x $(BIN)/python || { py="$${PYTHON:-$$(tools/find-python.sh)}" && "$$py" -m venv $(VENV); }
	$(BIN)/python -m pip install --quiet --upgrade pip
	$(BIN)/python -m pip install --quiet cmake ninja $$($(BIN)/python tools/build_requires.py)
	touch $@

$(VENV)/.built: $(VENV)/.ready $(SOURCES)
	$(BIN)/python -m pip install --quiet --no-build-isolation ".[test]"
	touch $@

clean:
	rm -rf build $(VENV)
