#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root with dpkg -x and
# starts the unpacked program as an ordinary user (nobody) in an X server.
# The program lies in a folder that user cannot write, so its database must
# appear in that user's data folder, private to them, and nowhere else.
# Usage: package_install.sh <build folder> <cpack> <version> <bin folder> <share folder>
# (the last two are the install folders the build was configured with)
set -euo pipefail
build=$1 cpack=$2 version=$3 bindir=$4 sharedir=$5

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
[ "$(id -u)" -eq 0 ] || skip "needs root to start the program as another user"
for tool in dpkg dpkg-deb setpriv xvfb-run; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"

# --- the package ---------------------------------------------------------------
"$cpack" --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 \
  || { cat "$scratch/cpack.log"; fail "cpack"; }
deb="$scratch/pkg/lanzhou-sms_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$scratch/pkg"; fail "no $(basename "$deb")"; }

depends=$(dpkg-deb -f "$deb" Depends)
for needed in fonts-wqy-microhei qt6-translations-l10n libqt6widgets6 libsqlcipher; do
  [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
[[ $recommends == *"fcitx5-frontend-qt6 | ibus"* ]] || fail "Recommends: $recommends"
# Sending needs ModemManager or KDE Connect, starting the program neither.
suggests=$(dpkg-deb -f "$deb" Suggests)
for service in modemmanager kdeconnect; do
  [[ $suggests == *"$service"* ]] || fail "Suggests lacks $service: $suggests"
  [[ $depends != *"$service"* ]] || fail "Depends on $service: $depends"
done

root="$scratch/root"
dpkg -x "$deb" "$root"
program="$root$bindir/lanzhou-sms"
for file in "$program" \
    "$root$sharedir/applications/com.example.lanzhou_sms.desktop" \
    "$root$sharedir/metainfo/com.example.lanzhou_sms.metainfo.xml" \
    "$root$sharedir/icons/hicolor/16x16/apps/com.example.lanzhou_sms.png" \
    "$root$sharedir/icons/hicolor/256x256/apps/com.example.lanzhou_sms.png" \
    "$root$sharedir/icons/hicolor/scalable/apps/com.example.lanzhou_sms.svg"; do
  [ -f "$file" ] || fail "not in the package: ${file#"$root"}"
done

# --- the first start of an ordinary user ----------------------------------------
home="$scratch/home"
mkdir -p "$home"
chown nobody:nogroup "$home"
status=0
mkdir -p "$scratch/cwd" && chown nobody:nogroup "$scratch/cwd" && cd "$scratch/cwd"
setpriv --reuid=nobody --regid=nogroup --clear-groups \
  env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 LANZHOU_SMS_CLOSE_AFTER_START=1 \
  timeout 120 xvfb-run -a "$program" >"$scratch/run.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || { cat "$scratch/run.log"; fail "the program exited with $status"; }

data="$home/.local/share/lanzhou-sms"
[ -f "$data/通讯录.dat" ] || { find "$scratch" -name '通讯录.dat'; fail "no database in $data"; }
[ "$(stat -c %U "$data/通讯录.dat")" = nobody ] || fail "the database is not the user's"
[ "$(stat -c %a "$data")" = 700 ] || fail "$data has mode $(stat -c %a "$data")"
# The database and the day's backup copy, both in the data folder; none beside
# the program, in the working folder or elsewhere in the user's home.
mapfile -t copies < <(find "$scratch" -name '通讯录.dat' | grep -v "^$data/" || true)
[ "${#copies[@]}" -eq 0 ] || fail "database files elsewhere: ${copies[*]}"
[ "$(find "$data/数据备份" -name '通讯录.dat' | wc -l)" -eq 1 ] || fail "no backup at exit"
echo "database in $data, backup written, nothing elsewhere"
