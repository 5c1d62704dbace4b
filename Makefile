# Thin front door: setup, build, run, test, bench.
BUILD ?= build
JOBS ?= 2

.PHONY: setup build run test bench clean

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

clean:
	rm -rf $(BUILD)
