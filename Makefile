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

# upssim walks through every alarm state; smdhost polls it through the module
# for 20 cycles at 2400 bit/s (about 25 s) and shows each block and alarm change.
# Only what the demo runs is built (the module, the bench host with its host
# library, the simulator, the history tool), not the tests; gnuplot draws the
# picture (plot-deps below).
DEMO_TARGETS := quillmarups smdhost upssim smdhist

demo: deps
	cmake --preset dev
	cmake --build --preset dev --target $(DEMO_TARGETS)
	tools/smdhost/examples/demo.sh build/dev

# ---- Native unit and module tests ------------------------------------------------
test-native: build
	ctest --preset dev

# ---- Benchmarks ----------------------------------------------------------------------
# `make bench` measures; the test suite only builds them and runs each once.
TEST_SUITES += test-bench
.PHONY: bench bench-build bench-mipsel bench-mipsel-build test-bench

bench-build: deps
	@cmake/install-deps.sh bench plot
	cmake --preset bench
	cmake --build --preset bench

# history_bench runs smdhist on a history of a million blocks per output format
# (QUILL_HISTORY_BLOCKS=N for another length, QUILL_SMDHIST=PATH for another build).
# side_by_side_bench runs smdhost and NUT's nutdrv_qx side by side (about 14
# minutes; QUILL_SMDHOST_BASELINE=PATH adds another build of smdhost to each
# round; docs/performance.md tells more).
bench: bench-build
	./build/bench/bench/poll_cycle_bench --benchmark_repetitions=5 \
		--benchmark_report_aggregates_only=true
	./build/bench/bench/history_bench --benchmark_repetitions=3 \
		--benchmark_report_aggregates_only=true
	./build/bench/bench/nut_bench --benchmark_repetitions=5 \
		--benchmark_report_aggregates_only=true
	./build/bench/bench/side_by_side_bench --benchmark_repetitions=5 \
		--benchmark_report_aggregates_only=true

# The same benchmarks built for the board and run under qemu-mipsel: an
# indication of the instruction cost on the target, not a board timing.
BENCH_MIPSEL_RUN := qemu-mipsel -L /usr/mipsel-linux-gnu \
	-E LD_LIBRARY_PATH=$(CURDIR)/build/sysroot-mipsel/usr/lib/mipsel-linux-gnu \
	./build/bench-mipsel/bench/poll_cycle_bench

bench-mipsel-build: mipsel-deps
	cmake --preset bench-mipsel
	cmake --build --preset bench-mipsel

bench-mipsel: bench-mipsel-build
	$(BENCH_MIPSEL_RUN) --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

test-bench: bench-build bench-mipsel-build
	./build/bench/bench/poll_cycle_bench --benchmark_min_time=0
	QUILL_HISTORY_BLOCKS=20000 ./build/bench/bench/history_bench --benchmark_min_time=0
	./build/bench/bench/nut_bench --benchmark_min_time=0
	./build/bench/bench/side_by_side_tests --gtest_brief=1
	QUILL_SIDE_POLLS=1,2 ./build/bench/bench/side_by_side_bench --benchmark_filter=SideBySide/serving
	$(BENCH_MIPSEL_RUN) --benchmark_min_time=0

# ---- The board: 32-bit little-endian MIPS ------------------------------------------
# `make mipsel` builds the module for the controller's board into build/mipsel,
# with the tools a field engineer runs on the board; the suite builds everything
# for it, runs every test under qemu-mipsel, checks the symbols of both the
# native and the board's module and the board's module against its budget.
TEST_SUITES += test-mipsel
.PHONY: mipsel mipsel-deps test-mipsel

# The module's share of the board's flash, stripped.
MODULE_BUDGET_KB := 140

mipsel-deps:
	@cmake/install-deps.sh mipsel
	@cmake/fetch-mipsel-sysroot.sh build/sysroot-mipsel

mipsel: mipsel-deps
	cmake --preset mipsel
	cmake --build --preset mipsel --target quillmarups board_tools

test-mipsel: build mipsel-deps
	cmake --preset mipsel
	cmake --build --preset mipsel
	ctest --preset mipsel
	cmake/check-module-symbols.sh --host-symbols abi/host-symbols.txt build/dev/quillmarups.so
	cmake/check-module-symbols.sh --target mipsel --host-symbols abi/host-symbols.txt build/mipsel/quillmarups.so
	cmake/check-module-size.sh build/mipsel $(MODULE_BUDGET_KB)

