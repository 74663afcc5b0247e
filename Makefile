# Top-level entry points. Each target does its own set-up on a fresh Debian 12 machine:
# missing Debian packages are installed with apt-get, then CMake configures and builds.
#   make test      build everything and run every test (what CI runs)
#   make demo      run the system with the simulator so a new user sees it work
#   make build     configure and build only
#   make package   the Debian packages (build/*.deb); make install DESTDIR=... installs
#   make sanitize  ASan+UBSan build and test run (build-asan), then the TSan pass (build-tsan)
#   make bench     run the benchmarks and write build/bench.txt
#   make fuzz      run every fuzz target for a bounded time (build-fuzz, clang)

SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo
FUZZ_SECONDS ?= 60

# Debian packages, by what needs them. `make demo` installs DEMO_PACKAGES only; every other
# target installs them all.
DEMO_PACKAGES := cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev \
                 qt6-qpa-plugins libgl-dev libssl-dev fonts-dejavu-core
TEST_PACKAGES := libgtest-dev libgmock-dev xauth
PACKAGING_PACKAGES := dpkg-dev lintian help2man pandoc man-db systemd
TOOL_PACKAGES := clang libclang-rt-14-dev clang-format libbenchmark-dev
PACKAGES := $(DEMO_PACKAGES) $(TEST_PACKAGES) $(PACKAGING_PACKAGES) $(TOOL_PACKAGES)

.PHONY: all deps demo-deps build test demo install package sanitize bench fuzz soak format clean

all: build

deps: WANTED = $(PACKAGES)
demo-deps: WANTED = $(DEMO_PACKAGES)
deps demo-deps:
	@missing=""; \
	for p in $(WANTED); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing missing packages:$$missing"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi

CONFIGURE := cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=/usr

# Configured every time: a build first made by `make demo` (without GoogleTest) then
# finds the packages installed since and builds the tests too.
build: deps
	$(CONFIGURE)
	cmake --build build -j $(JOBS)

test: build
	cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Only the programs and libraries the demo runs (no tests, benchmarks or man pages needed).
demo: demo-deps
	[ -f build/build.ninja ] || $(CONFIGURE)
	cmake --build build -j $(JOBS) --target VexServer qlnrun Tactus VexSimulator ENC7480
	./tools/demo.sh

# Installs into DESTDIR (empty: the system itself), as the packages lay the files out.
install: build
	DESTDIR=$(DESTDIR) cmake --install build

# The Debian packages in build/ (docs/install.md): apt install ./build/*.deb
package: build
	cd build && cpack

sanitize: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVEX_SANITIZE=address
	cmake --build build-asan -j $(JOBS)
	cd build-asan && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVEX_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS=halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) -L tsan --no-tests=ignore

bench: build
	cmake --build build --target bench_all -j $(JOBS)
	./bench/run.sh build

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEX_FUZZ=ON
	cmake --build build-fuzz --target fuzz_all -j $(JOBS)
	./fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

# The whole chain under load for SOAK_MINUTES (default 30); not part of make test.
soak: build
	./tools/soak.sh build

format:
	git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-fuzz
