# Entry point for users and CI. Every target installs missing Debian
# packages first, so a fresh machine needs nothing but make and git.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
# QX_WERROR=ON makes every warning an error (CI does that); left empty, the
# build directory keeps what it was configured with (OFF at first).
QX_WERROR ?=
CMAKE_ARGS = -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(if $(QX_WERROR),-DQX_WERROR=$(QX_WERROR))

.PHONY: all deps configure build run demo demo-uboot screenshot test bench soak package clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@$(BUILD_DIR)/app/qx-console

# Starts the program on a virtual target (no board needed); see README.
demo: build
	@./scripts/demo.sh $(BUILD_DIR)

# Takes the README's pictures of the demo again (docs/vt-demo.png, and the
# time margin and input line) on a virtual X display.
screenshot: build
	@./scripts/install-deps.sh --with-display-tools
	@./scripts/demo-screenshot.sh $(BUILD_DIR) docs/vt-demo.png
	@./scripts/timestamps-screenshot.sh $(BUILD_DIR) docs/timestamps.png docs/input-line.png

# Starts the program on U-Boot in QEMU (a real boot loader); see README.
demo-uboot: build
	@./scripts/demo-uboot.sh $(BUILD_DIR)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target qx_benchmarks
	@./scripts/run-benchmarks.sh $(BUILD_DIR)

# 30 minutes of a 115200-baud stream with a recording, the line dropped
# every 30 s and a paste every minute; SOAK_MINUTES shortens it.
SOAK_MINUTES ?= 30
soak: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target soak_window
	@QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/soak_window --minutes $(SOAK_MINUTES)

package: build
	@cd $(BUILD_DIR) && cpack

clean:
	@rm -rf $(BUILD_DIR)
