# The two commands of the README, and the extra builds CI runs.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: run test configure build

configure:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Builds the converter and starts it in this terminal.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target plyconv
	$(BUILD)/plyconv

# Builds everything and runs every test.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -LE sweep
