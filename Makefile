# Thin wrapper over CMake: `make run` and `make test` do all the set-up.
BUILD      ?= build
JOBS       ?= $(shell nproc)
SAMPLE_RAS  = $(BUILD)/sample/sample.ras
SAMPLE_OUT  = $(BUILD)/sample/sample.prn

.PHONY: all deps configure build run test test-asan test-tsan test-fuzz bench deb clean

all: build

deps:
	./scripts/install-deps.sh

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The filter's main job on the bundled sample: raster in, printer stream out.
# It needs the filter, the decoder and the printer description; `make test`
# builds the rest.
run: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target rastertoQuorin vlgdidecode quorin_ppd
	./scripts/run-sample.sh $(BUILD)

test: deps build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 600
	$(MAKE) test-asan test-tsan test-fuzz

test-asan:
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=Debug -DQUORIN_SANITIZE=address -DQUORIN_BUILD_BENCH=OFF
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	    ctest -j $(JOBS) --output-on-failure --timeout 900 -L 'unit|filter|sanitize'

test-tsan:
	cmake -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORIN_SANITIZE=thread -DQUORIN_BUILD_BENCH=OFF
	cmake --build $(BUILD)-tsan -j $(JOBS)
	cd $(BUILD)-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	    ctest -j $(JOBS) --output-on-failure --timeout 900 -L 'filter|sanitize'

# A short libFuzzer run of the ticket and BMP readers (longer: scripts/run-fuzz.sh 600).
test-fuzz:
	./scripts/run-fuzz.sh 15

bench: deps build
	./bench/run-bench.sh $(BUILD)

# The Debian packages, into $(BUILD)/deb/. They are built from a copy of the
# tree, so that nothing of the packaging is left in it; `make test` runs the
# test suite, which the package build leaves out.
DEB_DIR = $(BUILD)/deb
deb: deps
	rm -rf $(DEB_DIR)
	mkdir -p $(DEB_DIR)/src
	git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C $(DEB_DIR)/src
	cd $(DEB_DIR)/src && DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -b -us -uc -j$(JOBS)
	rm -rf $(DEB_DIR)/src

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz
