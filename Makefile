# Kalvor: `make run` and `make test` set up everything on a fresh Debian 12 machine.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
CTEST_ARGS ?=
ifeq ($(CI),true)
CMAKE_ARGS += -DKALVOR_WERROR=ON
endif

.PHONY: all deps configure build run test test-asan format format-check screenshot clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS)

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/app/kalvor

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

test-asan: deps
	cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DKALVOR_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	    ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

format: deps
	clang-format -i $(FORMAT_FILES)

format-check: deps
	clang-format --dry-run --Werror $(FORMAT_FILES)

screenshot: build
	BUILD=$(BUILD) scripts/screenshot.sh docs/kalvor-window.png

clean:
	rm -rf $(BUILD) $(BUILD_ASAN)

# Benchmarks in release mode against the display simulator: prints the table and writes
# bench/results.md and bench/results.json.
BUILD_BENCH ?= build-bench
.PHONY: bench
bench: deps
	BUILD_BENCH=$(BUILD_BENCH) JOBS=$(JOBS) CMAKE_ARGS="$(CMAKE_ARGS)" scripts/bench.sh

# Reliability: libFuzzer targets (clang-14, own build directory build-fuzz) for FUZZ_SECONDS
# each, and the soak for SOAK_SECONDS (soak-ci: the short one CI runs).
FUZZ_SECONDS ?= 60
SOAK_SECONDS ?= 60

.PHONY: fuzz soak soak-ci

fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_JOBS=$(JOBS) CMAKE_ARGS="$(CMAKE_ARGS)" scripts/fuzz.sh

soak: deps $(BUILD)/CMakeCache.txt
	BUILD=$(BUILD) JOBS=$(JOBS) SOAK_SECONDS=$(SOAK_SECONDS) scripts/soak.sh

soak-ci:
	$(MAKE) soak SOAK_SECONDS=20

# Debian package (Release build in $(PKG_BUILD)), the demo with the display simulator, and a
# check of the installed desktop files.
PKG_BUILD ?= $(BUILD)-pkg

.PHONY: package demo install-check

package: deps
	cmake -S . -B $(PKG_BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)
	cmake --build $(PKG_BUILD) -j $(JOBS) --target kalvor_package_content
	cd $(PKG_BUILD) && cpack -G DEB
	@for f in $(PKG_BUILD)/kalvor_*.deb; do echo "Install with: sudo apt-get install $$(realpath $$f)"; done

demo: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target kalvor kalvor-display-sim
	BUILD=$(BUILD) scripts/demo.sh

install-check: package
	cmake --build $(PKG_BUILD) -j $(JOBS) --target tst_packaging
	cd $(PKG_BUILD) && ctest -R '^tst_packaging$$' --output-on-failure
