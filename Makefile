# Entry points: `make demo`, `make test`, `make build`. Each installs what it needs first.
# The native build comes first: it makes the host tools, the compiled resources and the
# test PE files that the Windows build takes from it.

BUILD := build
PREREQS := scripts/install-prerequisites.sh
WINE_SESSION := scripts/with-wine-session.sh

.PHONY: build test demo prerequisites native win32 clean

build: prerequisites win32

prerequisites:
	@bash $(PREREQS)

native:
	@cmake --preset native >/dev/null
	@cmake --build --preset native

win32: native
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32

test: build
	ctest --preset native -LE e2e
	bash $(WINE_SESSION) $(BUILD)/wine-test -- ctest --preset win32 -L wine
	bash $(WINE_SESSION) $(BUILD)/wine-test -- ctest --preset native -L e2e

demo: build
	bash $(WINE_SESSION) $(BUILD)/wine-demo -- bash scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
