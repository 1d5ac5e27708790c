# Two entry points: `make run` and `make test`. Both install what the
# machine lacks first (tools/setup.sh).
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: setup build build-asan run test test-normal test-asan bench fuzz clean

setup:
	@sh tools/setup.sh

build: setup
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j$(JOBS)

build-asan: setup
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVANEL_SANITIZE=ON -DQUORVANEL_BENCH=OFF >/dev/null
	cmake --build build-asan -j$(JOBS)

run: build
	build/quorvanel $(PATCH)

# Every test, under a private X server, once in the normal build and once
# with AddressSanitizer and UndefinedBehaviorSanitizer.
test: test-normal test-asan

test-normal: build
	xvfb-run -a -s "-screen 0 1024x768x24" ctest --test-dir build --output-on-failure -j1

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	xvfb-run -a -s "-screen 0 1024x768x24" ctest --test-dir build-asan --output-on-failure -j1

bench: build
	@for b in build/quorvanel-bench-*; do $$b; done

clean:
	rm -rf build build-asan fuzz-build
