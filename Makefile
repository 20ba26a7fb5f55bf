# The two entry points of the README. Both install what is missing, then build.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: setup build run test package clean

setup:
	@./tools/setup/setup.sh

build: setup
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@./tools/run-demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The Debian package build/lumenpick_<version>_<arch>.deb.
package: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD)
