#!/usr/bin/env bash
# Draws the button pictures of the window and the demo plant's pictures with
# ImageMagick. The results are committed; run this only to change them.
set -euo pipefail
cd "$(dirname "$0")/.."
res=src/window/resources
pic=sample/pictures

# Question mark with an arrow pointing down to the left, 41 x 45.
convert -size 41x45 xc:none -fill black -stroke black \
    -font Liberation-Sans-Bold -pointsize 34 -annotate +17+29 '?' \
    -strokewidth 3 -draw 'line 16,30 4,42' -strokewidth 1 -draw 'polygon 2,44 3,34 12,41' "$res/quest.gif"
# Green tick, 44 x 36.
convert -size 44x36 xc:none -fill none -stroke '#1a9c1a' -strokewidth 7 \
    -draw 'stroke-linejoin round stroke-linecap round polyline 5,19 16,30 39,6' "$res/ok.gif"
# Red cross, 37 x 39.
convert -size 37x39 xc:none -stroke '#d01818' -strokewidth 7 \
    -draw 'line 6,6 31,33' -draw 'line 31,6 6,33' "$res/cancel.gif"

# Demo plant: material pictures, the empty picture and bobbin symbols, 50 x 50.
convert -size 50x50 xc:'#f4f4f4' -fill none -stroke '#c8c8c8' -draw 'rectangle 0,0 49,49' "$pic/Empty_800.gif"
convert -size 50x50 xc:'#f7f1e3' -stroke '#c9b994' -draw 'line 0,12 49,12' -draw 'line 0,25 49,25' \
    -draw 'line 0,38 49,38' -fill '#6b5a3a' -stroke none -font Liberation-Sans-Bold -pointsize 11 \
    -annotate +8+30 'Paper' "$pic/Material_1_800.gif"
convert -size 50x50 gradient:'#eef3f8-#9aa8b8' -fill '#26384d' -font Liberation-Sans-Bold -pointsize 11 \
    -annotate +13+30 'Foil' "$pic/Material_2_800.gif"
convert -size 50x50 gradient:'#e6e6e6-#8c8c8c' -fill '#333333' -font Liberation-Sans-Bold -pointsize 11 \
    -annotate +14+30 'Alu' "$pic/Material_3_800.gif"
convert -size 50x50 xc:white -fill '#8a6d3b' -stroke '#5a4422' -strokewidth 2 -draw 'circle 25,25 25,3' \
    -fill white -draw 'circle 25,25 25,16' -fill '#5a4422' -stroke none -draw 'circle 25,25 25,22' \
    "$pic/Torvex_BobbinSymbol_1_800.gif"
convert -size 50x50 xc:white -fill '#3b6d8a' -stroke '#22445a' -strokewidth 2 -draw 'circle 20,28 20,10' \
    -fill white -draw 'circle 20,28 20,21' -stroke '#22445a' -strokewidth 3 -draw 'line 20,28 44,6' \
    -fill '#22445a' -draw 'circle 44,6 44,3' "$pic/Torvex_BobbinSymbol_2_800.gif"
