#!/usr/bin/env bash
# Builds the Debian package of a build folder and checks it as a user meets it:
# its file list, lintian, then installed with dpkg: --version of both programs,
# the manual pages rendered without a warning, the desktop entry, the icons,
# the bash completion, and kestra-cli on a demo volume judged by fsck.fat.
# Installing needs root; without it the installed half is skipped (exit 77).
set -euo pipefail
build=$(cd "${1:?usage: package_check.sh BUILD_DIR VERSION}" && pwd)
version=${2:?usage: package_check.sh BUILD_DIR VERSION}
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "package check: $*" >&2
    exit 1
}

(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$work/pkg/kestra_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no package $deb"

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"
gui=false
grep -qx /usr/bin/kestra "$work/files" && gui=true
expected=(/usr/bin/kestra-cli /usr/share/man/man1/kestra-cli.1.gz
    /usr/share/bash-completion/completions/kestra-cli /usr/share/kestra/help/index.html
    /usr/share/doc/kestra/copyright /usr/share/doc/kestra/changelog.gz)
if $gui; then
    expected+=(/usr/share/man/man1/kestra.1.gz /usr/share/applications/kestra.desktop)
    for size in 16 22 24 32 48 64 128 256; do
        expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/kestra.png")
    done
fi
for f in "${expected[@]}"; do
    grep -qx "$f" "$work/files" || fail "the package lacks $f"
done
dpkg-deb -f "$deb" Depends | grep -q libpng16 || fail "no dependency on libpng declared"
echo "package: $(basename "$deb"), ${#expected[@]} files checked, depends: $(dpkg-deb -f "$deb" Depends)"

if command -v lintian >/dev/null; then
    lintian --allow-root --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || true
    cat "$work/lintian"
    ! grep -q '^E:' "$work/lintian" || fail "lintian found errors"
else
    echo "lintian not installed: skipped"
fi

if [[ $(id -u) -ne 0 ]]; then
    echo "not root: the package is not installed"
    exit 77
fi
# Another dpkg may hold the lock for a while; missing libraries come from apt.
for try in $(seq 1 40); do
    if dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then break; fi
    if grep -q "lock" "$work/dpkg.log"; then
        sleep 3
        continue
    fi
    apt-get install -f -y -q -o DPkg::Lock::Timeout=120 >>"$work/dpkg.log" 2>&1 ||
        { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }
    break
done
[[ $(dpkg-query -W -f='${Status} ${Version}' kestra) == "install ok installed $version" ]] ||
    { cat "$work/dpkg.log" >&2; fail "kestra $version is not installed"; }

[[ $(/usr/bin/kestra-cli --version) == "kestra-cli $version" ]] || fail "kestra-cli --version"
echo "installed: $(/usr/bin/kestra-cli --version)"
pages=(kestra-cli)
if $gui; then
    pages+=(kestra)
    # No display is needed to learn the version.
    [[ $(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/kestra --version) == "kestra $version" ]] ||
        fail "kestra --version"
    desktop-file-validate /usr/share/applications/kestra.desktop || fail "desktop entry"
    for size in 16 48 256; do
        png=/usr/share/icons/hicolor/${size}x${size}/apps/kestra.png
        # The width and height of a PNG: the first two words of its IHDR chunk.
        [[ $(od -An -tx1 -j16 -N8 "$png" | tr -d ' \n') == "$(printf '%08x%08x' "$size" "$size")" ]] ||
            fail "$png is not $size by $size"
    done
fi
for page in "${pages[@]}"; do
    out=$(MANWIDTH=80 man --warnings -E UTF-8 "$page" 2>&1 >"$work/$page.txt") ||
        fail "man $page failed"
    [[ -z $out ]] || fail "man $page warns: $out"
    grep -q "EXIT STATUS" "$work/$page.txt" || fail "man $page has no EXIT STATUS"
    grep -q "kestra $version" "$work/$page.txt" || fail "man $page does not name version $version"
    echo "man $page: $(wc -l <"$work/$page.txt") lines, no warnings"
done
bash "$here/completion_test.sh" /usr/share/bash-completion/completions/kestra-cli

cd "$work"
/usr/bin/kestra-cli demo demo >/dev/null || fail "kestra-cli demo"
/usr/bin/kestra-cli check demo/demo.img >"$work/check.txt" || { cat "$work/check.txt"; fail "check"; }
if command -v fsck.fat >/dev/null; then
    fsck.fat -n demo/demo.img >/dev/null || fail "fsck.fat -n finds faults in the demo volume"
fi
echo "installed kestra-cli: demo defragmented, check clean, fsck.fat -n clean"
