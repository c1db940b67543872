#!/usr/bin/env bash
# Installs a built package on this machine, checks it as a desktop user would meet
# it, and removes it again (purge), leaving the system as it was.
#   sudo scripts/check-package-install.sh build/velmo_<version>_<arch>.deb
# Checks: the menu entry's command opens the bundled sample study (offscreen, a
# screenshot of the window is kept in the work folder printed at the end), the
# user's folder is seeded in a scratch HOME, application/dicom's default
# application is Velmo, and after removal the package's files are gone and the
# desktop, MIME and icon caches are byte for byte what they were before.
# Needs root, xdg-utils and a finished build folder (for velmo-sample).
set -uo pipefail
deb=$(readlink -f "${1:?usage: $0 PACKAGE.deb}")
build=$(readlink -f "${2:-$(dirname "$deb")}")
[ "$(id -u)" -eq 0 ] || { echo "run as root (it installs and removes the package)"; exit 2; }
command -v xdg-mime >/dev/null || { echo "xdg-mime missing (apt install xdg-utils)"; exit 2; }
dpkg-query -W velmo >/dev/null 2>&1 && { echo "velmo is installed already; remove it first"; exit 2; }

work=$(mktemp -d /tmp/velmo-install-check.XXXXXX)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
caches() {
  md5sum /usr/share/mime/mime.cache /usr/share/mime/globs2 /usr/share/mime/magic \
    /usr/share/applications/mimeinfo.cache /usr/share/icons/hicolor/icon-theme.cache 2>/dev/null
}
caches >"$work/caches.before"

apt-get install -y -q "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "install"; }
echo "installed: $(dpkg-query -W -f='${Package} ${Version}, ${Installed-Size} KiB installed' velmo)"
echo "package size: $(stat -c %s "$deb") bytes"
echo "depends: $(dpkg-query -W -f='${Depends}' velmo)"

default=$(xdg-mime query default application/dicom)
[ "$default" = velmo.desktop ] || fail "default application for application/dicom is '$default'"
"$build/bin/velmo-sample" "$work/study" >/dev/null || fail "velmo-sample"
type=$(xdg-mime query filetype "$work/study/CT0001.dcm")
[ "$type" = application/dicom ] || fail "CT0001.dcm is '$type'"

# The menu entry's command with the sample study, as a user whose folder is new.
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/velmo.desktop)
program=${exec_line%% *}
mkdir -p "$work/home"
(cd / && env -u VELMO_HOME -u XDG_DATA_HOME HOME="$work/home" QT_QPA_PLATFORM=offscreen \
  "$program" --screenshot "$work/menu.png" "$work/study") >"$work/run.log" 2>&1 || fail "$program did not open the study"
[ -s "$work/menu.png" ] || fail "no window picture"
[ -f "$work/home/.local/share/velmo/Config/Velmo.ini" ] || fail "the user's folder was not seeded"
[ -f "$work/home/.local/share/velmo/Log/VelmoLog1.csv" ] || fail "the program did not log into the user's folder"

apt-get purge -y -q velmo >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "purge"; }
for f in /usr/bin/velmo /usr/bin/velmo-cli /usr/lib/velmo /usr/share/velmo /usr/share/applications/velmo.desktop \
         /usr/share/mime/packages/velmo.xml /usr/share/icons/hicolor/48x48/apps/velmo.png; do
  [ -e "$f" ] && fail "$f left after removal"
done
caches >"$work/caches.after"
cmp -s "$work/caches.before" "$work/caches.after" || fail "caches differ after removal"
[ "$(xdg-mime query default application/dicom)" != velmo.desktop ] || fail "still the default after removal"

echo "work folder: $work (window picture: $work/menu.png)"
if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "install check passed"
