# The two commands a new user needs:
#   make run   builds Tolvane and opens it against the built-in recorder simulator
#   make test  builds Tolvane and runs every test
#   make package  builds a .deb to install with apt install ./build/tolvane_*.deb
# And for speed and hostile input:
#   make bench           builds the benchmarks and prints their figures
#   make fuzz SECONDS=N  builds the fuzz targets with clang and runs each for N seconds
BUILD ?= build
CMAKE_FLAGS ?=
BUILD_TYPE ?= RelWithDebInfo
FUZZ_BUILD ?= build-fuzz
SECONDS ?= 60

.PHONY: all deps configure build run test bench fuzz clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure --timeout 300 -j 2

# Figures, not tests: each benchmark prints a table beside its goal.
bench: build
	@$(BUILD)/bin/transfer_bench
	@$(BUILD)/bin/simulator_bench
	@$(BUILD)/bin/unit_image_bench
	@QT_QPA_PLATFORM=offscreen $(BUILD)/bin/window_bench
	@$(BUILD)/bin/inspect_bench
	@$(BUILD)/bin/record_bench 1000000
	@$(BUILD)/bin/record_server_bench

# A build folder of its own: clang, the targets only, every library with the fuzzer's coverage.
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DTOLVANE_FUZZ=ON -DTOLVANE_BUILD_TESTS=OFF -DTOLVANE_WERROR=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) --target fuzzers
	@fuzz/run-fuzzers $(FUZZ_BUILD) $(SECONDS)

run: build
	@scripts/run-with-simulator $(BUILD)/bin

# A .deb of the programs, the menu entry, icons and man pages: $(BUILD)/tolvane_VERSION_ARCH.deb
.PHONY: package
package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD)
