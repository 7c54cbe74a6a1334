# Shortcuts over the CMake presets.
.PHONY: example test release clean

# Builds the converter and runs it on the bundled example in build/example/.
example: release
	rm -rf build/example && mkdir -p build/example
	cp examples/demo.mid build/example/
	cd build/example && ../release/src/mid2nolt demo.mid
	cat build/example/demo_1_0.txt

release:
	cmake --preset release
	cmake --build --preset release --target mid2nolt

# Builds and runs every test: g++ debug build, then clang with AddressSanitizer
# and UndefinedBehaviorSanitizer. Warnings are errors in both.
test:
	cmake --preset dev -DMID2NOLT_WERROR=ON
	cmake --build --preset dev
	ctest --preset dev
	cmake --preset asan -DMID2NOLT_WERROR=ON
	cmake --build --preset asan
	ctest --preset asan

clean:
	rm -rf build
