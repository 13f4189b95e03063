# Entry points (on a fresh Debian 12 machine through `bash make.sh run|test`,
# which first installs the packages, make included):
#   make run    install what is missing, build, start the program
#   make test   install what is missing, build, run every test (also under sanitizers)
JOBS ?= 2
CMAKE_FLAGS ?=
RELEASE := build/release
ASAN := build/asan
TSAN := build/tsan

.PHONY: deps build run test test-release test-asan test-tsan bench bench-fast fuzz format clean

deps:
	@bash scripts/deps.sh

build: deps
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build $(RELEASE) -j$(JOBS)

run: build
	@bash scripts/run.sh $(RELEASE)

test: test-release test-asan test-tsan

test-release: build
	bash scripts/test.sh $(RELEASE)

test-asan: deps
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELK_SANITIZE=address $(CMAKE_FLAGS) >/dev/null
	cmake --build $(ASAN) -j$(JOBS)
	bash scripts/test.sh $(ASAN)

# ThreadSanitizer runs every suite but the dialog's (Qt is not built for it);
# only their programs are built.
TSAN_LABELS := platform base rules solver run update cli
TSAN_TARGETS = $(foreach l,$(TSAN_LABELS),$(if $(wildcard tests/$(l)/*.cpp),test_$(l)))
test-tsan: deps
	cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELK_SANITIZE=thread -DZELK_GUI=OFF $(CMAKE_FLAGS) >/dev/null
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
