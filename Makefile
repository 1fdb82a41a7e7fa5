# The two commands of the README: `make run` and `make test`.
# Both install what is missing, configure once and build incrementally.

BUILD_DIR  ?= build
ASAN_DIR   ?= build-asan
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
JOBS       ?= $(shell nproc)
CTEST_ARGS ?=
PREFIX     ?= /usr/local

.PHONY: run test build bootstrap asan bench format screenshots install clean

run: build
	cd $(BUILD_DIR) && ./ornbrook

test: build
	QT_QPA_PLATFORM=offscreen ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) $(CTEST_ARGS)

bootstrap:
	@scripts/bootstrap

$(BUILD_DIR)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BUILD_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DORNBROOK_WERROR=ON

build: bootstrap $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

# AddressSanitizer + UndefinedBehaviorSanitizer build of the whole test suite.
asan: bootstrap
	cmake -S . -B $(ASAN_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DORNBROOK_WERROR=ON -DORNBROOK_SANITIZE=ON
	cmake --build $(ASAN_DIR) -j $(JOBS)
	QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS) $(CTEST_ARGS)

bench: build
	cmake --build $(BUILD_DIR) --target benchmarks -j $(JOBS)
	scripts/run-benchmarks $(BUILD_DIR)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# The program, its desktop file, icon and AppStream metainfo under $(PREFIX)
# (DESTDIR=... stages it for a package).
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

screenshots: build
	scripts/screenshots $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)
