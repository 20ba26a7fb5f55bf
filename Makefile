# The two entry points of the README. Both install what is missing, then build.
BUILD ?= build
JOBS ?= $(shell nproc)

# What `make run` needs: the program, the local price server and the sample market; without a
# display the demo does its work through lumenpick-cli instead of the window.
RUN_TARGETS := lumenpick lumenpick-price-server lumenpick-sample-market
ifeq ($(strip $(DISPLAY)$(WAYLAND_DISPLAY)),)
RUN_TARGETS += lumenpick-cli
endif

.PHONY: setup configure build run test tsan package clean

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

# Every test again, built with ThreadSanitizer in a folder of its own (a full build: slow). A
# report fails its test; Qt's and the system libraries' own threads are suppressed.
tsan: setup
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLP_TSAN=ON
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="suppressions=$(CURDIR)/tools/tsan/suppressions.txt" \
	  ctest --output-on-failure -j $(JOBS) -E fuzz

clean:
	rm -rf $(BUILD)

# The Debian package build/lumenpick_<version>_<arch>.deb.
package: build
	cmake --build $(BUILD) --target package
