#!/bin/sh
# Builds the Debian package from the build tree, unpacks it into a scratch root and checks that
# what a user would install works from there: the programs run and find their templates through
# the relative path, the control data names what the package needs, and the desktop files pass
# the desktop's own validators.
#   package_test.sh BUILD_DIR CPACK VERSION
set -u
build=$1
cpack=$2
version=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/lp_package_test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
check() {  # check WHAT COMMAND...: the command must succeed
  what=$1
  shift
  "$@" >"$work/out" 2>&1 || {
    fail "$what"
    sed 's/^/    /' "$work/out" >&2
  }
}

# Packaging straight from the build tree, into a folder of its own, so a package the user built
# with `make package` is left alone.
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack did not build the package" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
deb="$work/pkg/lumenpick_${version}_${arch}.deb"
[ -f "$deb" ] || { ls "$work/pkg" >&2; echo "FAIL: no $(basename "$deb")" >&2; exit 1; }

# Control data.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = lumenpick ] || fail "package name: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "package version: $(field Version)"
depends=$(field Depends)
for need in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6svg6 fonts-noto-cjk qt6-translations-l10n libc6; do
  case ", $depends," in
    *", $need"[\ ,\(]*) ;;
    *) fail "Depends does not name $need: $depends" ;;
  esac
done
description=$(field Description)
case $description in *"stock screener"*) ;; *) fail "no English description" ;; esac
case $description in *"銘柄を選択する"*) ;; *) fail "no Japanese description" ;; esac

# Unpacked as apt would lay it out.
root="$work/root"
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x" >&2; exit 1; }
usr="$root/usr"
for f in bin/lumenpick bin/lumenpick-cli bin/lumenpick-price-server bin/lumenpick-sample-market \
         share/lumenpick/settei.txt share/lumenpick/init.txt share/lumenpick/cmd.txt \
         share/lumenpick/systemd/lumenpick-daily.service \
         share/lumenpick/systemd/lumenpick-daily.timer \
         share/applications/lumenpick.desktop \
         share/metainfo/io.github.lumenpick.LumenPick.metainfo.xml \
         share/icons/hicolor/scalable/apps/lumenpick.svg \
         share/man/man1/lumenpick-cli.1.gz \
         share/bash-completion/completions/lumenpick-cli; do
  [ -f "$usr/$f" ] || fail "not in the package: /usr/$f"
done
for size in 48 128 256; do
  png="$usr/share/icons/hicolor/${size}x${size}/apps/lumenpick.png"
  case $(file -b "$png" 2>&1) in
    "PNG image data, $size x $size,"*) ;;
    *) fail "icon ${size}x${size}: $(file -b "$png" 2>&1)" ;;
  esac
done
# Debug sections are stripped: an installed program is not ten times its size.
case $(file -b "$usr/bin/lumenpick-cli") in
  *", stripped"*) ;;
  *) fail "lumenpick-cli is not stripped" ;;
esac

# Both programs print the version the package carries (neither needs a display for it).
cli="$usr/bin/lumenpick-cli"
[ "$("$cli" --version 2>&1)" = "lumenpick-cli $version" ] || fail "lumenpick-cli --version: $("$cli" --version 2>&1)"
[ "$("$usr/bin/lumenpick" --version 2>&1)" = "lumenpick $version" ] ||
  fail "lumenpick --version: $("$usr/bin/lumenpick" --version 2>&1)"
"$cli" --help >"$work/help" 2>&1 || fail "lumenpick-cli --help exits non-zero"
grep -q '^  screen ' "$work/help" || fail "--help does not list screen"

# A screening on a small market, with documents the program has never seen: the first run
# copies the templates it finds at ../share/lumenpick (there are none beside the unpacked bin/).
docs="$work/documents"
mkdir -p "$docs"
product="$docs/nordhaven/lumenpick"
"$cli" screen --documents "$docs" --today 20240628 >"$work/first" 2>&1
for t in settei.txt init.txt cmd.txt; do
  cmp -s "$usr/share/lumenpick/$t" "$product/$t" || fail "$t not copied from /usr/share/lumenpick"
done
check "sample market" "$usr/bin/lumenpick-sample-market" --codes 80 --years 1 --end 20240628 \
  --database "$product/kabuka_db"
check "screen on the sample market" "$cli" screen --documents "$docs" --today 20240628 \
  --criteria 1 --set kabukamin=1 --set kabukamax=100000
cp "$work/out" "$work/screen"
grep -Eq '^1 [0-9]+/[0-9]+$' "$work/screen" || { fail "screen printed no count line"; cat "$work/screen" >&2; }
[ -s "$product/user/sel0_out.csv" ] || fail "screen wrote no sel0_out.csv"

# The desktop's own validators on the installed files.
check "desktop-file-validate" desktop-file-validate "$usr/share/applications/lumenpick.desktop"
check "appstreamcli validate" appstreamcli validate --no-net \
  "$usr/share/metainfo/io.github.lumenpick.LumenPick.metainfo.xml"
grep -q "release version=\"$version\"" "$usr/share/metainfo/io.github.lumenpick.LumenPick.metainfo.xml" ||
  fail "metainfo does not name release $version"

# The manual page renders without complaint and documents every command --help lists.
man_page="$work/lumenpick-cli.1"
gzip -dc "$usr/share/man/man1/lumenpick-cli.1.gz" >"$man_page" || fail "manual page is no gzip"
if command -v groff >/dev/null 2>&1; then
  warnings=$(groff -k -man -Tutf8 -ww -z "$man_page" 2>&1)
  [ -z "$warnings" ] || fail "groff warns: $warnings"
fi
sed -n 's/^  \([a-z][a-z0-9-]*\).*/\1/p' "$work/help" >"$work/commands"
[ -s "$work/commands" ] || fail "no commands read from --help"
while read -r command; do
  pattern=$(printf '%s' "$command" | sed 's/-/\\\\-/g')
  grep -q "^\.B $pattern\( \|$\)" "$man_page" || fail "manual page lacks command $command"
done <"$work/commands"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package $(basename "$deb") passed"
