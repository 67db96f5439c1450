#!/bin/sh
# Draws the program's artwork with ImageMagick: the application icon in every size the desktop
# asks for, the header picture of the main window and the picture of the about box.
# Usage: make-artwork.sh OUTPUT_DIR [FONT_DIR]
set -eu
out=$1
fonts=${2:-/usr/share/fonts/truetype/dejavu}
bold="$fonts/DejaVuSans-Bold.ttf"
regular="$fonts/DejaVuSans.ttf"
# Without the DejaVu faces, ImageMagick's default face draws the texts.
[ -f "$bold" ] || bold=$(convert -list font 2>/dev/null | sed -n 's/^ *glyphs: //p' | head -n 1)
[ -f "$regular" ] || regular=$bold
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Icon, drawn at 256 pixels: a blue tile with a white letter and an orange arrow leaving it.
convert -size 256x256 xc:none \
  \( -size 256x256 gradient:'#2f8fd8-#123a78' \) \
  \( -size 256x256 xc:black -fill white -draw 'roundrectangle 8,8 247,247 44,44' \) \
  -delete 0 -alpha off -compose CopyOpacity -composite "$tmp/tile.png"
convert "$tmp/tile.png" \
  -fill '#ffffff33' -draw 'roundrectangle 8,8 247,128 44,44' \
  -stroke none -fill '#0b2752' -draw 'roundrectangle 44,78 212,196 12,12' \
  -fill white -draw 'roundrectangle 40,72 208,190 12,12' \
  -stroke '#c9d9ee' -strokewidth 10 -fill none -draw 'polyline 46,80 124,140 202,80' \
  -stroke none -fill '#f39a1e' -draw 'circle 190,186 190,238' \
  -fill white -draw 'polygon 164,178 192,178 192,160 222,188 192,216 192,198 164,198' \
  "$tmp/icon256.png"
for size in 16 24 32 48 64 128 256; do
  convert "$tmp/icon256.png" -filter Lanczos -resize ${size}x${size} -strip "PNG32:$out/ombrik-$size.png"
done

# Header picture of the main window, 582 x 80.
convert -size 80x582 gradient:'#0f2f63-#1f7fc4' -rotate -90 \
  -fill '#ffffff10' -draw 'circle 520,40 520,130' -draw 'circle 470,-20 470,60' \
  -fill '#ffffff18' -draw 'polygon 380,80 430,0 582,0 582,80' \
  "$tmp/header-back.png"
convert "$tmp/icon256.png" -filter Lanczos -resize 62x62 "$tmp/header-icon.png"
convert "$tmp/header-back.png" "$tmp/header-icon.png" -geometry +14+9 -composite \
  -font "$bold" -pointsize 30 -fill white -annotate +90+42 'Ombrik' \
  -font "$regular" -pointsize 12 -fill '#d6e6f7' -annotate +92+62 'Outlook Express mail converter' \
  -font "$bold" -pointsize 11 -fill '#ffffff' -gravity NorthEast -annotate +14+14 'Version 2.0' \
  -font "$regular" -pointsize 10 -fill '#bcd4ee' -gravity SouthEast \
  -annotate +14+10 'EML  |  MBOX  |  MSG  |  PST  |  HTML  |  RTF' \
  -alpha off -type TrueColor -strip "PNG24:$out/header.png"

# Picture of the about box, 124 x 77.
convert -size 124x77 gradient:'#1f7fc4-#0f2f63' \
  -fill '#ffffff14' -draw 'circle 110,10 110,60' \
  "$tmp/about-back.png"
convert "$tmp/icon256.png" -filter Lanczos -resize 40x40 "$tmp/about-icon.png"
convert "$tmp/about-back.png" "$tmp/about-icon.png" -geometry +8+8 -composite \
  -font "$bold" -pointsize 15 -fill white -annotate +52+28 'Ombrik' \
  -font "$regular" -pointsize 9 -fill '#d6e6f7' -annotate +53+42 'version 2.0' \
  -font "$regular" -pointsize 8 -fill '#bcd4ee' -annotate +9+66 'Corvanti Software' \
  -alpha off -type TrueColor -strip "PNG24:$out/about.png"
