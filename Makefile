# Thin wrappers for newcomers. Everything is built in ./build.
BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

.PHONY: deps configure build run test bench measure install clean test-sanitize fuzz

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	./$(BUILD)/huelens

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Benchmarks, in their own folder and never part of `make test`: the scopes
# against ffmpeg's scope filters on the same frames, then every stage of the
# refresh cycle (bench/run-bench.sh). `make measure`: the real program's
# processor share and memory while it captures on Xvfb (bench/measure-cycle.sh).
BENCH_BUILD ?= build-bench
BENCH_TARGETS = huelens huelens-render huelens-bench-frames huelens-bench-painter huelens-bench-idle \
	bench_scopes bench_capture bench_cycle bench_cycle_x11

bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHUELENS_BENCHMARKS=ON
	cmake --build $(BENCH_BUILD) -j$(JOBS) --target $(BENCH_TARGETS)
	bash bench/run-bench.sh $(BENCH_BUILD)

measure: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHUELENS_BENCHMARKS=ON
	cmake --build $(BENCH_BUILD) -j$(JOBS) --target $(BENCH_TARGETS)
	bash bench/measure-cycle.sh $(BENCH_BUILD)

clean:
	rm -rf $(BUILD)

# Every test again, built with AddressSanitizer and UndefinedBehaviorSanitizer
# in its own folder; a single report fails the run. Leaks are checked too,
# with only third-party libraries suppressed (tests/sanitize/lsan.supp).
SANITIZE_BUILD ?= build-sanitize
SANITIZE_ENV = ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize/lsan.supp:print_suppressions=0 \
	QT_XCB_GL_INTEGRATION=none QT_WAYLAND_CLIENT_BUFFER_INTEGRATION=none
# (Huelens draws without OpenGL. Qt's GLX probe loads Mesa's swrast_dri.so,
# which leaks 128 bytes and is unloaded before LeakSanitizer reports, so no
# suppression can name it: any window shown on Xvfb failed the run. Qt's
# Wayland platform loads Mesa's EGL for its wayland-egl buffers the same way;
# with no such integration it draws into shared memory, as Huelens wants.)

test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHUELENS_SANITIZE=ON
	cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	cd $(SANITIZE_BUILD) && $(SANITIZE_ENV) ctest --output-on-failure -j$(JOBS)

# libFuzzer targets (clang): each runs FUZZ_SECONDS on its seed corpus in fuzz/corpus.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

fuzz: deps
	CC=clang CXX=clang++ cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The Windows program, cross-built with mingw-w64 against Qt, OpenCV and
# LittleCMS built here from Debian's source packages (once, into
# /var/cache/huelens-windows: scripts/build-windows-deps.sh). `make windows`
# leaves the portable zip and the installer in dist/ (scripts/build-windows.sh);
# `make test-windows` also builds the Windows tests and runs them under Wine
# on a private Xvfb: the unit tests, the back-end's own test, the installed
# program driven as a user would, and its pictures against the Linux
# renderer's (tests/windows/run-tests.sh). Installs its own packages (Wine is
# large, so only these targets ask for them).
WINDOWS_BUILD ?= build-windows
.PHONY: windows test-windows
windows:
	bash scripts/install-deps.sh --windows
	BUILD_WINDOWS=$(WINDOWS_BUILD) bash scripts/build-windows.sh

test-windows: build
	bash scripts/install-deps.sh --windows
	BUILD_WINDOWS=$(WINDOWS_BUILD) bash scripts/build-windows.sh --tests
	bash tests/windows/run-tests.sh $(WINDOWS_BUILD) $(BUILD)

# The refresh cycle of the Windows build under Wine beside the Linux one, and
# what Wine's GDI costs of it (bench/measure-windows.sh; after test-windows,
# which makes the Wine prefix).
.PHONY: bench-windows
bench-windows: deps
	bash scripts/install-deps.sh --windows
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHUELENS_BENCHMARKS=ON
	cmake --build $(BENCH_BUILD) -j$(JOBS) --target huelens-cycle-timer
	BUILD_WINDOWS=$(WINDOWS_BUILD) bash scripts/build-windows.sh --tests --benchmarks
	bash bench/measure-windows.sh $(WINDOWS_BUILD) $(BENCH_BUILD)

# The Debian package: built by dpkg-buildpackage from a clean copy of the tree
# in build-deb/ (with the display-free tests unless DEB_BUILD_OPTIONS=nocheck),
# checked by lintian, left in dist/ (scripts/build-deb.sh). `make test-deb`
# installs it on this machine with apt, starts it on a private Xvfb, validates
# and purges it (as root or with sudo; tests/check-deb.sh).
.PHONY: deb test-deb
deb: deps
	bash scripts/build-deb.sh

test-deb: deb
	tests/with-xvfb.sh tests/check-deb.sh
