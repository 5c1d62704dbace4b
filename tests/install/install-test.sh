#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop and a package manager
# meet: every file in its place, the desktop entry and the AppStream metadata valid, the
# installed program starting and finding its help, and the Debian package holding the same files.
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$root/usr
cmake --install "$build" --prefix "$prefix" >/dev/null
expected=(
    bin/ulen3 bin/ulen3-cli bin/ulen3-emu libexec/ulen3/ulen3-draw
    share/ВЕСКОР/index.html
    share/applications/com.dornvale.ulen3.desktop
    share/metainfo/com.dornvale.ulen3.metainfo.xml
    share/icons/hicolor/scalable/apps/ulen3.svg
    share/man/man1/ulen3.1.gz share/man/man1/ulen3-cli.1.gz share/man/man1/ulen3-emu.1.gz
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/ulen3.png")
done
for f in "${expected[@]}"; do
    [ -s "$prefix/$f" ] || fail "the install lacks $f"
done
for size in 16 48 256; do
    file "$prefix/share/icons/hicolor/${size}x${size}/apps/ulen3.png" | grep -q "PNG image data, $size x $size" ||
        fail "the ${size}x${size} icon is not a PNG of that size"
done

desktop-file-validate "$prefix/share/applications/com.dornvale.ulen3.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$prefix/share/metainfo/com.dornvale.ulen3.metainfo.xml" >/dev/null ||
    fail "AppStream metadata: $(appstreamcli validate --no-net "$prefix/share/metainfo/com.dornvale.ulen3.metainfo.xml")"
for page in ulen3 ulen3-cli ulen3-emu; do
    warnings=$(man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null || true)
    [ -z "$warnings" ] || fail "manual page $page: $warnings"
done

# The installed program finds the installed pages, and starts with a table to open.
help=$("$prefix/bin/ulen3" --help)
grep -qF "Справка: $prefix/share/ВЕСКОР/index.html" <<<"$help" || fail "the installed ulen3 does not find its help: $help"
"$prefix/bin/ulen3-cli" demo "$root/survey.db" >/dev/null
# The installed command line finds its drawing helper.
"$prefix/bin/ulen3-cli" print "$root/survey.db" "$root/report.pdf" >/dev/null || fail "the installed ulen3-cli does not print"
pdfinfo "$root/report.pdf" >/dev/null || fail "the installed ulen3-cli printed no PDF"
status=0
XDG_CONFIG_HOME=$root/config QT_QPA_PLATFORM=offscreen timeout 6 "$prefix/bin/ulen3" "$root/survey.db" >/dev/null 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "the installed ulen3 ended with status $status instead of running"

# The Debian package: the same files under /usr, and the libraries it needs.
(cd "$root" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$root/package" >/dev/null) || fail "cpack"
deb=$(ls "$root"/package/ulen3_*.deb)
listing=$(dpkg-deb -c "$deb")
for f in "${expected[@]}"; do
    grep -qF "./usr/$f" <<<"$listing" || fail "the package lacks /usr/$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt6widgets6 libqt6serialport6 libicu qt6-translations-l10n libqt6svg6; do
    grep -q "$dep" <<<"$depends" || fail "the package does not depend on $dep: $depends"
done
echo "installed and packaged: ${#expected[@]} files, $(basename "$deb")"
