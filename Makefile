# Sonalto: the two commands of a fresh machine are `make run` and `make test`.
# Each target first installs the missing Debian packages, then configures and builds under build/.

JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/asan
FUZZ_DIR := build/fuzz

.PHONY: all setup release run test asan e2e e2e-program bench package fuzz screenshots install clean format

all: release

setup:
	@bash scripts/setup.sh

# The release tree holds what users run, the benchmarks and the package; never the test suite.
$(RELEASE_DIR)/CMakeCache.txt: | setup
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONALTO_TESTS=OFF

release: setup $(RELEASE_DIR)/CMakeCache.txt
	cmake -S . -B $(RELEASE_DIR) -DSONALTO_TESTS=OFF >/dev/null
	cmake --build $(RELEASE_DIR) -j $(JOBS)

# A first start builds the program only.
run: setup $(RELEASE_DIR)/CMakeCache.txt
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target sonalto
	./$(RELEASE_DIR)/app/sonalto

# The Debian package (build/release/sonalto_VERSION_amd64.deb), made by CPack from the install rules.
package: release
	cd $(RELEASE_DIR) && cpack -G DEB

# The end-to-end tests drive the release program, as users run it.
E2E_PROGRAM := $(CURDIR)/$(RELEASE_DIR)/app/sonalto

$(TEST_DIR)/CMakeCache.txt: | setup
	cmake -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=Debug -DSONALTO_SANITIZE=ON -DSONALTO_E2E_PROGRAM=$(E2E_PROGRAM)

asan: setup $(TEST_DIR)/CMakeCache.txt
	cmake --build $(TEST_DIR) -j $(JOBS)

e2e-program: setup $(RELEASE_DIR)/CMakeCache.txt
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target sonalto

# The suite drives the release program end to end and checks the package made from the release tree.
test: asan package
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS)

# Only the program driven under X on each private sound server (screenshots under build/asan/e2e-*).
e2e: e2e-program $(TEST_DIR)/CMakeCache.txt
	cd $(TEST_DIR) && ctest --output-on-failure -R '^e2e_'

bench: release
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target benchmarks
	bash bench/run.sh $(RELEASE_DIR)

# The pictures of the README, and those of the help pages under resources/aide/images.
screenshots: release
	QT_QPA_PLATFORM=offscreen ./$(RELEASE_DIR)/app/sonalto_screenshots docs/screenshots resources/aide/images

# Installs the program, its help pages, its desktop entry and icon under PREFIX (default /usr/local).
install: release
	cmake --install $(RELEASE_DIR) $(if $(PREFIX),--prefix $(PREFIX))

fuzz: setup
	bash scripts/fuzz.sh $(FUZZ_DIR)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
