# Quick start: `make demo` and `make test`. Each installs what is missing first.
#
# `make test` runs every suite in turn; each suite below adds itself to
# TEST_SUITES and brings its own packages through cmake/install-deps.sh.
.PHONY: all deps build demo test clean test-native

TEST_SUITES := test-native

all: build

deps:
	@cmake/install-deps.sh base

build: deps
	cmake --preset dev
	cmake --build --preset dev

demo: build
	./build/dev/host/module_demo ./build/dev/quillmarups.so

# ---- Native unit and module tests ------------------------------------------------
test-native: build
	ctest --preset dev

# ---- Every suite -------------------------------------------------------------------
test:
	$(MAKE) $(TEST_SUITES)

clean:
	rm -rf build
