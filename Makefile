# Entry points: `make run` starts the program, `make test` runs every test.
# Everything else is a step of these two, or `make bench` / `make windows`.

SHELL := /bin/bash
.DEFAULT_GOAL := build
CMAKE_BUILD = cmake --build --preset
CTEST = ctest --preset

.PHONY: deps build run test bench windows programs install package clean \
        test-layers test-readme test-unit test-asan test-tsan test-fuzz test-wine test-wine-e2e test-ui test-e2e

deps:
	@scripts/install-deps.sh

build/default/build.ninja: CMakeLists.txt CMakePresets.json | deps
	cmake --preset default >/dev/null

build: deps build/default/build.ninja
	$(CMAKE_BUILD) default

run: build
	@scripts/run.sh

test: deps test-layers test-unit test-readme test-e2e test-asan test-tsan test-fuzz test-wine test-wine-e2e test-ui
	@echo "All test suites passed."

# Includes under src/ point only down the layers, each through a linked library.
test-layers:
	@scripts/check-layers.py

test-unit: build
	$(CTEST) default

# The README's commands, as written, in a fresh clone of this tree.
test-readme: deps
	scripts/check-readme.py

# The desktop program under Xvfb: clicks, edits, screenshot, close.
test-e2e: build
	tests/e2e/linux_e2e.sh build/default

test-asan: deps
	cmake --preset asan >/dev/null
	$(CMAKE_BUILD) asan
	$(CTEST) asan

test-tsan: deps
	cmake --preset tsan >/dev/null
	$(CMAKE_BUILD) tsan
	$(CTEST) tsan

test-fuzz: deps
	cmake --preset fuzz >/dev/null
	$(CMAKE_BUILD) fuzz
	@scripts/run-fuzzers.sh build/fuzz

test-wine: deps
	cmake --preset mingw >/dev/null
	$(CMAKE_BUILD) mingw
	$(CTEST) mingw

# The Windows program under Wine and Xvfb, with a scripted stand-in web view
# (as WebView2Loader.dll or as a registered runtime) and without any.
test-wine-e2e: deps
	cmake --preset mingw >/dev/null
	$(CMAKE_BUILD) mingw
	xvfb-run -a -s "-screen 0 1920x1080x24" python3 tests/shell/win32/e2e_test.py build/mingw

windows: deps
	cmake --preset mingw >/dev/null
	$(CMAKE_BUILD) mingw --target varnholt
	@scripts/package-windows.sh build/mingw build/varnholt-windows-x64.zip

# The built page in the system Chromium (install-deps.sh runs npm ci for
# playwright-core), and its pure parts under Node alone.
test-ui: deps build/default/build.ninja
	$(CMAKE_BUILD) default --target varnholt_page
	node --test tests/ui/

# Only what an install takes: the programs (not the tests).
programs:
	@scripts/install-deps.sh --packages
	cmake --preset default >/dev/null
	$(CMAKE_BUILD) default --target varnholt varnholt-report varnholt-lsp

# The programs, the page, the menu entry and the icons under PREFIX.
PREFIX ?= /usr/local
install: programs
	cmake --install build/default --prefix "$(PREFIX)"

# A .deb of the same files (build/default/varnholt_VERSION_ARCH.deb).
package: programs
	cd build/default && cpack -G DEB

bench: build
	@scripts/bench.sh

clean:
	rm -rf build
