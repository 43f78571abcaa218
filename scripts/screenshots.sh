#!/usr/bin/env bash
# Photographs the Windows build's windows under Wine on a virtual display: the main
# window and one of each dialog, as PNG files in docs/screenshots/.
# Usage: scripts/screenshots.sh [name...]
#   (names: main alarm5 alarm3 edtstr dirselect licznik ekran pierwsza aktualizacja)
# The two flow screens are reached as an operator reaches them: the main window's
# button pressed from the keyboard (xdotool types into the virtual display).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/docs/screenshots
exe=$root/build/win32/zuvinst.exe
if [ ! -x "$exe" ]; then
  cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake >/dev/null
  cmake --build build/win32 -j2 --target zuvinst
fi
mkdir -p "$out"
export WINEPREFIX=$root/build/win32/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1 || true
# Title-bar buttons are drawn with Wine's Marlett (Debian package fonts-wine); without
# it in the prefix they show as letters.
if [ -d /usr/share/wine/fonts ] && [ -d "$WINEPREFIX/drive_c/windows/Fonts" ]; then
  cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi
wait_s=${SHOT_WAIT:-10}

names=("$@")
[ ${#names[@]} -gt 0 ] || names=(main alarm5 alarm3 edtstr dirselect licznik ekran pierwsza aktualizacja)

# A release directory on Wine's drive C: to start from (the directory chooser opens
# there), so nothing lands in the source tree.
work="$WINEPREFIX/drive_c/ZUV/Instalacja 2026"
trap 'rm -rf "$WINEPREFIX/drive_c/ZUV"' EXIT
mkdir -p "$work/Dane/firma1" "$work/Dane/public" "$work/Program" "$work/str" "$WINEPREFIX/drive_c/ZUV/Archiwum"
# Hidden and system directories as Windows keeps them on every drive: the chooser
# leaves them out.
mkdir -p "$WINEPREFIX/drive_c/ZUV/\$Recycle.Bin" "$WINEPREFIX/drive_c/ZUV/System Volume Information"
wine attrib +h +s 'C:\ZUV\$Recycle.Bin' >/dev/null 2>&1 || true
wine attrib +h +s 'C:\ZUV\System Volume Information' >/dev/null 2>&1 || true
wineserver -k >/dev/null 2>&1 || true

for name in "${names[@]}"; do
  keys=""
  case $name in
    # The main window starts with the focus on "Aktualizacja programu"; Up moves it on
    # to "Pierwsza instalacja programu".
    pierwsza) demo=(--demo=main); keys="Up Return" ;;
    aktualizacja) demo=(--demo=main); keys="Return" ;;
    *) demo=(--demo="$name") ;;
  esac
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    cd "$1"
    wine explorer /desktop=shot,1024x768 "$2" 26.01.001 026.01.033 2026 "$3" >/dev/null 2>&1 &
    sleep "$4"
    if [ -n "$6" ]; then
      for k in $6; do xdotool key "$k"; sleep 1; done
      sleep 3
    fi
    import -window root "$5"
    wineserver -k >/dev/null 2>&1 || true
  ' _ "$work" "$exe" "${demo[@]}" "$wait_s" "$out/$name.png" "$keys"
  echo "$out/$name.png"
done
