# The two commands of the README: `make demo` and `make test`. Each installs
# what the machine lacks first.
PRESETS := native i386 asan
JOBS ?= 2

.PHONY: demo test deps $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS)) clean

deps:
	@scripts/install-deps.sh

build-%: deps
	cmake --preset $* >/dev/null
	cmake --build --preset $* -j $(JOBS)

test-%: build-%
	ctest --preset $* -j $(JOBS)

# Every build and every test: x86-64, the host's 32-bit platform (under
# qemu-i386) and the sanitizer build.
test: $(addprefix test-,$(PRESETS))

# The main job on the built-in default.
demo: build-native
	build/native/bin/dof3d demo

clean:
	rm -rf build
