# Two entry points: `make run` and `make test`. Each installs first what
# the machine lacks for it (tools/setup.sh): `make run` and `make demo` what
# building and running the program needs, and build the program and the
# renderer (which links libpng alone besides); `make test` everything the
# tests need, and builds everything.
JOBS ?= 2
CMAKE_FLAGS ?=
CONFIGURE = cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

.PHONY: setup setup-all setup-test program build build-asan run test test-normal test-asan bench fuzz fuzz-run fuzz-script-run fuzz-atom-run fuzz-vst3-run fuzz-clap-run clean

setup:
	@sh tools/setup.sh run

setup-all:
	@sh tools/setup.sh all

setup-test:
	@sh tools/setup.sh test

# The program, the renderer and what they link, nothing else. Configured
# once (or again when CMAKE_FLAGS are given); the build configures again by
# itself when a CMakeLists.txt changed.
program: setup
	@if [ ! -f build/CMakeCache.txt ] || [ -n "$(CMAKE_FLAGS)" ]; then $(CONFIGURE); fi
	cmake --build build -j$(JOBS) --target quorvanel quorvanel-render

# Everything: the program, the renderer, the plugin, and the tests and
# benchmarks where their libraries are installed.
BUILD_ALL = $(CONFIGURE) && cmake --build build -j$(JOBS)
build: setup-all
	$(BUILD_ALL)

build-asan: setup-test
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVANEL_SANITIZE=ON -DQUORVANEL_BENCH=OFF >/dev/null
	cmake --build build-asan -j$(JOBS)

# PATCH is one file name, blanks and quotes included.
run: program
	build/quorvanel $(if $(PATCH),-- '$(subst ','\'',$(PATCH))')

.PHONY: demo install uninstall install-plugins uninstall-plugins deb

# About 30 seconds played live through the sound device while the window
# shows it; join in with a pad or the keys. The instrument goes on after
# the demo: close the window or press Ctrl+C to stop.
demo: program
	build/quorvanel --play scripts/demo.txt patches/demo.texte

# Installs into $(DESTDIR)$(PREFIX); without PREFIX, CMake's
# CMAKE_INSTALL_PREFIX (/usr/local unless configured otherwise).
# `make uninstall` (same DESTDIR) removes what the last install wrote.
PREFIX ?=
install: build
	DESTDIR="$(DESTDIR)" cmake --install build $(if $(PREFIX),--prefix "$(PREFIX)")

uninstall:
	DESTDIR="$(DESTDIR)" cmake -P build/uninstall.cmake

# The plugins alone where hosts look for a user's own, ~/.lv2, ~/.clap and
# ~/.vst3, without root (tools/install-plugins.sh).
install-plugins: build
	sh tools/install-plugins.sh build

uninstall-plugins:
	sh tools/install-plugins.sh --remove

# build/quorvanel_VERSION_ARCH.deb from the same install rules, prefix /usr:
# `sudo apt install ./build/quorvanel_*.deb` installs it, `sudo apt remove
# quorvanel` removes it.
deb: build
	cmake -DBUILD=build -P tools/deb.cmake

# Every test, under a private X server, once in the normal build and once
# with AddressSanitizer and UndefinedBehaviorSanitizer.
test: test-normal test-asan

test-normal: setup-test
	$(BUILD_ALL)
	xvfb-run -a -s "-screen 0 1024x768x24" ctest --test-dir build --output-on-failure --no-tests=error -j1

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	xvfb-run -a -s "-screen 0 1024x768x24" ctest --test-dir build-asan --output-on-failure --no-tests=error -j1

bench: setup-test
	$(BUILD_ALL)
	@for b in build/quorvanel-bench-*; do $$b; done

