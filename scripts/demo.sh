#!/usr/bin/env bash
# The update's main job on the built-in sample: installs Orlin Reelwright 4.2 (registry
# records and files) in the Wine prefix of this session, runs the real exe as a user would
# (its progress dialog and closing message are read and confirmed by the lab operator) and
# shows the installed files, the registry records and the history file before and after.
# Runs inside scripts/with-wine-session.sh (make demo).
set -euo pipefail
build=$(realpath "${1:-build}")
lab="$build/win32/lab"
exe="$build/win32/bin/ReelwrightUpdate.exe"
drive_c="$WINEPREFIX/drive_c"

winpath() { printf 'Z:%s' "$(realpath "$1" | sed 's|/|\\|g')"; }
lab_tool() { "$WINE64_LOADER" "$(winpath "$lab/$1.exe")" "${@:2}"; }

records() {
  local key
  for key in \
    'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\InstallShield_{7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}' \
    'HKLM\SOFTWARE\Halvern Corporation\Shared Info\AppDB\Orlin Reelwright\PatchList\KQ0000458107' \
    'HKLM\SOFTWARE\Halvern Corporation\Orlin Reelwright\1.0\App' \
    'HKLM\SOFTWARE\Halvern Corporation\Orlin Creation Help\1.0' \
    'HKCR\.orw-xml' \
    'HKCR\halvern-orlin-reelwright\shell\open\command'; do
    echo "   [$key]"
    # The classes root is shared by both views; everything else is in the 32-bit view.
    local view=32
    [[ $key == HKCR* ]] && view=64
    lab_tool reg_read "$view" "$key" | tr -d '\r' | sed 's/^/      /; s/\t/ /g' || true
  done
}

show_product() {
  echo "-- installed files"
  "$build/native/tests/support/print_product" "$drive_c"
  echo "-- registry records"
  records
}

script="$build/demo-product.txt"
"$build/native/tests/support/print_stage_script" "$build/native/tests/fixtures" > "$script"

echo "== Sample product: Orlin Reelwright 4.2.0.0 installed in $WINEPREFIX"
lab_tool stage "$(winpath "$script")"
show_product
echo
echo "== Running ReelwrightUpdate.exe (a 32-bit program: Wine needs a minute or two to start it here)"
report=$(lab_tool lab_run -- "$(winpath "$exe")" | tr -d '\r')
grep -q '^box\.' <<<"$report" || echo "   (no message box was shown)"
sed 's/^/   /' <<<"$report"
echo
echo "== After the update"
show_product
