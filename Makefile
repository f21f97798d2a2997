# Quick start: `make demo` runs the demo, `make test` runs the test suite. Both create .venv
# with a Python >= 3.13 (override with PYTHON=...), install the build and test dependencies
# from PyPI, and (re)build the extension only when a source file changed. The demo adds its own
# plotting dependency (the `demo` extra) to .venv; the test suite never needs it.

VENV := .venv
BIN := $(VENV)/bin
SOURCES := $(shell find src python cmake -name '*.cpp' -o -name '*.hpp' -o -name '*.def' -o -name '*.in' -o -name '*.map' -o -name '*.py' -o -name '*.pyi') CMakeLists.txt pyproject.toml

.PHONY: demo test test-clang bench compare build sanitize tsan free-threaded free-threaded-tsan wheels package-check \
	test-aarch64 clean

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
# the interpreter itself keeps memory until exit. A sanitizer writes its report to file
# descriptor 2 and ends the process: --capture=sys leaves that descriptor to the log.
SANITIZE_DIR := build/sanitize
sanitize: $(VENV)/.built
	$(BIN)/cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(BIN)/ninja) \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUST_CORE_SANITIZE=ON -DPython_EXECUTABLE=$(abspath $(BIN)/python) >/dev/null
	$(BIN)/cmake --build $(SANITIZE_DIR)
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		LD_PRELOAD="$$($(CXX) -print-file-name=libasan.so) $$($(CXX) -print-file-name=libstdc++.so)" PYTHONPATH=$(abspath $(SANITIZE_DIR)) \
		$(BIN)/python -m pytest -p no:cacheprovider --capture=sys $(PYTEST_ARGS)

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

# The suite under CPython 3.14 or 3.15 (make test-3.14, make test-3.15), Debian sid's binary
# packages unpacked once into ~/.cache/tsmoo-kernels, each in a venv of its own (.venv-3.14, ...).
test-3.%:
	tools/test-python.sh 3.$* $(PYTEST_ARGS)

# The concurrency and frame tests under a free-threaded interpreter (built once from Debian's
# source package into a cache folder by tools/debian-python.sh, a few minutes on two cores);
# FT_VERSION picks the version.
FT_VERSION := 3.13
free-threaded:
	tools/test-python.sh --free-threaded $(FT_VERSION) tests/test_concurrency.py tests/test_frame.py $(PYTEST_ARGS)

# The same tests under a free-threaded CPython built with ThreadSanitizer, with the module built
# with it too (NumPy is the ordinary wheel). CPython's own suppressions cover its known reports;
# installing runs with reports off, since pip meets races of the interpreter's own.
FT_TSAN_VENV := .venv-ft-tsan
FT_TSAN_QUIET := TSAN_OPTIONS=report_bugs=0
free-threaded-tsan:
	@py=$$(tools/debian-python.sh --thread-sanitizer) && { test -x $(FT_TSAN_VENV)/bin/python || $(FT_TSAN_QUIET) "$$py" -m venv $(FT_TSAN_VENV); }
	$(FT_TSAN_QUIET) $(FT_TSAN_VENV)/bin/python -m pip install --quiet --prefer-binary cmake ninja $$($(FT_TSAN_VENV)/bin/python tools/build_requires.py)
	$(FT_TSAN_QUIET) $(FT_TSAN_VENV)/bin/python -m pip install --quiet --prefer-binary pytest pytest-timeout hypothesis
	$(FT_TSAN_QUIET) $(FT_TSAN_VENV)/bin/python -m pip install --quiet --no-build-isolation --no-deps -C build-dir=build/ft-tsan \
		-C cmake.define.CMAKE_CXX_FLAGS=-fsanitize=thread -C cmake.define.CMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread \
		-C cmake.define.RUST_CORE_STATIC_LIBSTDCXX=OFF .
	TSAN_OPTIONS="halt_on_error=1:die_after_fork=0:suppressions=$$(dirname $$(readlink -f $(FT_TSAN_VENV)/bin/python))/Tools/tsan/suppressions_free_threading.txt" \
		$(FT_TSAN_VENV)/bin/python -m pytest -p no:cacheprovider --capture=sys tests/test_concurrency.py tests/test_frame.py $(PYTEST_ARGS)

# The sdist and the manylinux_2_28 wheels (x86-64: WHEEL_TAGS, aarch64: AARCH64_WHEEL_TAGS) in
# dist/, compiled by zig's clang against glibc 2.28's symbols and checked (tools/build-wheels.sh).
wheels:
	tools/build-wheels.sh

# Checks what `make wheels` wrote: contents and metadata, each x86-64 wheel installed into a fresh
# venv of its interpreter and called, the whole suite against the cp313 wheel, the kernel tests
# against the aarch64 wheel under emulation, and the sdist built by pip (tools/check-package.sh).
package-check:
	tools/check-package.sh

# Every kernel's bit-exact tests and the workload hashes on aarch64, cross-built with Debian's
# g++-aarch64-linux-gnu and run by Debian's arm64 Python 3.13 under qemu-aarch64
# (tools/test-aarch64.sh); the x86-64 hashes they must equal come from .venv first.
test-aarch64: $(VENV)/.built
	tools/test-aarch64.sh

clean:
	rm -rf build dist $(VENV) $(CLANG_VENV) .venv-3.* $(FT_TSAN_VENV) $(CMP_VENV)
