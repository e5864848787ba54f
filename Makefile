# Thin wrapper over CMake. `make run` and `make test` do all set-up.
BUILD ?= build
JOBS  ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: all deps configure build run test check-sanitize screenshot bench package fuzz clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-trackmill $(BUILD)/trackmill $(ARGS)

test: build
	@scripts/run-tests $(BUILD)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, then
# the tests with threads (capture, playback and its timer) under
# ThreadSanitizer, each in a build directory of its own. Leaks in libraries
# we do not own are listed in scripts/lsan.supp; the slow unwinder gives their
# allocations whole stacks, so that a sound plugin unloaded before the exit
# is still named by the loader's frames.
check-sanitize: deps
	@cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTM_ASAN=ON >/dev/null
	@cmake --build $(BUILD)-asan -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		scripts/run-tests $(BUILD)-asan
	@cmake -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTM_TSAN=ON >/dev/null
	@cmake --build $(BUILD)-tsan -j $(JOBS) --target trackmill-batch test_capture test_playback
	@TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		scripts/run-tests $(BUILD)-tsan -R '^(BatchRecording|CaptureCallbacks|CaptureControl|WavWriter|PlaybackTest|ViewRowsTest|TimerTest)\.'

screenshot: build
	@scripts/screenshots $(BUILD)

bench: build
	@scripts/run-bench $(BUILD)

package: build
	@cmake --build $(BUILD) --target package

fuzz:
	@scripts/install-deps fuzz
	@scripts/run-fuzz

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan build-fuzz
