# The two commands a new user needs:
#   make run   builds Tolvane and opens it against the built-in recorder simulator
#   make test  builds Tolvane and runs every test
BUILD ?= build
CMAKE_FLAGS ?=
BUILD_TYPE ?= RelWithDebInfo

.PHONY: all deps configure build run test clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure --timeout 300 -j 2

run: build
	@scripts/run-with-simulator $(BUILD)/bin

clean:
	rm -rf $(BUILD)
