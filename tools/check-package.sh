#!/usr/bin/env bash
# Builds the Debian package from the release preset and checks it as a user's system would see it: the control
# fields, the file list and its modes, lintian, and the desktop entry, metainfo, manual pages, completion and
# programs once unpacked.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
    echo "check-package: $*" >&2
    exit 1
}

cmake --workflow --preset package
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build/release/CPackConfig.cmake)
[ -n "$version" ] || fail "no version in build/release/CPackConfig.cmake"
deb=build/release/corvanta_${version}_amd64.deb
[ -f "$deb" ] || fail "$deb was not built"
echo "check-package: checking $deb"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
expect_field() {
    [ "$(field "$1")" = "$2" ] || fail "$1 is '$(field "$1")', expected '$2'"
}
expect_field Package corvanta
expect_field Version "$version"
expect_field Architecture amd64
expect_field Section text
expect_field Priority optional
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer '$(field Maintainer)' is no name <address>"
[[ $(field Homepage) =~ ^https?:// ]] || fail "Homepage '$(field Homepage)' is no web address"
description=$(field Description)
[[ $(head -n 1 <<<"$description") =~ ^[a-z].*[^.]$ ]] || fail "the description's synopsis is not a Debian one"
[ "$(wc -l <<<"$description")" -ge 4 ] || fail "the extended description is missing"
# Depends comes from dpkg-shlibdeps, so it names every library the programs link, with versions.
depends=", $(field Depends)"
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libxml2; do
    [[ $depends == *", $library (>= "* ]] || fail "Depends lacks $library: ${depends#, }"
done

# File list: what must be there, with its mode, and nothing outside the package's own places.
listing=$(dpkg-deb -c "$deb" | awk '{ path = $6; for (i = 7; i <= NF; i++) path = path " " $i; print $1, $2, path }')
expect_entry() { # mode path
    grep -qxF -e "$1 root/root $2" <<<"$listing" || fail "missing or wrong mode: $1 $2"
}
expect_entry lrwxrwxrwx "./usr/bin/corvanta -> ../lib/corvanta/corvanta"
expect_entry lrwxrwxrwx "./usr/bin/corvanta-join -> ../lib/corvanta/corvanta-join"
for program in corvanta corvanta-join; do
    expect_entry -rwxr-xr-x ./usr/lib/corvanta/$program
done
for file in lib/corvanta/drag.ico lib/corvanta/badxml.jpg lib/corvanta/Samples/01-teashop-main.xml \
    lib/corvanta/Video/corvanta-demo.mp4 lib/corvanta/skins/example.cjs \
    share/applications/corvanta.desktop \
    share/icons/hicolor/256x256/apps/corvanta.png share/icons/hicolor/48x48/apps/corvanta.png \
    share/icons/hicolor/scalable/apps/corvanta.svg \
    share/metainfo/example.tavrino.Corvanta.metainfo.xml \
    share/man/man1/corvanta.1.gz share/man/man1/corvanta-join.1.gz \
    share/bash-completion/completions/corvanta-join \
    share/doc/corvanta/copyright share/doc/corvanta/changelog.gz; do
    expect_entry -rw-r--r-- ./usr/$file
done
own_places='^\./usr/(bin/corvanta(-join)?|lib/corvanta/.+|share/(applications/corvanta\.desktop|icons/hicolor/.+/apps/corvanta\.(png|svg)|metainfo/.+|man/man1/corvanta(-join)?\.1\.gz|bash-completion/completions/corvanta-join|doc/corvanta/.+))( -> .*)?$'
while read -r mode owner path; do
    [ "$owner" = root/root ] || fail "$path belongs to $owner"
    case $mode in
    d*) [ "$mode" = drwxr-xr-x ] || fail "folder $path has mode $mode" ;;
    -*) [[ $mode == -rw-r--r-- || $path == ./usr/lib/corvanta/corvanta* ]] || fail "$path has mode $mode"
        [[ $path =~ $own_places ]] || fail "$path lies outside the package's own places" ;;
    l*) [[ $path =~ $own_places ]] || fail "$path lies outside the package's own places" ;;
    *) fail "$path is neither file, folder nor link" ;;
    esac
done <<<"$listing"

# Errors fail; warnings and notes are shown for the record.
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

# The installed files, unpacked where nothing else looks at them.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/corvanta.desktop" || fail "desktop-file-validate failed"
appstreamcli validate --no-net "$root/usr/share/metainfo/example.tavrino.Corvanta.metainfo.xml" ||
    fail "appstreamcli validate failed"
grep -qF "<release version=\"$version\"" "$root/usr/share/metainfo/example.tavrino.Corvanta.metainfo.xml" ||
    fail "the metainfo does not name version $version"
for page in corvanta corvanta-join; do
    file=$root/usr/share/man/man1/$page.1.gz
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null) || fail "man cannot show $page.1"
    [ -z "$warnings" ] || fail "$page.1: $warnings"
    LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$file" 2>/dev/null | grep -q "Corvanta $version" ||
        fail "$page.1 does not name version $version"
    # No display is needed to ask for the version.
    actual=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/lib/corvanta/$page" --version)
    [ "$actual" = "$page $version" ] || fail "$page --version prints '$actual'"
done
bash -n "$root/usr/share/bash-completion/completions/corvanta-join" || fail "the bash completion does not parse"
echo "check-package: $deb is sound"
