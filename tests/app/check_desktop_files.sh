#!/usr/bin/env bash
# The install target puts the launcher entry, the script type and the icons where a desktop finds
# them, the Word reader where the application looks for it, and shared-mime-info maps *.cwr to the
# script type.
set -u
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "install failed"; exit 1; }
status=0
desktop="$prefix/share/applications/cuewright.desktop"
grep -qx 'Exec=cuewright %F' "$desktop" || { echo "the launcher does not hand over its files"; status=1; }
grep -q '^MimeType=.*application/x-cuewright-script;' "$desktop" || { echo "the launcher does not open scripts"; status=1; }
if command -v desktop-file-validate >/dev/null; then
  # Hints count too: two main categories put the entry twice in some menus.
  report=$(desktop-file-validate "$desktop" 2>&1)
  [[ -z $report ]] || { echo "$report"; status=1; }
fi
for icon in apps/cuewright.svg mimetypes/application-x-cuewright-script.svg; do
  [[ -s "$prefix/share/icons/hicolor/scalable/$icon" ]] || { echo "missing icon $icon"; status=1; }
done
# The application looks for its Word reader in ../libexec/cuewright from its own folder.
[[ -x "$prefix/bin/cuewright" && -x "$prefix/libexec/cuewright/cuewright-docreader" ]] ||
  { echo "the application or its Word reader is not installed where it is looked for"; status=1; }
if command -v update-mime-database >/dev/null; then
  update-mime-database "$prefix/share/mime" 2>/dev/null
  grep -q 'application/x-cuewright-script:\*\.cwr' "$prefix/share/mime/globs" || { echo "*.cwr is not a script"; status=1; }
fi
exit $status
