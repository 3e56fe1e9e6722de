#!/usr/bin/env bash
# Checks the desktop integration and the Debian package: `scripts/check-package.sh [DEB]`
# (default: the newest kavrel_*_amd64.deb in the project folder). Runs appstreamcli validate on
# the metainfo, desktop-file-validate on the desktop entry, lintian on the package, and checks
# that the package holds what it should. Exit 1 on any error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
deb=${1:-$(ls -t kavrel_*_amd64.deb 2>/dev/null | head -n 1)}
[ -n "$deb" ] && [ -f "$deb" ] || { echo "check-package: no package; run scripts/package.sh" >&2; exit 1; }
for tool in appstreamcli desktop-file-validate lintian; do
    command -v "$tool" >/dev/null || { echo "check-package: needs $tool" >&2; exit 1; }
done
id=com.morvanedata.Kavrel
failed=0

echo "== appstreamcli validate"
appstreamcli validate --no-net "app/resources/$id.metainfo.xml" || failed=1
echo "== desktop-file-validate"
desktop-file-validate "app/resources/$id.desktop" && echo "no errors" || failed=1
echo "== lintian $deb"
# lintian's exit status counts errors only; warnings are printed for the reader.
lintian --info --display-info "$deb" || failed=1

echo "== contents"
contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for want in ./usr/bin/kavrel ./usr/libexec/kavrel/kavrel-window ./usr/share/applications/$id.desktop \
    ./usr/share/metainfo/$id.metainfo.xml ./usr/share/icons/hicolor/scalable/apps/$id.svg \
    ./usr/share/icons/hicolor/16x16/apps/$id.png ./usr/share/icons/hicolor/256x256/apps/$id.png \
    ./usr/share/man/man1/kavrel.1.gz ./usr/share/doc/kavrel/copyright; do
    if ! grep -qxF "$want" <<<"$contents"; then
        echo "missing: $want"
        failed=1
    fi
done
dpkg-deb --field "$deb" Package Version Architecture Depends
exit $failed
