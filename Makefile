# Two entry points: `make run` and `make test`. Both install what the
# machine lacks first (tools/setup.sh).
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: setup build build-asan run test test-normal test-asan bench fuzz fuzz-run clean

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

# The patch loader under libFuzzer, with AddressSanitizer and
# UndefinedBehaviorSanitizer: `make fuzz` builds fuzz-build/patch_fuzz,
# `make fuzz-run FUZZ_SECONDS=600` runs it from the example patches.
FUZZ_SECONDS ?= 600
# -Wno-psabi as in CMakeLists.txt: the 256-bit lane helpers are inline.
FUZZ_FLAGS = -std=c++20 -g -O1 -fwrapv -Wno-psabi -fsanitize=fuzzer,address,undefined \
	-fno-sanitize-recover=undefined -fno-omit-frame-pointer -Isrc

fuzz: setup
	mkdir -p fuzz-build/corpus
	clang++ $(FUZZ_FLAGS) tools/fuzz/patch_fuzz.cpp src/host/*.cpp \
		$$(pkg-config --cflags --libs x11 alsa libusb-1.0) -o fuzz-build/patch_fuzz

fuzz-run: fuzz
	cp -n patches/*.texte fuzz-build/corpus/
	cd fuzz-build && ./patch_fuzz -max_total_time=$(FUZZ_SECONDS) \
		-max_len=65536 -dict=../tools/fuzz/patch.dict -print_final_stats=1 corpus

clean:
	rm -rf build build-asan fuzz-build
