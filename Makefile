# The two entry points of the README. Both install what is missing, then build.
BUILD ?= build
JOBS ?= $(shell nproc)

# What `make run` needs: the program, the local price server and the sample market; without a
# display the demo does its work through lumenpick-cli instead of the window.
RUN_TARGETS := lumenpick lumenpick-price-server lumenpick-sample-market
ifeq ($(strip $(DISPLAY)$(WAYLAND_DISPLAY)),)
RUN_TARGETS += lumenpick-cli
endif

.PHONY: setup configure build run test package clean

setup:
	@./tools/setup/setup.sh

configure: setup
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run:
	@echo "make run builds only what the demo runs ($(RUN_TARGETS)): about 2 minutes on two cores the first time, seconds after that; make test builds everything else."
	@$(MAKE) --no-print-directory configure
	cmake --build $(BUILD) -j $(JOBS) --target $(RUN_TARGETS)
	@./tools/run-demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

# The Debian package build/lumenpick_<version>_<arch>.deb.
package: build
	cmake --build $(BUILD) --target package