# ---- Old board toolchains: the module's sources as C++11 ------------------------
# The module (not the tools) builds with -std=c++11 -pedantic -Werror for the
# build machine, where its unit tests and the loaded module run, and for the
# board.
TEST_SUITES += test-cxx11
.PHONY: test-cxx11

test-cxx11: deps mipsel-deps
	cmake --preset cxx11
	cmake --build --preset cxx11
	ctest --preset cxx11
	cmake --preset cxx11-mipsel
	cmake --build --preset cxx11-mipsel

# The figures of docs/board.md, written from the checks that print them
# (test-mipsel fails while the page says otherwise).
.PHONY: board-doc
board-doc: mipsel-deps
	cmake --preset mipsel
	cmake --build --preset mipsel --target quillmarups device_memory
	ctest --preset mipsel -R device_memory
	cmake/board-doc.sh build/mipsel

# ---- Reliability: sanitizers, valgrind, fuzzing, coverage ---------------------------
# The suite runs the unit tests and the fuzz corpus under ASan+UBSan (clang),
# the loaded module under valgrind, the fuzz targets side by side for
# FUZZ_TEST_SECONDS and the unit tests' coverage of the module's code. `make fuzz`
# fuzzes each target for FUZZ_SECONDS; `make coverage` also writes
# build/coverage/coverage.html.
# docs/reliability.md tells what each finds.
TEST_SUITES += test-asan test-valgrind test-fuzz test-coverage
.PHONY: test-asan test-valgrind fuzz-build fuzz test-fuzz fuzz-seeds coverage test-coverage

FUZZ_TARGETS := receive cache settings answer
FUZZ_SECONDS ?= 300
FUZZ_TEST_SECONDS ?= 30
# The module's code as the unit tests run it. Exception edges are left out by
# cmake/coverage-summary.py; docs/reliability.md lists what stays uncovered.
COVERAGE_DATA := build/coverage/CMakeFiles/quillmarups_objects.dir \
	build/coverage/tests/CMakeFiles/unit_tests.dir

test-asan: deps
	@cmake/install-deps.sh clang
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

test-valgrind: build
	@cmake/install-deps.sh valgrind
	valgrind --quiet --error-exitcode=1 --leak-check=full \
		--show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
		./build/dev/tests/module_load_test

fuzz-build: deps
	@cmake/install-deps.sh clang
	cmake --preset fuzz
	cmake --build --preset fuzz

fuzz: fuzz-build
	@for target in $(FUZZ_TARGETS); do \
		fuzz/run-fuzz.sh build/fuzz $$target $(FUZZ_SECONDS) || exit 1; done

# The targets fuzz side by side (each its own corpus and log), so the suite takes
# FUZZ_TEST_SECONDS once, not once per target.
test-fuzz: fuzz-build
	@pids=; for target in $(FUZZ_TARGETS); do \
		fuzz/run-fuzz.sh build/fuzz $$target $(FUZZ_TEST_SECONDS) --fresh & pids="$$pids $$!"; done; \
	failed=0; for pid in $$pids; do wait $$pid || failed=1; done; exit $$failed

# After a change to the protocol tables or the simulator's faults.
fuzz-seeds: fuzz-build
	./build/fuzz/fuzz/fuzz_seed_writer fuzz

coverage: deps
	@cmake/install-deps.sh coverage
	cmake --preset coverage
	cmake --build --preset coverage
	find build/coverage -name '*.gcda' -delete
	./build/coverage/tests/unit_tests --gtest_brief=1
	gcovr --root . --filter 'plugin/' --filter 'unidata/' --filter 'ups/' \
		--exclude-unreachable-branches --json build/coverage/coverage.json \
		--html-details build/coverage/coverage.html $(COVERAGE_DATA)
	python3 cmake/coverage-summary.py build/coverage/coverage.json \
		--fail-under-line 95 --fail-under-branch 90

test-coverage: coverage

# ---- Host declarations against the controller's headers ------------------------------
# `make abi-report` writes the layout report of framework/ for the build machine
# (build/dev/abi/) and for the board, and keeps the board's as the reference,
# abi/host-abi.mipsel.txt: run it after changing the host declarations on purpose.
# test-native and test-mipsel check the reference and abi/check-host-headers.sh.
.PHONY: abi-report

abi-report: build mipsel-deps
	cmake --preset mipsel
	cmake --build --preset mipsel --target abi_report
	cp build/mipsel/abi/host-abi.mipsel.txt abi/host-abi.mipsel.txt
	@ls build/dev/abi/host-abi.*.txt abi/host-abi.mipsel.txt

