# The front door: `make demo` and `make test` do everything on a fresh Debian 12 machine.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Debian packages the build, the tests, the demo and the Windows check need.
PACKAGES := build-essential cmake pkg-config qtbase5-dev libqt5serialport5-dev \
  libssl-dev openssl libnss3-dev libnss3-tools \
  xvfb xauth imagemagick \
  python3 python3-dbusmock dbus libglib2.0-bin \
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev \
  clang libclang-rt-14-dev \
  locales

.PHONY: deps build run demo test bench screenshot check-windows fuzz clean

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing >/dev/null; \
	fi

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/src/app/velomark

demo: build
	scripts/demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	cmake --build $(BUILD) -j $(JOBS) --target benches
	scripts/bench.sh $(BUILD)

screenshot: build
	scripts/screenshot.sh $(BUILD) screenshot.png

check-windows: deps
	scripts/check-windows.sh

fuzz: deps
	scripts/fuzz.sh

clean:
	rm -rf $(BUILD) build-asan build-fuzz
