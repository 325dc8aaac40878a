# The two commands of the README; everything else is plain CMake.
.PHONY: test demo tsan fuzz package clean

test:
	bash scripts/test.sh

demo:
	bash scripts/demo.sh

tsan:
	bash scripts/tsan.sh

fuzz:
	bash scripts/fuzz.sh $(or $(FUZZ_SECONDS),30)

# The Debian package, from the plain build: build/alarm-bridge_<version>_<arch>.deb
package:
	bash scripts/install-deps.sh
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build
	cd build && cpack -G DEB

clean:
	rm -rf build build-asan build-tsan build-fuzz
