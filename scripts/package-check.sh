#!/usr/bin/env bash
# Builds the Debian package from a finished release build and checks it without installing it:
# unpacks it into a temporary root, runs tessary-batch from there on the sample frames (the
# results must match the build's own), and runs lintian, appstreamcli and desktop-file-validate.
# Usage: scripts/package-check.sh [BUILD-FOLDER]   (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
build=$(cd "${1:-build/release}" && pwd)

fail() {
    echo "package-check: $*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rm -f "$build"/tessary_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$build"/tessary_*_amd64.deb)
[ -f "${debs[0]}" ] || fail "cpack wrote no tessary_VERSION_amd64.deb"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "== $(basename "$deb")"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
# The dependencies come from the libraries the programs link, so libc6 is always among them.
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "no dependencies found by dpkg-shlibdeps"

root=$work/root
dpkg-deb -x "$deb" "$root"
expected=(
    usr/bin/Tessary
    usr/bin/tessary-batch
    usr/share/applications/tessary.desktop
    usr/share/icons/hicolor/16x16/apps/tessary.png
    usr/share/icons/hicolor/32x32/apps/tessary.png
    usr/share/icons/hicolor/128x128/apps/tessary.png
    usr/share/icons/hicolor/scalable/apps/tessary.svg
    usr/share/man/man1/Tessary.1.gz
    usr/share/man/man1/tessary-batch.1.gz
    usr/share/bash-completion/completions/tessary-batch
    usr/share/zsh/vendor-completions/_tessary-batch
    usr/share/doc/tessary/copyright
    usr/share/doc/tessary/changelog.gz
)
for path in "${expected[@]}"; do
    [ -f "$root/$path" ] || fail "missing from the package: /$path"
done
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
[ -f "${metainfo[0]}" ] || fail "missing from the package: the AppStream metainfo file"

# The programs may use system libraries and nothing else: no search path into a build folder.
for program in "$root"/usr/bin/*; do
    if readelf -d "$program" | grep -Eq 'RPATH|RUNPATH'; then
        fail "$(basename "$program") carries a library search path"
    fi
    if ldd "$program" | grep -q 'not found'; then
        ldd "$program" >&2
        fail "$(basename "$program") needs a library the system lacks"
    fi
done

# Run from the unpacked root with an empty environment, away from the source and build folders.
run_packaged() {
    (cd "$work" && env -i HOME="$work" PATH=/usr/bin:/bin "$root/usr/bin/tessary-batch" "$@")
}
reported=$(run_packaged --version)
[ "$reported" = "tessary-batch $version" ] || fail "--version says \"$reported\", not $version"
echo "$reported"

samples=("$source_dir"/samples/*.jpg "$source_dir"/samples/*.gif "$source_dir"/samples/*.bmp)
demo=(--deinterlace --clip 6:4 --soften)
run_packaged -q "${demo[@]}" --output "$work/packaged" "${samples[@]}"
"$build/cli/tessary-batch" -q "${demo[@]}" --output "$work/built" "${samples[@]}"
for sample in "${samples[@]}"; do
    name=$(basename "$sample")
    cmp "$work/packaged/$name" "$work/built/$name" || fail "$name: the packaged program wrote other bytes"
done
echo "demo frames: ${#samples[@]} written, the same as the build's"

# The desktop program shows its dialog until closed: still running after a few seconds means it
# started, its Qt plugins found on the system.
status=0
(cd "$work" && env -i HOME="$work" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" \
    timeout 3 "$root/usr/bin/Tessary") || status=$?
[ "$status" -eq 124 ] || fail "Tessary ended on its own (exit status $status) instead of showing its dialog"
echo "Tessary: started"

echo "== lintian"
lintian --fail-on error "$deb" || fail "lintian found errors"
echo "== appstreamcli validate"
appstreamcli validate --no-net "${metainfo[@]}" || fail "the AppStream metainfo file does not validate"
echo "== desktop-file-validate"
desktop-file-validate "$root/usr/share/applications/tessary.desktop" ||
    fail "the desktop entry does not validate"
echo "package-check: $(basename "$deb") passed"
