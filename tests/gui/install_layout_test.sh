#!/bin/sh
# Installs the build into a scratch prefix and checks that the program, its
# shaders, the desktop entry and the icons land where a desktop looks for
# them. Usage: install_layout_test.sh BUILD_DIR
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
fail=0
for f in bin/fyrel share/fyrel/shader.vert share/fyrel/shader.frag share/applications/fyrel.desktop \
         share/icons/hicolor/48x48/apps/fyrel.png share/icons/hicolor/256x256/apps/fyrel.png \
         share/icons/hicolor/scalable/apps/fyrel.svg; do
  if [ ! -f "$prefix/$f" ]; then
    echo "missing after install: $f"
    fail=1
  fi
done
[ -x "$prefix/bin/fyrel" ] || { echo "bin/fyrel is not executable"; fail=1; }
grep -qx 'Exec=fyrel %F' "$prefix/share/applications/fyrel.desktop" || { echo "desktop entry lacks Exec"; fail=1; }
grep -qx 'Icon=fyrel' "$prefix/share/applications/fyrel.desktop" || { echo "desktop entry lacks Icon"; fail=1; }
cmp -s "$prefix/share/fyrel/shader.frag" "$(dirname "$0")/../../resources/shader.frag" || { echo "installed shader differs"; fail=1; }
exit $fail
