#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop
# expects there: the files in their folders, the menu entry and the AppStream
# file pass their validators, and the installed program finds its page in
# share/varnholt/ (the page sends "uiReady"; the fallback page does not).
# With --deb also builds the .deb and checks it holds the same files.
#   tests/install/install_test.sh BUILD_DIR [--deb]
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/varnholt-install.XXXXXX")
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install: FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
id=org.varnholt.Varnholt
expected="bin/varnholt
bin/varnholt-lsp
bin/varnholt-report
share/applications/$id.desktop
share/metainfo/$id.metainfo.xml
share/varnholt/VarnholtUI.html"
for n in 16 22 24 32 48 64 128 256; do expected+=$'\n'"share/icons/hicolor/${n}x${n}/apps/$id.png"; done
expected+=$'\n'"share/icons/hicolor/scalable/apps/$id.svg"
installed=$(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$installed" = "$(LC_ALL=C sort <<<"$expected")" ] || fail "installed files differ:"$'\n'"$installed"
for n in 16 48 256; do
  identify -format '%wx%h' "$prefix/share/icons/hicolor/${n}x${n}/apps/$id.png" | grep -qx "${n}x${n}" \
    || fail "the ${n}x${n} icon has another size"
done

desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
grep -qx 'Exec=varnholt %f' "$prefix/share/applications/$id.desktop" || fail "Exec does not take the folder"
appstreamcli validate --strict --no-net "$prefix/share/metainfo/$id.metainfo.xml" >"$work/appstream.log" \
  || { cat "$work/appstream.log" >&2; fail "appstreamcli validate"; }
version=$("$prefix/bin/varnholt" --version)
grep -q "version=\"${version##* }\"" "$prefix/share/metainfo/$id.metainfo.xml" \
  || fail "the metainfo's release is not the program's version ($version)"

# The installed program, with no page beside it, under its own Xvfb.
mkdir -p "$work/project"
printf 'int main(void) { return 0; }\n' >"$work/project/main.c"
"$prefix/bin/varnholt-report" "$work/project" >/dev/null || fail "the installed varnholt-report"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
trap 'cleanup; kill $xvfb_pid 2>/dev/null' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
DISPLAY=":$(head -n1 "$work/display")" "$prefix/bin/varnholt" --trace "$work/project" \
  >/dev/null 2>"$work/trace.log" &
app_pid=$!
for _ in $(seq 600); do
  grep -q '^< {"type":"uiReady"' "$work/trace.log" && break
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q '^< {"type":"uiReady"' "$work/trace.log" || { tail -n 20 "$work/trace.log" >&2; fail "the installed page never loaded"; }
kill -TERM "$app_pid"
status=0
wait "$app_pid" || status=$?
app_pid=
[ "$status" = 0 ] || fail "exit status $status after SIGTERM"

if [ "${2:-}" = --deb ]; then
  (cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack"; }
  deb=$(ls "$build"/varnholt_*.deb | head -n1)
  dpkg-deb --field "$deb" Depends | grep -q libwebkit2gtk-4.1 || fail "the .deb does not depend on WebKitGTK"
  packaged=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./usr/||' | LC_ALL=C sort)
  [ "$packaged" = "$installed" ] || fail "the .deb holds other files:"$'\n'"$packaged"
fi
echo "install: $(wc -l <<<"$installed") files installed, validators pass, the installed program found its page"
