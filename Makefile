# Front door: `make demo` runs pidsift on the bundled sample, `make test` runs every test in a
# normal and a sanitizer build. Both install what they need on a fresh Debian machine.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= 2
SAMPLE     ?= samples/sample.ts
DEMO_OUT   ?= out

.PHONY: all deps build build-asan demo test test-fast sample bench clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPIDSIFT_SANITIZE=ON

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j$(JOBS)

demo: build
	@scripts/demo.sh $(BUILD) $(SAMPLE) $(DEMO_OUT)

test-fast: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

test: build build-asan
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j$(JOBS)

# Remakes the bundled sample with the test stream builder.
sample: build
	$(BUILD)/make_sample $(SAMPLE)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(DEMO_OUT)
