#!/usr/bin/env bash
# Builds the Debian package from a finished build folder, unpacks it and checks it
# the way a workstation would use it: the file list and dependencies, that the
# programs run from the unpacked tree on their own libraries, the launchers' per-user
# installation folder (seeded once, the user's files kept, VELMO_HOME honoured),
# the desktop entry and the MIME type.
#   check_package.sh BUILD_DIR SOURCE_DIR CPACK VERSION
# Exits 77 (skipped) when a tool it needs is missing.
set -uo pipefail
build=$1 source=$2 cpack=$3 version=$4

missing=()
for tool in dpkg-deb dpkg-shlibdeps desktop-file-validate update-desktop-database xmllint update-mime-database; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "SKIP: missing tools: ${missing[*]} (scripts/install-deps.sh installs them)"
  exit 77
fi

tmp=$(mktemp -d /tmp/velmo-package-test.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" >/dev/null 2>&1 || fail "$what"; }

# --- build -----------------------------------------------------------------
if ! (cd "$build" && "$cpack" -G DEB --config CPackConfig.cmake -B "$tmp/out") >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log"
  echo "FAIL: cpack could not build the package"
  exit 1
fi
arch=$(dpkg --print-architecture)
deb=$tmp/out/velmo_${version}_${arch}.deb
[ -f "$deb" ] || { ls "$tmp/out"; echo "FAIL: no $deb"; exit 1; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# --- control fields --------------------------------------------------------
depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
[ "$(dpkg-deb -f "$deb" Package)" = velmo ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
for dep in libqt6widgets6 libqt6printsupport6 libturbojpeg0 libpng16-16 libstdc++6 libc6 \
           qt6-qpa-plugins fonts-ipafont-gothic libcharls2 libdcmtk17 libopenjph0.9; do
  [[ ",$depends," == *[\ ,]"${dep}"[\ ,\(]* ]] || fail "Depends lacks $dep"
done
[[ "$depends" != *velmo* && "$depends" != *Sifton* ]] || fail "Depends names the package's own libraries"

# --- file list -------------------------------------------------------------
dpkg-deb -x "$deb" "$tmp/root" || { echo "FAIL: dpkg-deb -x"; exit 1; }
root=$tmp/root
(cd "$root" && find . -type f -o -type l | sed 's|^\./|/|' | sort) >"$tmp/files"
expected=(
  /usr/bin/velmo /usr/bin/velmo-cli
  /usr/lib/velmo/velmo /usr/lib/velmo/velmo-cli /usr/lib/velmo/velmo-htj2k /usr/lib/velmo/libSifton.so
  /usr/lib/velmo/libvelmo_dimse.so
  /usr/share/velmo/Config/Velmo.ini /usr/share/velmo/Config/Preset.csv /usr/share/velmo/Config/a-LUT.csv
  /usr/share/velmo/Icon/Patient.bmp
  /usr/share/applications/velmo.desktop /usr/share/mime/packages/velmo.xml
  /usr/share/icons/hicolor/scalable/apps/velmo.svg
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/velmo.png")
done
for f in "${expected[@]}"; do grep -qxF "$f" "$tmp/files" || fail "missing $f"; done
# Nothing outside /usr, nothing a run leaves behind, no unconverted data sources.
grep -v '^/usr/' "$tmp/files" | sed 's/^/  unexpected: /'
grep -vq '^/usr/' "$tmp/files" && fail "files outside /usr"
grep -E '/(Log|VelmoImgBk)/|\.utf8$|\.seeded-version$|gtest|benchmark' "$tmp/files" && fail "run-time or build files in the package"
for f in /usr/bin/velmo /usr/bin/velmo-cli /usr/lib/velmo/velmo /usr/lib/velmo/velmo-cli /usr/lib/velmo/velmo-htj2k; do
  [ -x "$root$f" ] || fail "$f is not executable"
done
# The shipped configuration is exactly what the repository's data stage to: the
# developer's own bin/Velmo.ini (changed by every run there) must not be shipped.
bash "$source/scripts/stage-data.sh" "$source/data" "$tmp/staged" || fail "stage-data.sh"
diff -r "$tmp/staged" "$root/usr/share/velmo" >"$tmp/diff" || { cat "$tmp/diff"; fail "shipped data differ from data/"; }

# --- programs run on the libraries beside them -------------------------------
# (velmo-htj2k, the HTJ2K helper, needs none of the packaged libraries.)
for f in velmo velmo-cli velmo-htj2k; do
  ldd "$root/usr/lib/velmo/$f" >"$tmp/ldd" 2>&1
  grep -q 'not found' "$tmp/ldd" && { cat "$tmp/ldd"; fail "$f: libraries not found"; }
  [ "$f" = velmo-htj2k ] || grep -q "libSifton.so => $root/usr/lib/velmo/libSifton.so" "$tmp/ldd" || { cat "$tmp/ldd"; fail "$f does not load the packaged libSifton.so"; }
  readelf -d "$root/usr/lib/velmo/$f" | grep -F "$build" && fail "$f keeps a RUNPATH into the build folder"
done

# --- the launchers' per-user installation folder -----------------------------
"$build/bin/velmo-sample" "$tmp/study" >/dev/null || fail "velmo-sample"
sample=$(find "$tmp/study" -type f ! -name DICOMDIR | sort | head -1)
launch() {  # launch HOME XDG_DATA_HOME|- PROGRAM ARGS...: runs a packaged launcher
  local home=$1 xdg=$2 program=$root/usr/bin/$3; shift 3
  if [ "$xdg" = - ]; then
    env -u VELMO_HOME -u XDG_DATA_HOME HOME="$home" "$program" "$@"
  else
    env -u VELMO_HOME HOME="$home" XDG_DATA_HOME="$xdg" "$program" "$@"
  fi
}
xdg="$tmp/data with space"
user="$xdg/velmo"
launch "$tmp/home" "$xdg" velmo-cli info "$sample" >"$tmp/info1" 2>"$tmp/err1" || { cat "$tmp/err1"; fail "velmo-cli through the launcher"; }
grep -q '^rows=' "$tmp/info1" || fail "velmo-cli info printed no record"
# The archive module is loaded on first use, from beside the program: a query to a
# closed port fails on the connection, not on loading.
launch "$tmp/home" "$xdg" velmo-cli query --host 127.0.0.1 --port 1 --called NOBODY >"$tmp/q" 2>&1 &&
  fail "a query to a closed port succeeded"
grep -q libvelmo_dimse "$tmp/q" && { cat "$tmp/q"; fail "the packaged velmo-cli cannot load its archive module"; }
diff -r -x .seeded-version -x Log "$root/usr/share/velmo" "$user" >"$tmp/diff" || { cat "$tmp/diff"; fail "first start did not copy the shipped files"; }
[ "$(cat "$user/.seeded-version" 2>/dev/null)" = "$version" ] || fail "first start did not record the version"
[ -w "$user/Config/Velmo.ini" ] || fail "the user's Velmo.ini is not writable"

# The user's changes survive the next start; a file they removed stays removed.
printf '[Mine]\r\nKept=1\r\n' >>"$user/Config/Velmo.ini"
cp "$user/Config/Velmo.ini" "$tmp/mine.ini"
rm "$user/Config/Preset.csv"
launch "$tmp/home" "$xdg" velmo-cli info "$sample" >/dev/null 2>&1 || fail "second start"
cmp -s "$tmp/mine.ini" "$user/Config/Velmo.ini" || fail "second start changed the user's Velmo.ini"
[ -e "$user/Config/Preset.csv" ] && fail "second start brought back a file the user removed"

# After an upgrade missing files are added, the user's files still kept.
echo 0.0.1 >"$user/.seeded-version"
launch "$tmp/home" "$xdg" velmo-cli info "$sample" >/dev/null 2>&1 || fail "start after upgrade"
cmp -s "$tmp/mine.ini" "$user/Config/Velmo.ini" || fail "upgrade changed the user's Velmo.ini"
[ -e "$user/Config/Preset.csv" ] || fail "upgrade did not add the missing Preset.csv"
[ "$(cat "$user/.seeded-version")" = "$version" ] || fail "upgrade did not record the new version"

# Without XDG_DATA_HOME, or with a relative one (invalid), ~/.local/share is used.
for x in - relative/data; do
  rm -rf "$tmp/home2"
  (cd "$tmp" && launch "$tmp/home2" "$x" velmo-cli info "$sample" >/dev/null 2>&1) || fail "start with XDG_DATA_HOME=$x"
  [ -f "$tmp/home2/.local/share/velmo/Config/Velmo.ini" ] || fail "XDG_DATA_HOME=$x: not seeded into ~/.local/share/velmo"
  [ -e "$tmp/relative" ] && fail "a relative XDG_DATA_HOME was used"
done

# A folder that cannot be made: the program still runs, on the shipped settings, and says so.
touch "$tmp/afile"
launch "$tmp/home" "$tmp/afile" velmo-cli info "$sample" >"$tmp/info3" 2>"$tmp/err3" || fail "start with an unusable data folder"
grep -q '^rows=' "$tmp/info3" || fail "no record with an unusable data folder"
grep -q 'cannot set up' "$tmp/err3" || fail "no message about the unusable data folder"

# The GUI through the launcher logs into the user's folder, and on a freshly seeded
# folder shows the same window as the build's own installation folder does.
export QT_QPA_PLATFORM=offscreen
launch "$tmp/home" "$xdg" velmo --screenshot "$tmp/first.png" "$tmp/study" >/dev/null 2>&1 || fail "velmo --screenshot through the launcher"
[ -f "$user/Log/VelmoLog1.csv" ] || fail "the GUI did not log into the user's folder"
mkdir -p "$tmp/reference" "$tmp/seeded"
cp -r "$tmp/staged/." "$tmp/reference/"
VELMO_HOME="$tmp/reference/" "$build/bin/velmo" --screenshot "$tmp/reference.png" "$tmp/study" >/dev/null 2>&1 || fail "reference screenshot"
launch "$tmp/home" "$tmp/seeded" velmo --screenshot "$tmp/packaged.png" "$tmp/study" >/dev/null 2>&1 || fail "velmo --screenshot on a fresh folder"
cmp -s "$tmp/packaged.png" "$tmp/reference.png" || fail "the packaged program shows a different window than the build's"

# VELMO_HOME set by the user wins: nothing is seeded, that folder is used.
mkdir -p "$tmp/own"
cp -r "$tmp/staged/." "$tmp/own/"
env VELMO_HOME="$tmp/own/" HOME="$tmp/home4" XDG_DATA_HOME="$tmp/xdg4" \
  "$root/usr/bin/velmo" --screenshot "$tmp/own.png" "$tmp/study" >/dev/null 2>&1 || fail "velmo with VELMO_HOME"
[ -f "$tmp/own/Log/VelmoLog1.csv" ] || fail "VELMO_HOME was not used"
[ -e "$tmp/xdg4" ] || [ -e "$tmp/home4" ] && fail "seeded although VELMO_HOME was set"

# --- desktop entry -----------------------------------------------------------
desktop=$root/usr/share/applications/velmo.desktop
desktop-file-validate "$desktop" >"$tmp/validate" 2>&1 || fail "desktop-file-validate"
grep -Ei 'error|warning' "$tmp/validate" && fail "desktop-file-validate complains"
grep -qx 'Exec=velmo %F' "$desktop" || fail "Exec does not pass the files as paths"
grep -qx 'Icon=velmo' "$desktop" || fail "Icon"
grep -q '^Name\[ja\]=' "$desktop" || fail "no Japanese name"
mkdir -p "$tmp/apps" && cp "$desktop" "$tmp/apps/"
update-desktop-database "$tmp/apps" || fail "update-desktop-database"
grep -qx 'application/dicom=velmo.desktop;' "$tmp/apps/mimeinfo.cache" || fail "velmo.desktop is not a handler of application/dicom"
for size in 16 22 24 32 48 64 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/velmo.png
  dims=$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] || fail "icon ${size}x${size} is $dims"
done
xmllint --noout "$root/usr/share/icons/hicolor/scalable/apps/velmo.svg" || fail "velmo.svg is not well-formed"

# --- MIME type ----------------------------------------------------------------
mime=$root/usr/share/mime/packages/velmo.xml
xmllint --noout "$mime" || fail "velmo.xml is not well-formed"
mkdir -p "$tmp/mime/packages" && cp "$mime" "$tmp/mime/packages/"
update-mime-database "$tmp/mime" >"$tmp/umd" 2>&1 || { cat "$tmp/umd"; fail "update-mime-database"; }
grep -qi 'application/dicom' "$tmp/umd" && { cat "$tmp/umd"; fail "update-mime-database warns"; }
grep -qx '50:application/dicom:\*\.dcm' "$tmp/mime/globs2" || fail "no *.dcm glob"
grep -qix '50:application/dicom:dicomdir' "$tmp/mime/globs2" || fail "no DICOMDIR glob"
grep -aq 'DICM' "$tmp/mime/magic" || fail "no DICM magic"
grep -q 'application/dicom' "$tmp/mime/types" || fail "type not registered"

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package checks passed"
