#!/usr/bin/env bash
# Draws the program's icons and its picture with ImageMagick. The results are committed;
# run this again only to change them.
set -euo pipefail
cd "$(dirname "$0")"
F=DejaVu-Sans-Bold

# A 32x32 drawing saved with a 16x16 copy as one .ico.
ico() {  # name, draw arguments...
  local name=$1; shift
  convert -size 32x32 xc:none "$@" /tmp/zuv_ico32.png
  convert /tmp/zuv_ico32.png -resize 16x16 /tmp/zuv_ico16.png
  convert /tmp/zuv_ico16.png /tmp/zuv_ico32.png "$name.ico"
}
circle() {  # name, fill, letter
  ico "$1" -fill "$2" -stroke '#20303a' -strokewidth 1.5 -draw 'circle 16,16 16,2' \
    -fill white -stroke none -font $F -pointsize 22 -gravity center -annotate +0+1 "$3"
}
folder() {  # name, fill, open?
  local flap='polygon 3,9 12,9 15,12 29,12 29,27 3,27'
  local front='polygon 3,27 7,15 31,15 27,27'
  if [ "$3" = open ]; then
    ico "$1" -fill '#b98a2c' -stroke '#5a4210' -draw "$flap" -fill "$2" -draw "$front"
  else
    ico "$1" -fill "$2" -stroke '#5a4210' -draw "$flap" -draw 'rectangle 3,14 29,27'
  fi
}
drive() {  # name, body colour, mark drawing
  ico "$1" -fill "$2" -stroke '#30363c' -draw 'roundrectangle 2,10 29,23 3,3' \
    -fill '#6ee06e' -stroke none -draw 'rectangle 22,18 26,20' "${@:3}"
}

# 100: the installer: a box with the program's letter.
ico icon100 -fill '#2f5d8a' -stroke '#17324d' -draw 'roundrectangle 2,2 29,29 5,5' \
  -fill '#d0d0a7' -stroke none -font $F -pointsize 22 -gravity center -annotate +0+1 'Z'
circle icon101 '#2f6fb0' 'i'
ico icon102 -fill '#e8b21e' -stroke '#5a4210' -strokewidth 1.5 -draw 'polygon 16,2 30,28 2,28' \
  -fill '#20303a' -stroke none -font $F -pointsize 18 -gravity center -annotate +0+4 '!'
circle icon103 '#c8402c' '×'
ico icon104 -fill white -stroke '#20303a' -draw 'rectangle 3,9 28,23' \
  -fill '#20303a' -stroke none -font $F -pointsize 12 -gravity center -annotate +0+0 'Ab|'
circle icon105 '#3c8c4a' '✓'
circle icon106 '#6c4fa0' '?'
circle icon107 '#707070' '…'
drive icon2099 '#b8b8b8'
drive icon2100 '#b8b8b8'
drive icon2101 '#d8d8c0' -fill '#30363c' -draw 'rectangle 6,13 14,15'
drive icon2102 '#c8c8c8'
drive icon2103 '#a8c8e8' -stroke '#30363c' -draw 'line 16,23 16,29' -draw 'line 8,29 24,29'
ico icon2104 -fill '#e0e0f0' -stroke '#30363c' -draw 'circle 16,16 16,3' -fill white -draw 'circle 16,16 16,12'
folder icon2105 '#e8c05a' closed
folder icon2106 '#f2d27a' open
folder icon2107 '#e8c05a' closed

# 200: the picture beside the main window's buttons, 292 x 105.
convert -size 292x105 gradient:'#2f5d8a'-'#6f9cc4' \
  -fill '#d0d0a7' -draw 'polygon 0,105 0,80 292,40 292,105' \
  -fill white -font $F -pointsize 44 -annotate +18+52 'ZUV' \
  -fill '#20303a' -font DejaVu-Sans -pointsize 15 -annotate +20+90 'Instalacja i aktualizacja' \
  -type TrueColor BMP3:picture200.bmp
rm -f /tmp/zuv_ico16.png /tmp/zuv_ico32.png
