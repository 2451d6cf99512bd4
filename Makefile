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
