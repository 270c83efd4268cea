# The helper's everyday commands. `make test` is the one the README and CI use.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build package demo bench fuzz macos-check test test-asan test-tsan test-static \
	format-check ci clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

# The Debian package, quillmate-dictate_<version>_<arch>.deb in build/, checked by lintian.
package: build
	cd build && cpack -G DEB
	lintian --fail-on error build/quillmate-dictate_*.deb

# A real dictation: a private audio server, recorded speech, the status lines as they arrive.
demo: build
	scripts/demo

# The helper beside pocketsphinx_continuous on the same recordings; prints a Markdown table.
bench: build
	bench/compare.py

# Installs what is missing, configures, builds and runs the whole suite, slow tests included.
test: build
	ctest --test-dir build --output-on-failure -j $(JOBS)
	@if grep -q "SKIPPED: " build/Testing/Temporary/LastTest.log; then \
	  echo "note: fault tests that did not run here:"; \
	  grep -ho "SKIPPED: [^']*" build/Testing/Temporary/LastTest.log | sort -u; fi

# The suite again under AddressSanitizer with UndefinedBehaviorSanitizer, then ThreadSanitizer.
# A sanitizer that reports a crash ends the process after the helper's last line, with status 1
# as that line says (ThreadSanitizer's own default would be 66).
# The slow test only waits out the real session cap and is left to `make test`.
test-asan: deps
	cmake -S . -B build-asan -DQUILLMATE_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS) -LE slow

test-tsan: deps
	cmake -S . -B build-tsan -DQUILLMATE_SANITIZE=thread $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp exitcode=1" \
	  ctest --test-dir build-tsan --output-on-failure -j $(JOBS) -LE slow

# The helper with utf8proc linked in, as it ships on macOS: it must need no libutf8proc.so and
# still write its status lines.
test-static: deps
	cmake -S . -B build-static -DQUILLMATE_STATIC_UTF8PROC=ON $(CMAKE_FLAGS)
	cmake --build build-static -j $(JOBS) --target quillmate-dictate quillmate-dictate-scripted
	ctest --test-dir build-static --output-on-failure -R 'process\.(linkage|scripted_process)'

# The status-line writer and the English written forms under libFuzzer for FUZZ_SECONDS each,
# from the corpora in fuzz/.
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DQUILLMATE_FUZZ=ON -DBUILD_TESTING=OFF \
	  -DQUILLMATE_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target status_line_fuzzer written_forms_fuzzer
	mkdir -p build-fuzz/corpus build-fuzz/written-corpus
	build-fuzz/fuzz/status_line_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=20000 \
	  -print_final_stats=1 build-fuzz/corpus fuzz/corpus
	build-fuzz/fuzz/written_forms_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=4000 \
	  -print_final_stats=1 build-fuzz/written-corpus fuzz/written-corpus

# Compile-checks the macOS adapter against the declaration-only SDK shim beside the project.
# It proves the Objective-C++ matches those declarations, nothing about how it runs.
SHIM ?= ../shared/macos-sdk-shim
macos-check: deps
	SHIM_WERROR=1 bash $(SHIM)/check.sh -I$(CURDIR) $$(git ls-files '*.mm')

format-check: deps
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h' '*.mm')

ci: test format-check macos-check test-static test-asan test-tsan fuzz

clean:
	rm -rf build build-asan build-tsan build-static build-fuzz
