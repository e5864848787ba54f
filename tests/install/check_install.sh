#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that a desktop finds
# the program there: both programs, menu entry, icons, metainfo, man pages,
# with the menu entry and the metainfo passing Debian's validators.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

status=0
for f in bin/trackmill bin/trackmill-batch \
         share/applications/org.example.trackmill.desktop \
         share/metainfo/org.example.trackmill.metainfo.xml \
         share/icons/hicolor/scalable/apps/trackmill.svg \
         share/icons/hicolor/48x48/apps/trackmill.png \
         share/icons/hicolor/256x256/apps/trackmill.png \
         share/man/man1/trackmill.1 share/man/man1/trackmill-batch.1 \
         share/doc/trackmill/README.md; do
  [ -s "$prefix/$f" ] || { echo "missing after install: $f"; status=1; }
done
[ -x "$prefix/bin/trackmill-batch" ] && "$prefix/bin/trackmill-batch" --help >/dev/null ||
  { echo "the installed trackmill-batch does not run"; status=1; }

desktop-file-validate "$prefix/share/applications/org.example.trackmill.desktop" || status=1
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/org.example.trackmill.metainfo.xml" >/dev/null ||
  { appstreamcli validate --no-net "$prefix/share/metainfo/org.example.trackmill.metainfo.xml"; status=1; }
# The version is the project's, filled in everywhere it is shown.
grep -q "@PROJECT_VERSION@" "$prefix/share/metainfo/org.example.trackmill.metainfo.xml" \
     "$prefix/share/man/man1/"*.1 && { echo "a version was left unfilled"; status=1; }
for page in trackmill trackmill-batch; do
  warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || { echo "$page.1: $warnings"; status=1; }
done
exit $status
