# The two commands of the README. Both install what is missing first. `make run` builds only
# the application; `make test` builds everything (tests, examples, benchmarks, fuzz targets).
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
# Extra configure options, e.g. CMAKE_ARGS=-DKADENZA_WERROR=ON (as CI does).
CMAKE_ARGS ?=

.PHONY: run test deps configure build deb

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

# The Debian package, built from a copy of the sources in $(BUILD_DIR)/deb so that the tree
# stays clean; the package lands here: sudo apt install ./kadenza_*.deb
DEB_DIR = $(BUILD_DIR)/deb
deb: deps
	rm -rf $(DEB_DIR) && mkdir -p $(DEB_DIR)/kadenza
	tar -c --exclude=./.git --exclude='./build*' --exclude='./$(BUILD_DIR)' \
	  --exclude='./kadenza_*.deb' --exclude='./obj-*' . | tar -x -C $(DEB_DIR)/kadenza
	cd $(DEB_DIR)/kadenza && DEB_BUILD_OPTIONS="parallel=$(JOBS) $(DEB_BUILD_OPTIONS)" \
	  KADENZA_CMAKE_ARGS="$(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)" \
	  dpkg-buildpackage -us -uc -b
	cp $(DEB_DIR)/kadenza_*.deb .
