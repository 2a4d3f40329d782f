# Front door for newcomers and CI. Every target installs what it needs first.
#   make demo    build and run the bundled example
#   make test    build with AddressSanitizer + UBSan and run every test
#   make bench   build optimised and run the benchmarks
#   make fuzz    build the fuzzers with clang and run each for FUZZ_SECONDS
#   make install build optimised and install into PREFIX

PREFIX       ?= /usr/local
FUZZ_SECONDS ?= 60
JOBS         ?= $(shell nproc)

RELEASE_DIR := build
ASAN_DIR    := build-asan
FUZZ_DIR    := build-fuzz

.PHONY: all deps demo test bench fuzz install clean

all: $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR) -j $(JOBS)

deps:
	@scripts/install-deps

$(RELEASE_DIR)/build.ninja: | deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN_DIR)/build.ninja: | deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTQ_SANITIZE=ON

$(FUZZ_DIR)/build.ninja: | deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_FUZZ=ON -DTQ_BUILD_TESTS=OFF -DTQ_BUILD_BENCH=OFF

# The demo needs the library, the demo program and tqdump, nothing else: a
# newcomer's first command should not build every test first.
demo: $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target demo

test: deps $(ASAN_DIR)/build.ninja
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ctest --output-on-failure -j $(JOBS)

bench: all
	cmake --build $(RELEASE_DIR) --target run-bench

fuzz: deps $(FUZZ_DIR)/build.ninja
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) tests/fuzz/run-all $(FUZZ_DIR)

install: all
	cmake --install $(RELEASE_DIR) --prefix $(PREFIX)

clean:
	rm -rf $(RELEASE_DIR) $(ASAN_DIR) $(FUZZ_DIR)