# ---- The history tool ----------------------------------------------------------------
# smdhist draws its pictures with gnuplot: the demo draws one and the native
# tests check them, so both bring the `plot` group. The native tests also hand
# its time series to Prometheus's promtool and a private InfluxDB (`tsdb`).
.PHONY: plot-deps tsdb-deps

plot-deps:
	@cmake/install-deps.sh plot

tsdb-deps:
	@cmake/install-deps.sh tsdb

demo test-native: plot-deps
test-native: tsdb-deps

# ---- Network UPS Tools -------------------------------------------------------------
# The bench host serves its devices to NUT's upsd, or runs as NUT's driver of
# one UPS (smdhost -a NAME); the native and ThreadSanitizer tests run Debian's
# upsd, upsdrvctl, upsc, upsmon and upsstats.cgi against it (each test its own
# upsd on a private folder and port). `make demo-nut` starts the demo's UPS with
# upsdrvctl and shows upsc as the demo runs; with
# DEMO_NUT_SCREENSHOT=$(CURDIR)/docs/nut-upsstats.png (as root, with nut-cgi and
# chromium) it draws the upsstats page of docs/nut.md again.
.PHONY: nut-deps demo-nut

nut-deps:
	@cmake/install-deps.sh nut

demo-nut: build nut-deps
	tools/smdhost/examples/demo-nut.sh build/dev

test-native test-tsan: nut-deps

# ---- Crashes and power losses -------------------------------------------------------
# The durability tests kill the bench host at each flush with strace and copy the
# image of a loop-mounted ext4 file system (made with mkfs.ext4) as a power loss.
.PHONY: crash-deps

crash-deps:
	@cmake/install-deps.sh crash

test-native test-tsan: crash-deps

# ---- The bench host under ThreadSanitizer -------------------------------------------
# smdhost, upssim and the module built with ThreadSanitizer (clang), and the
# end-to-end suite run with them, eight devices on eight lines included: any
# report fails its test. The soak runs with the native tests (label soak).
TEST_SUITES += test-tsan
.PHONY: test-tsan

test-tsan: deps
	@cmake/install-deps.sh clang
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

# ---- The emulated board: a whole mipsel system under qemu-system-mipsel ------------
# `make board-image` puts Debian's Malta kernel and an initramfs of Debian's mipsel
# packages, the module and the board's tools into build/board. The suite adds the
# unaligned-access probe, boots it, polls upssim's demo scenario from the board and
# compares the run with the build machine's; `make board` builds only the module,
# the board's tools and the native upssim, and boots it with a shell on the
# console. docs/board.md tells how.
TEST_SUITES += test-board
.PHONY: board board-image test-board board-probe

BOARD_IMAGE := build/board
# A bench host configuration to find in /etc/smdhost on the board, and what upssim plays.
BOARD_CONFIG ?=
BOARD_SCENARIO ?=

board-image: mipsel
	@cmake/install-deps.sh board
	board/make-image.sh build/mipsel $(BOARD_IMAGE) $(BOARD_CONFIG)

board-probe: mipsel
	cmake --build --preset mipsel --target unaligned_probe

test-board: build board-probe board-image
	./build/dev/tests/board/board_tests $(BOARD_IMAGE)

board: deps board-image
	cmake --preset dev
	cmake --build --preset dev --target upssim
	board/shell.sh $(BOARD_IMAGE) build/dev/bin/upssim $(BOARD_SCENARIO)

# ---- Releases ----------------------------------------------------------------------
# `make package` writes build/packages: the board's archive and its debug files,
# the Debian packages of the module and the tools for the build machine and the
# board, and SHA256SUMS, from release builds (build/release, build/release-mipsel:
# stripped, debug files apart, no tests). It refuses a version NEWS.md does not
# name. `make test-package` checks them: lintian on each package, the build
# machine's packages installed into a throwaway root and run, and the whole
# release made again from a clone of the commit in another folder, which must
# give the same bytes (a clean checkout only). Neither is part of `make test`.
.PHONY: package package-deps test-package

package-deps:
	@cmake/install-deps.sh base package

package: package-deps mipsel-deps
	package/news-to-changelog.sh --check .
	cmake --preset release
	cmake --build --preset release
	cmake --preset release-mipsel
	cmake --build --preset release-mipsel
	package/make-packages.sh build/packages build/release build/release-mipsel

test-package: package
	package/check-packages.sh build/packages
	package/check-reproducible.sh build/packages

# ---- Every suite -------------------------------------------------------------------
test:
	$(MAKE) $(TEST_SUITES)

clean:
	rm -rf build
