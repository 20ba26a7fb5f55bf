#!/bin/sh
# Refreshes the screenshots the AppStream data names from the pictures the window tests save
# at a device pixel ratio of 2.
#   update-screenshots.sh [BUILD_DIR]
set -eu
build=${1:-build}
here=$(cd "$(dirname "$0")/../.." && pwd)
export QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2
"$build/bin/test_shell_gui" --gtest_filter='MainWindowHiDpi.*' >/dev/null
"$build/bin/test_screening_gui" --gtest_filter='ScreeningWindowHiDpi.*' >/dev/null
cp "$build/bin/main_window@2x.png" "$here/data/screenshots/main_window.png"
cp "$build/bin/screening_window@2x.png" "$here/data/screenshots/screening_window.png"
echo "updated data/screenshots/main_window.png and screening_window.png"
