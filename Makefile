# Quick start: `make demo` runs the demo, `make test` runs the test suite. Both create .venv
# with a Python >= 3.13 (override with PYTHON=...), install the build and test dependencies
# from PyPI, and (re)build the extension only when a source file changed. The demo adds its own
# plotting dependency (the `demo` extra) to .venv; the test suite never needs it.

VENV := .venv
BIN := $(VENV)/bin
SOURCES := $(shell find src python cmake -name '*.cpp' -o -name '*.hpp' -o -name '*.def' -o -name '*.in' -o -name '*.map' -o -name '*.py' -o -name '*.pyi') CMakeLists.txt pyproject.toml

.PHONY: demo test test-clang bench compare build sanitize tsan free-threaded free-threaded-tsan package-check clean

demo: $(VENV)/.built $(VENV)/.demo-ready
	$(BIN)/python demo/demo.py

$(VENV)/.demo-ready: $(VENV)/.ready pyproject.toml
	$(BIN)/python -m pip install --quiet --prefer-binary $$($(BIN)/python tools/build_requires.py demo)
	touch $@

test: $(VENV)/.built
	$(BIN)/python -m pytest $(PYTEST_ARGS)

bench: $(VENV)/.built
	$(BIN)/python bench/run.py $(BENCH_ARGS)

build: $(VENV)/.built

# Ours against tslearn, dtaidistance, aeon, pymoo and moocore, side by side in one process. The
# other libraries live only in a venv of their own, never in .venv; COMPARE_ARGS is passed on
# (--workers 1, --quick, --markdown, --only NAME).
CMP_VENV := .venv-compare
compare: $(CMP_VENV)/.built
	$(CMP_VENV)/bin/python bench/compare.py $(COMPARE_ARGS)

$(CMP_VENV)/.ready: bench/compare-requirements.txt pyproject.toml
	@test -x $(CMP_VENV)/bin/python || { py="$${PYTHON:-$$(tools/find-python.sh)}" && "$$py" -m venv $(CMP_VENV); }
	$(CMP_VENV)/bin/python -m pip install --quiet --upgrade pip
	$(CMP_VENV)/bin/python -m pip install --quiet --prefer-binary cmake ninja $$($(CMP_VENV)/bin/python tools/build_requires.py) \
		-r bench/compare-requirements.txt
	touch $@

$(CMP_VENV)/.built: $(CMP_VENV)/.ready $(SOURCES)
	$(CMP_VENV)/bin/python -m pip install --quiet --no-build-isolation --no-deps .
	touch $@

# The whole suite against a build with AddressSanitizer and UndefinedBehaviorSanitizer. The
# ASan runtime is preloaded into the ordinary interpreter; leak detection stays off because
# the interpreter itself keeps memory until exit.
SANITIZE_DIR := build/sanitize
sanitize: $(VENV)/.built
	$(BIN)/cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(BIN)/ninja) \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUST_CORE_SANITIZE=ON -DPython_EXECUTABLE=$(abspath $(BIN)/python) >/dev/null
	$(BIN)/cmake --build $(SANITIZE_DIR)
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		LD_PRELOAD="$$($(CXX) -print-file-name=libasan.so) $$($(CXX) -print-file-name=libstdc++.so)" PYTHONPATH=$(abspath $(SANITIZE_DIR)) \
		$(BIN)/python -m pytest -p no:cacheprovider $(PYTEST_ARGS)

# The worker pool and the parallel kernels driven from several threads at once (including
# failures in workers, cancellation and fork) by a C++ program built with ThreadSanitizer.
# A forked child of the threaded driver creates threads of its own: die_after_fork=0 allows it.
TSAN_DIR := build/tsan
tsan: $(VENV)/.ready
	$(BIN)/cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(BIN)/ninja) \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUST_CORE_TSAN=ON -DPython_EXECUTABLE=$(abspath $(BIN)/python) >/dev/null
	$(BIN)/cmake --build $(TSAN_DIR) --target pool_stress
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:die_after_fork=0 RAYON_NUM_THREADS=3 $(TSAN_DIR)/pool_stress

$(VENV)/.ready: pyproject.toml
	@test -x $(BIN)/python || { py="$${PYTHON:-$$(tools/find-python.sh)}" && "$$py" -m venv $(VENV); }
	$(BIN)/python -m pip install --quiet --upgrade pip
	$(BIN)/python -m pip install --quiet cmake ninja $$($(BIN)/python tools/build_requires.py)
	touch $@

$(VENV)/.built: $(VENV)/.ready $(SOURCES)
	$(BIN)/python -m pip install --quiet --no-build-isolation ".[test]"
	touch $@

