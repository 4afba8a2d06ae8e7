# The two commands of the README. Both install what is missing first. `make run` builds only
# the application; `make test` builds everything (tests, examples, benchmarks, fuzz targets).
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
# Extra configure options, e.g. CMAKE_ARGS=-DKADENZA_WERROR=ON (as CI does).
CMAKE_ARGS ?=

.PHONY: run test deps configure build

run: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target kadenza
	./$(BUILD_DIR)/bin/kadenza

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)
