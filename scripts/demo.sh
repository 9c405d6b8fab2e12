#!/usr/bin/env bash
# The update's main job on the built-in sample: installs Orlin Reelwright 4.2 (registry
# records and files) in the Wine prefix of this session, runs the real exe and shows what
# it showed and returned. Runs inside scripts/with-wine-session.sh (make demo).
set -euo pipefail
build=$(realpath "${1:-build}")
lab="$build/win32/lab"
exe="$build/win32/bin/ReelwrightUpdate.exe"

winpath() { printf 'Z:%s' "$(realpath "$1" | sed 's|/|\\|g')"; }

script="$build/demo-product.txt"
"$build/native/tests/support/print_stage_script" "$build/native/tests/fixtures" > "$script"

echo "== Sample product: Orlin Reelwright 4.2.0.0 installed in $WINEPREFIX"
"$WINE64_LOADER" "$(winpath "$lab/stage.exe")" "$(winpath "$script")"
echo "== Running ReelwrightUpdate.exe (a 32-bit program: Wine needs a minute or two to start it here)"
report=$("$WINE64_LOADER" "$(winpath "$lab/lab_run.exe")" -- "$(winpath "$exe")")
grep -q '^box\.' <<<"$report" || echo "   (no message box was shown)"
sed 's/^/   /' <<<"$report"
