# Shortcuts over the CMake presets. Every target first installs the Debian
# packages it needs that are missing (tools/needs holds the list) and
# configures its build folder afresh when an earlier configure left it unusable
# (tools/configure).
.PHONY: example test native-test release clean golden coverage fuzz lint package package-check \
        install windows windows-test windows-package web npm web-test web-serve \
        arm64-test armhf-test i686-test arm64-package armhf-package dist dist-check

NEEDS := tools/needs
CONFIGURE := tools/configure
VERSION := $(shell sed -n 's/^project.mid2nolt VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# Archive and package dates are the commit's, never the clock's.
export SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
# Wine's prefix, and so its server, belong to the checkout: the Windows suites
# of two checkouts on one machine never wait for, or end, each other's server.
export WINEPREFIX ?= $(CURDIR)/build/wine

# Builds both programs and runs them on the bundled examples in build/example/:
# the converter on the demo as it is, then the arranger and the converter on
# its arranged file, and on the file fitted to 3 driver channels; then the
# chord study fitted to 3 channels with its chords as arpeggios.
example: release
	rm -rf build/example && mkdir -p build/example
	cp examples/demo.mid examples/chords.mid build/example/
	cd build/example && ../release/src/mid2nolt demo.mid
	cat build/example/demo_1_0.txt
	cd build/example && ../release/src/mid2nolt-arrange demo.mid && ../release/src/mid2nolt demo-arranged.mid -p
	cd build/example && ../release/src/mid2nolt-arrange demo.mid --channels 3 -o demo-3.mid && ../release/src/mid2nolt demo-3.mid -p
	cd build/example && ../release/src/mid2nolt-arrange chords.mid --channels 3 --arpeggio 1 -o chords-3.mid && ../release/src/mid2nolt chords-3.mid -p
	head -n 9 build/example/chords-3_3.txt

release:
	$(NEEDS) build
	$(CONFIGURE) release
	cmake --build --preset release --target mid2nolt mid2nolt-arrange

# Every suite the project has: the native builds, Windows under wine, the
# browser and the npm package in node and Chromium, Linux on arm64, armhf and
# 32-bit x86 under qemu-user, and the packages' checks.
test: native-test windows-test windows-package web-test package-check \
      arm64-test armhf-test i686-test arm64-package armhf-package

# The native suites: the g++ debug build (the coverage build, so that
# make coverage after make test need not build it again), then clang and g++
# each with AddressSanitizer and UndefinedBehaviorSanitizer. Warnings are
# errors in all. The coverage build's counts of an earlier build go first:
# gcov would say on stderr that they no longer match, and the golden tables
# compare stderr.
native-test:
	$(NEEDS) build test
	for preset in coverage asan gasan; do \
	  $(CONFIGURE) $$preset -DMID2NOLT_WERROR=ON && cmake --build --preset $$preset && \
	  find build/$$preset -name '*.gcda' -delete && \
	  ctest --preset $$preset -j2 || exit 1; \
	done

clean:
	rm -rf build

# Writes the converter's and the arranger's tables (tests/cli/golden.tsv,
# tests/cli/arrange-golden.tsv) again from the release build and lists the
# runs whose output changed. Only for a deliberate change of output.
golden: release
	python3 tests/cli/golden.py write --exe build/release/src/mid2nolt
	python3 tests/cli/golden.py write --program arrange --exe build/release/src/mid2nolt-arrange

# Line and branch coverage of src/ by the whole test suite.
coverage:
	$(NEEDS) build test coverage
	$(CONFIGURE) coverage
	cmake --build --preset coverage
	find build/coverage -name '*.gcda' -delete
	ctest --preset coverage -j2
	gcovr --root . --filter 'src/' --exclude-throw-branches --exclude-unreachable-branches \
	  --txt build/coverage/coverage.txt --html-details build/coverage/coverage.html \
	  --print-summary build/coverage

# Builds the libFuzzer targets (clang) and runs the converter's two for
# FUZZ_SECONDS each and, beside them on the other core, the arranger's for
# twice that, seeded with the generated seeds, the regression corpus and, when
# present, the shared real MIDI files (the arranger takes the whole-run
# target's inputs). Any finding fails; its input is left in build/fuzz/.
FUZZ_SECONDS ?= 60
SAMPLES ?= ../shared/midi-samples
fuzz:
	$(NEEDS) build fuzz
	$(CONFIGURE) fuzz
	cmake --build --preset fuzz
	mkdir -p build/fuzz/corpus-run build/fuzz/corpus-events
	cp -n build/fuzz/fuzz/seeds/run/* fuzz/corpus/run/* build/fuzz/corpus-run/ 2>/dev/null || true
	cp -n build/fuzz/fuzz/seeds/events/* fuzz/corpus/events/* build/fuzz/corpus-events/ 2>/dev/null || true
	if [ -d "$(SAMPLES)" ]; then find "$(SAMPLES)" -iname '*.mid' -size -64k -exec cp -n {} build/fuzz/corpus-run/ \; ; fi
	mkdir -p build/fuzz/corpus-arrange
	cp -n build/fuzz/corpus-run/* build/fuzz/corpus-arrange/ 2>/dev/null || true
	# Two lanes, one a core: the arranger for twice the time, beside the
	# converter's two targets one after the other. Its log follows theirs.
	build/fuzz/fuzz/fuzz_arrange -max_total_time=$$((2 * $(FUZZ_SECONDS))) -max_len=16384 \
	  -print_final_stats=1 -artifact_prefix=build/fuzz/finding-arrange- build/fuzz/corpus-arrange \
	  >build/fuzz/arrange.log 2>&1 & arrange=$$!; \
	build/fuzz/fuzz/fuzz_run -max_total_time=$(FUZZ_SECONDS) -max_len=16384 -print_final_stats=1 \
	  -artifact_prefix=build/fuzz/finding-run- build/fuzz/corpus-run && \
	build/fuzz/fuzz/fuzz_events -max_total_time=$(FUZZ_SECONDS) -max_len=8192 -print_final_stats=1 \
	  -artifact_prefix=build/fuzz/finding-events- build/fuzz/corpus-events; converter=$$?; \
	wait $$arrange; arranger=$$?; cat build/fuzz/arrange.log; \
	[ $$converter -eq 0 ] && [ $$arranger -eq 0 ]

# Formatting and static analysis: the C++ with clang-format and clang-tidy, the
# JavaScript with Prettier and ESLint, and the module's code against its JSDoc
# types with TypeScript.
lint: web/node_modules/.package-lock.json
	$(NEEDS) build test lint
	$(CONFIGURE) dev
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h')
	run-clang-tidy -quiet -p build/dev "$$PWD/src/"
	cd web && npx prettier --check "**/*.{js,mjs,ts,mts}" ../bench/web.mjs ../bench/loss.mjs ../bench/fit.mjs ../bench/melody.mjs ../bench/chords.mjs ../bench/arranged.mjs ../bench/sample-files.mjs
	web/node_modules/.bin/eslint -c web/eslint.config.js web bench/web.mjs bench/loss.mjs bench/fit.mjs bench/melody.mjs bench/chords.mjs bench/arranged.mjs bench/sample-files.mjs
	web/node_modules/.bin/tsc -p web/tsconfig.json --noEmit

# The Debian package, built from the product alone, then checked.
package:
	$(NEEDS) build package
	$(CONFIGURE) package
	cmake --build --preset package
	cd build/package && cpack

package-check: package
	packaging/check-deb build/package/mid2nolt_*.deb

# Installs under PREFIX (default /usr/local).
PREFIX ?= /usr/local
install:
	$(NEEDS) build
	$(CONFIGURE) package
	cmake --build --preset package
	cmake --install build/package --prefix "$(PREFIX)"

# Linux on arm64, armhf (32-bit ARM, hard float) and 32-bit x86, cross-built:
# every native suite and the golden table run under qemu-user.
arm64-test armhf-test i686-test:
	$(NEEDS) build test cross
	$(CONFIGURE) $(@:-test=) -DMID2NOLT_WERROR=ON
	cmake --build --preset $(@:-test=)
	ctest --preset $(@:-test=) -j2

# build/<arch>-package/mid2nolt_<version>_<arch>.deb, then checked under qemu-user.
arm64-package armhf-package:
	$(NEEDS) build cross package
	$(CONFIGURE) $@ -DMID2NOLT_WERROR=ON
	cmake --build --preset $@
	cd build/$@ && cpack
	packaging/check-deb build/$@/mid2nolt_*_$(@:-package=).deb

# A release in build/dist/: the source tarball, the .debs for amd64, arm64 and
# armhf, the Windows zip, the site as a zip, the one-file page, the npm tarball
# and SHA256SUMS; every byte from the commit alone. dist-check verifies it (and,
# with OTHER=path/to/dist, that another clone's release is identical).
DIST := build/dist
dist: package arm64-package armhf-package windows-package npm
	rm -rf $(DIST) && mkdir -p $(DIST)
	git archive --format=tar --prefix=mid2nolt-$(VERSION)/ HEAD | gzip -9n >$(DIST)/mid2nolt-$(VERSION).tar.gz
	cp build/package/mid2nolt_$(VERSION)_amd64.deb build/arm64-package/mid2nolt_$(VERSION)_arm64.deb \
	  build/armhf-package/mid2nolt_$(VERSION)_armhf.deb build/windows/mid2nolt-$(VERSION)-win64.zip \
	  build/web/mid2nolt-$(VERSION).html build/web/mid2nolt-$(VERSION)-web.zip \
	  build/npm/mid2nolt-$(VERSION).tgz $(DIST)/
	cd $(DIST) && LC_ALL=C ls | grep -vx SHA256SUMS | xargs sha256sum >SHA256SUMS
	cat $(DIST)/SHA256SUMS

dist-check: dist release
	$(NEEDS) build test windows web browser cross package
	tests/support/wine-services start
	WINEDEBUG=-all packaging/check-dist $(DIST) $(OTHER); status=$$?; tests/support/wine-services stop; \
	  exit $$status

# mid2nolt.exe for 64-bit Windows, cross-built with mingw-w64.
windows:
	$(NEEDS) build windows
	$(CONFIGURE) windows -DMID2NOLT_WERROR=ON
	cmake --build --preset windows

# The end-to-end tests against mid2nolt.exe under wine, and every shared sample
# converted by both builds and compared.
windows-test: windows
	$(NEEDS) build test windows
	$(CONFIGURE) windows-test -DMID2NOLT_WERROR=ON
	cmake --build --preset windows-test
	# The suite starts one wine server with wine's services before its first
	# test and ends it after its last (tests/support/wine-services).
	WINEDEBUG=-all ctest --preset windows-test -j2

# build/windows/mid2nolt-<version>-win64.zip, then checked under wine.
windows-package: windows release
	cd build/windows && cpack
	tests/support/wine-services start
	WINEDEBUG=-all packaging/check-zip build/windows/mid2nolt-*-win64.zip build/release/src/mid2nolt; \
	  status=$$?; tests/support/wine-services stop; exit $$status

# The browser build: the converter's core as WebAssembly and the page over it,
# a static site in build/web/, the one-file page build/web/mid2nolt-<version>.html
# and the site as build/web/mid2nolt-<version>-web.zip.
web: web/node_modules/.package-lock.json
	$(NEEDS) build web
	$(CONFIGURE) web -DMID2NOLT_WERROR=ON
	cmake --build --preset web
	node web/build.mjs

# The module as an npm package: build/npm/mid2nolt-<version>.tgz.
npm: web
	node web/build.mjs --npm

web/node_modules/.package-lock.json: web/package.json web/package-lock.json
	$(NEEDS) build web
	cd web && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund

# The module, the page, the one-file page and the npm package as a consumer
# installs it, in node and Chromium, compared with the native binary.
web-test: npm release
	$(NEEDS) browser
	cd web && npx playwright test

# Serves the site on http://localhost:8000 (any static server will do).
web-serve: web
	python3 -m http.server 8000 --bind 127.0.0.1 --directory build/web
