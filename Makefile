# The two everyday commands: `make run` and `make test`. Both install what is missing first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
PORT       ?= 8470
DATA       ?= $(HOME)/.local/share/Vendaro/bidlark-service
GENERATOR  := -G Ninja

.PHONY: all deps configure build run test test-asan bench fuzz format clean

all: build

deps:
	@scripts/setup-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

run: build
	@scripts/run-local $(BUILD) $(PORT) "$(DATA)"

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DBIDLARK_SANITIZE=ON
	cmake --build $(ASAN_BUILD)
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j2

bench: build
	@scripts/run-benchmarks $(BUILD)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DBIDLARK_FUZZ=ON -DBIDLARK_GUI=OFF
	cmake --build $(FUZZ_BUILD) --target fuzz_keywords
	$(FUZZ_BUILD)/fuzz/fuzz_keywords -max_total_time=$${FUZZ_SECONDS:-180} -max_len=4096

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
