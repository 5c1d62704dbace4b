# Thin front door: setup, build, run, test, bench.
BUILD ?= build
JOBS ?= 2

FUZZ_SECONDS ?= 60

.PHONY: setup build run test bench clean test-sanitize fuzz package format format-check docs

setup:
	@bash scripts/setup

$(BUILD)/build.ninja: CMakeLists.txt
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run-demo $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	$(BUILD)/bench/ulen3-bench
	/usr/bin/python3 bench/side_by_side.py $(BUILD)

# The documentation's pictures, drawn anew into docs/.
docs: build
	cmake --build $(BUILD) --target docs

# The Debian package of the programs, their help, desktop entry, icons and manual pages.
package: build
	cd $(BUILD) && cpack -G DEB

# Every test again with AddressSanitizer and UndefinedBehaviorSanitizer, in its own build folder.
test-sanitize: setup
	cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DULEN3_SANITIZE=ON
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)

# The fuzz targets, built with clang in their own folder, each run for FUZZ_SECONDS.
fuzz: setup
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DULEN3_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	bash scripts/run-fuzz build-fuzz $(FUZZ_SECONDS)

# Every source in the style of .clang-format; format-check changes nothing and fails on a difference.
format: setup
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
format-check: setup
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz
