# Quick start: `make demo` and `make test`. Each installs what is missing first.
.PHONY: all deps build demo test clean

all: build

deps:
	@cmake/install-deps.sh base

build: deps
	cmake --preset dev
	cmake --build --preset dev

demo: build
	./build/dev/host/module_demo ./build/dev/quillmarups.so

test: build
	ctest --preset dev

clean:
	rm -rf build
