# Entry points: `make demo`, `make test`, `make build`. Each installs what it needs first.
# The native build comes first: it makes the host tools, the compiled resources and the
# test PE files that the Windows build takes from it.

BUILD := build
PREREQS := scripts/install-prerequisites.sh
WINE_SESSION := scripts/with-wine-session.sh

.PHONY: build test demo prerequisites native win32 clean wine-session-0 wine-session-1

build: prerequisites win32

prerequisites:
	@bash $(PREREQS)

native:
	@cmake --preset native >/dev/null
	@cmake --build --preset native

win32: native
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32

# The tiers under Wine run in two sessions side by side, each with its own prefix and half of
# the end-to-end cases: a start of the 32-bit exe costs about a minute of emulated code on
# one core, and the machines that run this have two. -O keeps each session's output whole.
E2E_TESTS := $(BUILD)/native/tests/e2e/e2e_tests

test: build
	ctest --preset native -LE e2e
	@$(MAKE) --no-print-directory -j2 -O wine-session-0 wine-session-1

wine-session-0:
	bash $(WINE_SESSION) $(BUILD)/wine-test -- sh -c 'ctest --preset win32 -L wine && \
	  GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=0 $(E2E_TESTS)'

wine-session-1:
	bash $(WINE_SESSION) $(BUILD)/wine-test-1 -- env GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=1 \
	  $(E2E_TESTS)

demo: build
	bash $(WINE_SESSION) $(BUILD)/wine-demo -- bash scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
