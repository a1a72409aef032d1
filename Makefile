# The two commands of the README, and the extra builds CI runs.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: run test configure build format-check

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

# The whole test suite built with clang under AddressSanitizer and UndefinedBehaviorSanitizer.
SANITIZE_BUILD ?= build-sanitize

.PHONY: test-sanitize
test-sanitize:
	cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DPLYCONV_SANITIZE=ON \
	    $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS) -LE sweep

# Each fuzz target for a fixed time under the sanitizers, from the seeds in tests/fuzz/corpus/;
# the inputs it finds stay in the build folder. A crash, a leak or an input that runs longer
# than FUZZ_INPUT_SECONDS stops it with its input in $(FUZZ_BUILD)/artifacts/ and fails.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_INPUT_SECONDS ?= 10
FUZZ_TARGETS = run parse_number

.PHONY: fuzz
fuzz:
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DPLYCONV_SANITIZE=ON \
	    -DPLYCONV_FUZZ=ON -DPLYCONV_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) $(addprefix --target fuzz_,$(FUZZ_TARGETS))
	mkdir -p $(FUZZ_BUILD)/artifacts
	set -e; for target in $(FUZZ_TARGETS); do \
	    mkdir -p $(FUZZ_BUILD)/corpus-$$target; \
	    $(FUZZ_BUILD)/tests/fuzz/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) \
	        -timeout=$(FUZZ_INPUT_SECONDS) -max_len=4096 -print_final_stats=1 \
	        -artifact_prefix=$(CURDIR)/$(FUZZ_BUILD)/artifacts/ \
	        $(FUZZ_BUILD)/corpus-$$target tests/fuzz/corpus/$$target; \
	done

# Every C++ source as .clang-format lays it out; CI fails on the first difference.
format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
