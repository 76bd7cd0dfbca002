#!/bin/sh
# Installs the build into a scratch prefix and checks that the program, its
# shaders, the desktop entry and the icons land where a desktop looks for
# them, and that the thumbnailer and the model files' types are installed
# and read by shared-mime-info. Usage: install_layout_test.sh BUILD_DIR
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
fail=0
for f in bin/fyrel share/fyrel/shader.vert share/fyrel/shader.frag share/applications/fyrel.desktop \
         share/icons/hicolor/48x48/apps/fyrel.png share/icons/hicolor/256x256/apps/fyrel.png \
         share/icons/hicolor/scalable/apps/fyrel.svg bin/fyrel-render bin/fyrel-thumbnail \
         share/thumbnailers/fyrel.thumbnailer share/mime/packages/fyrel-models.xml; do
  if [ ! -f "$prefix/$f" ]; then
    echo "missing after install: $f"
    fail=1
  fi
done
[ -x "$prefix/bin/fyrel" ] || { echo "bin/fyrel is not executable"; fail=1; }
grep -qx 'Exec=fyrel %F' "$prefix/share/applications/fyrel.desktop" || { echo "desktop entry lacks Exec"; fail=1; }
grep -qx 'Icon=fyrel' "$prefix/share/applications/fyrel.desktop" || { echo "desktop entry lacks Icon"; fail=1; }
cmp -s "$prefix/share/fyrel/shader.frag" "$(dirname "$0")/../../resources/shader.frag" || { echo "installed shader differs"; fail=1; }
# The types become globs a file manager reads (a malformed package file
# would make update-mime-database fail).
update-mime-database "$prefix/share/mime" > /dev/null 2>&1 || { echo "update-mime-database refuses the types"; fail=1; }
for glob in 'model/x-ms3d:*.ms3d' 'model/x-directx:*.x' 'model/x-fbx:*.fbx' 'model/x-iqm:*.iqm'; do
  grep -qF ":$glob" "$prefix/share/mime/globs2" 2>/dev/null || { echo "no glob $glob"; fail=1; }
done
exit $fail
