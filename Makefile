# Every target sets up what it needs from scratch: a fresh clone needs only Python 3.9+,
# a C++20 compiler and network access to PyPI.
PYTHON ?= python3
VENV   ?= .venv
SANVENV ?= .venv-sanitize
BENCHVENV ?= .venv-bench
PY      = $(VENV)/bin/python
PIP     = $(PY) -m pip --disable-pip-version-check -q

.PHONY: demo test dev test-sanitize test-numpy1 bench clean

$(VENV)/.ready: pyproject.toml
	$(PYTHON) -m venv $(VENV)
	$(PIP) install --upgrade pip
	$(PIP) install "scikit-build-core>=0.10" "numpy>=2.0" cmake ninja pytest matplotlib
	touch $@

# Editable install with an incremental build directory: a one-line change rebuilds one
# file on the next import-time rebuild or `make dev`.
dev: $(VENV)/.ready
	$(PIP) install --no-build-isolation -Ceditable.rebuild=true -Ceditable.verbose=false -Cbuild-dir=build/dev -e .

demo: dev
	$(PY) examples/demo.py

test: dev
	$(PY) -m pytest -q

# Same tests against a build with AddressSanitizer and UndefinedBehaviorSanitizer. The
# interpreter itself is not instrumented, so the ASan runtime is preloaded and leak
# checking (which would report the interpreter's own allocations) is off. A refused
# allocation must come back as null (our code turns it into MemoryError), not abort.
test-sanitize:
	$(PYTHON) -m venv $(SANVENV)
	$(SANVENV)/bin/python -m pip --disable-pip-version-check -q install "scikit-build-core>=0.10" "numpy>=2.0" cmake ninja pytest
	QUILLON_SANITIZE=ON $(SANVENV)/bin/python -m pip --disable-pip-version-check -q install \
	  --no-build-isolation -Cbuild-dir=build/sanitize -Ccmake.build-type=RelWithDebInfo .
	LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(SANVENV)/bin/python -m pytest -q -p no:cacheprovider

# The module is built against NumPy 2 headers; check the built wheel under NumPy 1.x too.
NP1VENV ?= .venv-numpy1
test-numpy1: $(VENV)/.ready
	rm -rf build/wheel-dist && $(PY) -m pip --disable-pip-version-check -q wheel \
	  --no-build-isolation --no-deps -Cbuild-dir=build/wheel -w build/wheel-dist .
	$(PYTHON) -m venv $(NP1VENV)
	$(NP1VENV)/bin/python -m pip --disable-pip-version-check -q install "numpy<2" pytest
	$(NP1VENV)/bin/python -m pip --disable-pip-version-check -q install --no-deps --force-reinstall build/wheel-dist/*.whl
	cd tests && ../$(NP1VENV)/bin/python -m pytest -q -p no:cacheprovider --rootdir=.. -c ../pyproject.toml .

bench:
	$(PYTHON) -m venv $(BENCHVENV)
	$(BENCHVENV)/bin/python -m pip --disable-pip-version-check -q install -r bench/requirements.txt
	$(BENCHVENV)/bin/python -m pip --disable-pip-version-check -q install --no-build-isolation -Cbuild-dir=build/bench .
	cd bench && for f in bench_*.py; do ../$(BENCHVENV)/bin/python $$f || exit 1; done

clean:
	rm -rf build $(VENV) $(SANVENV) $(BENCHVENV) $(NP1VENV)
