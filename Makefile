# The two commands of the README: `make demo` and `make test`. Each installs
# what the machine lacks first.
PRESETS := native i386 asan
JOBS ?= 2

.PHONY: demo test deps clean $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS))

deps:
	@scripts/install-deps.sh

# Phony targets take no pattern rules, so each preset gets its own two rules.
define preset_rules
build-$(1): deps
	cmake --preset $(1) >/dev/null
	cmake --build --preset $(1) -j $(JOBS)

test-$(1): build-$(1)
	ctest --preset $(1) -j $(JOBS)
endef
$(foreach p,$(PRESETS),$(eval $(call preset_rules,$(p))))

# Every build and every test: x86-64, the host's 32-bit platform (under
# qemu-i386) and the sanitizer build.
test: $(addprefix test-,$(PRESETS))

# The main job on the built-in default: the scene rendered with both methods.
demo: build-native
	build/native/bin/dof3d demo

clean:
	rm -rf build
