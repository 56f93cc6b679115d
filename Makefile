# The two Quick-start commands, plus the pieces CI and developers use.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test build deps-build deps-test ci-sanitize bench fuzz clean format

run: deps-build build
	./$(BUILD)/app/meshwick

test: deps-test build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

build:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

deps-build:
	scripts/install-deps.sh build

deps-test:
	scripts/install-deps.sh test

bench:
	scripts/install-deps.sh bench
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMESHWICK_BENCH=ON -DMESHWICK_APP=OFF -DMESHWICK_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	./build-bench/bench/meshwick_bench

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-* 