# The whole suite against a build by clang: zig's, from PyPI, in a venv of its own, through a
# wrapper that CMake takes as the compiler. The native checks of the suite are built with it too
# (CXX). Both compilers must give the same bits.
CLANG_VENV := .venv-clang
CLANG_CXX := $(abspath $(CLANG_VENV))/bin/zig-c++
test-clang: $(CLANG_VENV)/.built
	CXX=$(CLANG_CXX) $(CLANG_VENV)/bin/python -m pytest -p no:cacheprovider $(PYTEST_ARGS)

$(CLANG_VENV)/.ready: pyproject.toml
	@test -x $(CLANG_VENV)/bin/python || { py="$${PYTHON:-$$(tools/find-python.sh)}" && "$$py" -m venv $(CLANG_VENV); }
	$(CLANG_VENV)/bin/python -m pip install --quiet --upgrade pip
	$(CLANG_VENV)/bin/python -m pip install --quiet cmake ninja ziglang $$($(CLANG_VENV)/bin/python tools/build_requires.py)
	printf '#!/bin/sh\nexec "$$(dirname "$$0")/python" -m ziglang c++ "$$@"\n' > $(CLANG_CXX)
	chmod +x $(CLANG_CXX)
	touch $@

$(CLANG_VENV)/.built: $(CLANG_VENV)/.ready $(SOURCES)
	$(CLANG_VENV)/bin/python -m pip install --quiet --no-build-isolation -C build-dir=build/clang \
		-C cmake.define.CMAKE_CXX_COMPILER=$(CLANG_CXX) ".[test]"
	touch $@

# The concurrency and frame tests under a free-threaded interpreter (built once from source
# into a cache folder by tools/free-threaded-python.sh, a few minutes on two cores).
FT_VENV := .venv-ft
free-threaded:
	@test -x $(FT_VENV)/bin/python || { py=$$(tools/free-threaded-python.sh) && "$$py" -m venv $(FT_VENV); }
	$(FT_VENV)/bin/python -m pip install --quiet cmake ninja $$($(FT_VENV)/bin/python tools/build_requires.py)
	$(FT_VENV)/bin/python -m pip install --quiet --prefer-binary pytest pytest-timeout hypothesis
	$(FT_VENV)/bin/python -m pip install --quiet --no-build-isolation --no-deps .
	$(FT_VENV)/bin/python -m pytest -p no:cacheprovider tests/test_concurrency.py tests/test_frame.py $(PYTEST_ARGS)

# The same tests under a free-threaded CPython built with ThreadSanitizer, with the module built
# with it too (NumPy is the ordinary wheel). CPython's own suppressions cover its known reports;
# installing runs with reports off, since pip meets races of the interpreter's own.
FT_TSAN_VENV := .venv-ft-tsan
FT_TSAN_QUIET := TSAN_OPTIONS=report_bugs=0
free-threaded-tsan:
	@test -x $(FT_TSAN_VENV)/bin/python || { py=$$(tools/free-threaded-python.sh --thread-sanitizer) && $(FT_TSAN_QUIET) "$$py" -m venv $(FT_TSAN_VENV); }
	$(FT_TSAN_QUIET) $(FT_TSAN_VENV)/bin/python -m pip install --quiet --prefer-binary cmake ninja $$($(FT_TSAN_VENV)/bin/python tools/build_requires.py)
	$(FT_TSAN_QUIET) $(FT_TSAN_VENV)/bin/python -m pip install --quiet --prefer-binary pytest pytest-timeout hypothesis
	$(FT_TSAN_QUIET) $(FT_TSAN_VENV)/bin/python -m pip install --quiet --no-build-isolation --no-deps -C build-dir=build/ft-tsan \
		-C cmake.define.CMAKE_CXX_FLAGS=-fsanitize=thread -C cmake.define.CMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread \
		-C cmake.define.RUST_CORE_STATIC_LIBSTDCXX=OFF .
	TSAN_OPTIONS="halt_on_error=1:die_after_fork=0:suppressions=$$(dirname $$(readlink -f $(FT_TSAN_VENV)/bin/python))/Tools/tsan/suppressions_free_threading.txt" \
		$(FT_TSAN_VENV)/bin/python -m pytest -p no:cacheprovider tests/test_concurrency.py tests/test_frame.py $(PYTEST_ARGS)

# Builds the sdist and wheel with PyPI's build, repairs the wheel to a manylinux tag and
# installs each into a fresh venv under build/package-check to call every function there.
package-check:
	tools/check-package.sh

clean:
	rm -rf build $(VENV) $(CLANG_VENV) $(FT_VENV) $(FT_TSAN_VENV) $(CMP_VENV)
