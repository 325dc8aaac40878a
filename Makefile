# The two commands of the README; everything else is plain CMake.
.PHONY: test demo tsan clean

test:
	bash scripts/test.sh

demo:
	bash scripts/demo.sh

tsan:
	bash scripts/tsan.sh

clean:
	rm -rf build build-asan build-tsan build-fuzz
