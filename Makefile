# Front door: `make demo` runs pidsift on the bundled sample, `make test` runs every test in a
# normal and a sanitizer build, and the tests of runs on several threads under ThreadSanitizer. Both install what they need on a fresh Debian machine.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= 2
SAMPLE     ?= samples/sample.ts
DEMO_OUT   ?= out
FUZZ_BUILD ?= build-fuzz
# fuzz-run: one target for SECONDS; fuzz-smoke: every target for SMOKE_SECONDS each.
TARGET     ?=
SECONDS    ?= 60
SMOKE_SECONDS ?= 15
FUZZ_TARGETS = $(basename $(notdir $(wildcard fuzz/fuzz_*.cpp)))
# Warnings fail the build in CI (CI=true); elsewhere they are shown.
WERROR     ?= $(if $(filter true,$(CI)),ON,OFF)

.PHONY: all deps build build-asan demo test test-fast test-threads test-long sample bench clean fuzz fuzz-run fuzz-smoke package

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIDSIFT_WERROR=$(WERROR)

$(TSAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIDSIFT_THREAD_SANITIZE=ON -DPIDSIFT_WERROR=$(WERROR)

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPIDSIFT_SANITIZE=ON -DPIDSIFT_WERROR=$(WERROR)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j$(JOBS)

# The demo builds the tools alone (what it runs, and what `cmake --install` takes after it);
# `make test` builds the test suites in the same folder. Configuring again first makes the tools
# target known to a build folder configured before it existed.
demo: deps $(BUILD)/CMakeCache.txt
	@cmake -S . -B $(BUILD) >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target tools
	@scripts/demo.sh $(BUILD) $(SAMPLE) $(DEMO_OUT)

# The Debian package pidsift_<version>_<arch>.deb, here. It is built in a tree of its own,
# configured for /usr (GNUInstallDirs then puts the library, its CMake package and pidsift.pc in
# Debian's multiarch folder) with Debian's hardening flags and without the tests; CPack packs what
# `cmake --install` installs from it.
PACKAGE_BUILD ?= build-package
$(PACKAGE_BUILD)/CMakeCache.txt:
	DEB_BUILD_MAINT_OPTIONS=hardening=+all; export DEB_BUILD_MAINT_OPTIONS; \
	CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr -DPIDSIFT_TESTS=OFF \
	    -DPIDSIFT_WERROR=$(WERROR)

package: deps $(PACKAGE_BUILD)/CMakeCache.txt
	cmake --build $(PACKAGE_BUILD) -j$(JOBS) --target tools
	cd $(PACKAGE_BUILD) && cpack -G DEB
	mv $(PACKAGE_BUILD)/pidsift_*.deb .

# Tests labelled long (recordings past 4 GiB) are left to test-long.
test-fast: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS) -LE long

test: build build-asan test-threads
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS) -LE long
	cd $(ASAN_BUILD) && ctest --output-on-failure -j$(JOBS) -LE long

# Runs of the library on several threads at once (demuxes, splits, checks), under ThreadSanitizer:
# only the suites that start threads are built in that tree.
test-threads: deps $(TSAN_BUILD)/CMakeCache.txt
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target test_demux test_check
	$(TSAN_BUILD)/test_demux --gtest_filter='*Threads*'
	$(TSAN_BUILD)/test_check --gtest_filter='*AtOnce*'


test-long: build
	cd $(BUILD) && ctest --output-on-failure -L long

# Fuzzing: a clang++ build with libFuzzer, ASan and UBSan, one fuzzer process at a time.
$(FUZZ_BUILD)/CMakeCache.txt:
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIDSIFT_FUZZ=ON

fuzz: deps $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j$(JOBS)

fuzz-run: fuzz
	@test -n "$(TARGET)" || { echo "usage: make fuzz-run TARGET=<$(FUZZ_TARGETS)> SECONDS=<n>"; exit 2; }
	scripts/fuzz.sh $(FUZZ_BUILD) $(SECONDS) $(TARGET)

fuzz-smoke: fuzz
	scripts/fuzz.sh $(FUZZ_BUILD) $(SMOKE_SECONDS) $(FUZZ_TARGETS)

# Remakes the bundled sample with the test stream builder.
sample: build
	$(BUILD)/make_sample $(SAMPLE)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(PACKAGE_BUILD) $(DEMO_OUT) pidsift_*.deb
