# The front door: every target installs what is missing, builds, and runs.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WERROR ?= ON
PREFIX ?= /usr/local
CMAKE_FLAGS ?=
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZERS := decode_frame snoop_reader pcap_run read_options merge_reader capture_file_reader

SAMPLE := data/sample.pcap

# The build's progress without a line for every directory make enters.
MAKEFLAGS += --no-print-directory

.PHONY: all deps build build-sanitize demo test test-unit test-sanitize bench fuzz install package clean

all: build

deps:
	@sh scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DTALLYWIRE_WERROR=$(WERROR) \
		-DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

build-sanitize: deps
	@cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DTALLYWIRE_WERROR=$(WERROR) \
		-DTALLYWIRE_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS)

# The main job on the bundled sample capture: every statistic, numbers only.
demo: build
	@$(BUILD_DIR)/src/tallywire -S a -n -r $(SAMPLE)

test: test-unit test-sanitize

test-unit: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

test-sanitize: build-sanitize
	@cd $(SANITIZE_DIR) && \
		ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# Release build in build-bench/, timed against the libpcap read floor; writes
# docs/performance.md. Missed targets are reported, not failed.
bench: deps
	@JOBS=$(JOBS) bash scripts/bench

# The binary and the manual page under $(PREFIX), below $(DESTDIR) when it
# is given (a staging root, as packagers use).
install: build
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# A Debian package of the same files, installing into /usr; left in
# $(BUILD_DIR), and its path printed. CPack's chatter goes to cpack.log there.
package: build
	@cd $(BUILD_DIR) && cpack -G DEB --config CPackConfig.cmake >cpack.log 2>&1 \
		|| { cat cpack.log >&2; exit 1; }
	@sed -n 's/^CPack: - package: \(.*\) generated\.$$/\1/p' $(BUILD_DIR)/cpack.log

# Every libFuzzer target for FUZZ_SECONDS, from the generator's seeds; new
# inputs collect in $(FUZZ_DIR)/corpus, findings in $(FUZZ_DIR)/findings and
# fail the target. Warnings do not stop it: the warning gate is the g++ build.
fuzz: deps
	@cmake -S . -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DTALLYWIRE_FUZZ=ON -DTALLYWIRE_TESTS=OFF -DTALLYWIRE_WERROR=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS)
	@bash fuzz/run_fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZERS)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) build-bench build-fuzz
