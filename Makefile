# Thin wrapper over CMake. `make run` and `make test` do all set-up.
BUILD ?= build
JOBS  ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: all deps configure build run test screenshot bench package fuzz clean

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
	rm -rf $(BUILD) build-fuzz
