# The front door: `make demo` and `make test` do everything on a fresh Debian 12 machine.
BUILD ?= build
WINDOWS_BUILD ?= build-win
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
# The tests mostly wait on the simulated lidars' timing, so twice as many run at once as there
# are processors.
TEST_JOBS ?= $(shell echo $$(( $$(nproc) * 2 )))
CMAKE_FLAGS ?=
# The version the installer carries, as the build's CMakeLists.txt gives it.
VERSION := $(shell sed -nE 's/^project.Velomark VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
PRODUCT_VERSION := $(shell sed -nE 's/^set.VELOMARK_PRODUCT_VERSION "(.*)".$$/\1/p' CMakeLists.txt)
COMPANY := $(shell sed -nE 's/^set.VELOMARK_COMPANY_NAME "(.*)".$$/\1/p' CMakeLists.txt)
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Debian packages that building, running and testing need (help2man writes the manual pages;
# poppler-utils reads the PDF reports back in the tests).
PACKAGES := build-essential cmake pkg-config qtbase5-dev libqt5serialport5-dev \
  libssl-dev openssl libnss3-dev libnss3-tools help2man \
  xvfb xauth imagemagick \
  python3 python3-dbusmock python3-dbus python3-gi dbus libglib2.0-bin locales \
  libqt5charts5-dev libqt5svg5-dev gpsbabel poppler-utils openbox x11-utils
# Only for the targets that use them.
# (The toolchain's build needs perl, dpkg-dev and xz-utils besides.)
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64 nsis \
  perl dpkg-dev xz-utils
FUZZ_PACKAGES := clang libclang-rt-14-dev
PACKAGE_PACKAGES := dpkg-dev file
PACKAGE_CHECK_PACKAGES := lintian desktop-file-utils appstream

.PHONY: deps build run demo test bench screenshot package package-check install \
  windows-deps windows windows-installer check-windows fuzz clean

# install-missing PACKAGES: apt-get installs those that are not installed yet.
define install-missing
@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
if [ -n "$$missing" ]; then \
  echo "Installing:" $$missing; \
  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing >/dev/null; \
fi
endef

deps:
	$(call install-missing,$(PACKAGES))

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/src/app/velomark

demo: build
	scripts/demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(TEST_JOBS)

bench: build
	cmake --build $(BUILD) -j $(JOBS) --target benches
	scripts/bench.sh $(BUILD)

screenshot: build
	scripts/screenshot.sh $(BUILD) resources/screenshot.png

# The Debian package, written to $(BUILD)/package/.
package: build
	$(call install-missing,$(PACKAGE_PACKAGES))
	cmake --build $(BUILD) -j $(JOBS) --target package

# Builds the package, checks it (lintian, desktop-file-validate, appstreamcli), installs it,
# runs the installed programs and removes it again.
package-check: package
	$(call install-missing,$(PACKAGE_CHECK_PACKAGES))
	scripts/package-check.sh $(BUILD)

# Installs into PREFIX (/usr/local unless the build was configured otherwise).
install: build
	$(SUDO) cmake --install $(BUILD)

windows-deps: deps
	$(call install-missing,$(WINDOWS_PACKAGES))

# velomark.exe and velomark-cli.exe in $(WINDOWS_BUILD)/src, against the static Qt and OpenSSL
# that scripts/windows-toolchain.sh builds from Debian's sources once (about 40 minutes on two
# cores) and keeps in ~/.cache/velomark/windows-toolchain.
windows: windows-deps
	scripts/windows-toolchain.sh >/dev/null
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DVELOMARK_WINDOWS_TOOLCHAIN=$$(scripts/windows-toolchain.sh --print-dir) $(CMAKE_FLAGS)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The installer, $(WINDOWS_BUILD)/Velomark-<version>-setup.exe.
windows-installer: windows
	makensis -V2 -DSOURCE=$(CURDIR) -DBUILD=$(abspath $(WINDOWS_BUILD)) \
	  -DOUTFILE=$(abspath $(WINDOWS_BUILD))/Velomark-$(VERSION)-setup.exe -DVERSION=$(VERSION) \
	  "-DPRODUCT_VERSION=$(PRODUCT_VERSION)" "-DCOMPANY=$(COMPANY)" resources/windows/velomark.nsi

# The Windows layer's own tests, then the programs and the installer under Wine against the
# Linux build's simulator and programs.
check-windows: build windows-installer
	scripts/check-windows.sh $(BUILD) $(WINDOWS_BUILD)

fuzz: deps
	$(call install-missing,$(FUZZ_PACKAGES))
	scripts/fuzz.sh

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD) build-asan build-fuzz