# The patch loader, the event script reader, the LV2 plugin's atom
# messages and what hosts hand the VST3 and CLAP plugins, under libFuzzer
# with AddressSanitizer and UndefinedBehaviorSanitizer: `make fuzz` builds
# fuzz-build/patch_fuzz, script_fuzz, atom_fuzz, vst3_fuzz and clap_fuzz;
# `make fuzz-run FUZZ_SECONDS=600` runs the first from the example
# patches, `make fuzz-script-run` the second from the example scripts, and
# `make fuzz-atom-run`, `fuzz-vst3-run` and `fuzz-clap-run` the others
# from the messages each writes as its seeds.
FUZZ_SECONDS ?= 600
# -Wno-psabi as in CMakeLists.txt: the 256-bit lane helpers are inline.
FUZZ_FLAGS = -std=c++20 -g -O1 -fwrapv -Wno-psabi -fsanitize=fuzzer,address,undefined \
	-fno-sanitize-recover=undefined -fno-omit-frame-pointer -Isrc -Isrc/core
# The VST3 and CLAP plugins build in as the CMake build makes them: the
# presets as C++ from the example patches, and only the CLAP and VST3
# folders of dpf-source on the include path.
PRESET_PATCHES = $(filter-out patches/fullbank.texte,$(sort $(wildcard patches/*.texte)))
FORMAT_HEADERS = /usr/share/dpf/distrho/src
HOSTED_FLAGS = -Ifuzz-build/formats -Ifuzz-build/generated -DQUORVANEL_VERSION='"fuzz"' \
	$$(pkg-config --cflags --libs lv2 samplerate x11)

fuzz: setup-test
	mkdir -p fuzz-build/corpus fuzz-build/script-corpus fuzz-build/atom-corpus fuzz-build/vst3-corpus \
		fuzz-build/clap-corpus fuzz-build/formats fuzz-build/generated
	clang++ $(FUZZ_FLAGS) tools/fuzz/patch_fuzz.cpp -o fuzz-build/patch_fuzz
	clang++ $(FUZZ_FLAGS) tools/fuzz/script_fuzz.cpp -o fuzz-build/script_fuzz
	clang++ $(FUZZ_FLAGS) -Wno-duplicate-decl-specifier tools/fuzz/atom_fuzz.cpp src/plugin/lv2.cpp $$(pkg-config --cflags --libs lv2) \
		-o fuzz-build/atom_fuzz
	ln -sfn $(FORMAT_HEADERS)/clap fuzz-build/formats/clap
	ln -sfn $(FORMAT_HEADERS)/travesty fuzz-build/formats/travesty
	clang++ -std=c++20 -O1 -fwrapv -Wno-psabi -Isrc -Isrc/core src/plugin/presets.cpp -o fuzz-build/presets
	fuzz-build/presets --header fuzz-build/generated/PresetTexts.h $(PRESET_PATCHES)
	clang++ $(FUZZ_FLAGS) tools/fuzz/vst3_fuzz.cpp src/plugin/vst3.cpp $(HOSTED_FLAGS) -o fuzz-build/vst3_fuzz
	clang++ $(FUZZ_FLAGS) tools/fuzz/clap_fuzz.cpp src/plugin/clap.cpp $(HOSTED_FLAGS) -o fuzz-build/clap_fuzz

fuzz-run: fuzz
	cp -n patches/*.texte fuzz-build/corpus/
	cd fuzz-build && ./patch_fuzz -max_total_time=$(FUZZ_SECONDS) \
		-max_len=65536 -dict=../tools/fuzz/patch.dict -print_final_stats=1 corpus

fuzz-script-run: fuzz
	cp -n scripts/*.txt fuzz-build/script-corpus/
	cd fuzz-build && ./script_fuzz -max_total_time=$(FUZZ_SECONDS) \
		-max_len=16384 -dict=../tools/fuzz/script.dict -print_final_stats=1 script-corpus

fuzz-atom-run: fuzz
	cd fuzz-build && ./atom_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=65536 -print_final_stats=1 atom-corpus

fuzz-vst3-run: fuzz
	cd fuzz-build && ./vst3_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=8192 -print_final_stats=1 vst3-corpus

fuzz-clap-run: fuzz
	cd fuzz-build && ./clap_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=8192 -print_final_stats=1 clap-corpus

clean:
	rm -rf build build-asan fuzz-build
