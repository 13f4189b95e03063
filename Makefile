# Entry points (on a fresh Debian 12 machine through `bash make.sh run|test`,
# which first installs the packages, make included):
#   make run    install what is missing, build, start the program
#   make test   install what is missing, check the format, build, run every test (also
#               under sanitizers), and build a Release build; warnings are errors here
JOBS ?= 2
CMAKE_FLAGS ?=
RELEASE := build/release
ASAN := build/asan
TSAN := build/tsan

.PHONY: deps build run test test-format test-release test-asan test-tsan test-release-build bench bench-fast fuzz format clean

# The test command's builds treat warnings as errors; a plain build reports them.
TEST_FLAGS := -DZELK_WERROR=ON

deps:
	@bash scripts/deps.sh

build: deps
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build $(RELEASE) -j$(JOBS)

# Only what runs: the programs, not the tests.
run: deps
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build $(RELEASE) -j$(JOBS) --target programs
	@bash scripts/run.sh $(RELEASE)

test: test-format test-release test-asan test-tsan test-release-build

# The tree stays as clang-format lays it out (see .clang-format).
test-format: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

test-release: deps
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(TEST_FLAGS) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(RELEASE) -j$(JOBS)
	bash scripts/test.sh $(RELEASE)

# A Release build of the programs (NDEBUG, -O3) must be free of warnings too.
REL := build/rel
test-release-build: deps
	cmake -S . -B $(REL) -DCMAKE_BUILD_TYPE=Release -DZELK_TESTS=OFF $(TEST_FLAGS) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(REL) -j$(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELK_SANITIZE=address $(TEST_FLAGS) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(ASAN) -j$(JOBS)
	bash scripts/test.sh $(ASAN)

# ThreadSanitizer runs every suite but the dialog's (Qt is not built for it);
# only their programs are built.
TSAN_LABELS := platform base rules solver run update cli
TSAN_TARGETS = $(foreach l,$(TSAN_LABELS),$(if $(wildcard tests/$(l)/*.cpp),test_$(l)))
test-tsan: deps
	cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELK_SANITIZE=thread -DZELK_GUI=OFF $(TEST_FLAGS) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(TSAN) -j$(JOBS) --target $(TSAN_TARGETS)
	bash scripts/test.sh $(TSAN) -L '$(subst $(eval) ,|,$(strip $(TSAN_LABELS)))'

bench: build
	cmake --build $(RELEASE) -j$(JOBS) --target zelkbench
	$(RELEASE)/bench/zelkbench

bench-fast: build
	cmake --build $(RELEASE) -j$(JOBS) --target fastbench
	$(RELEASE)/bench/fastbench

# Fuzzes the XML reader for FUZZ_SECONDS with libFuzzer, ASan and UBSan.
FUZZ_SECONDS ?= 600
FUZZ := build/fuzz
fuzz: deps
	mkdir -p $(FUZZ)/corpus
	clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
	  -I. tests/fuzz/xmldoc_fuzz.cpp update/xmldoc.cpp update/entities.cpp platform/text.cpp \
	  -o $(FUZZ)/xmldoc_fuzz
	$(FUZZ)/xmldoc_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	  -dict=tests/fuzz/xml.dict $(FUZZ)/corpus tests/fuzz/corpus

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
