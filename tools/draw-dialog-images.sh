#!/usr/bin/env bash
# Draws the images of the program's own small dialogs (the start-up splash and the
# connection error page, res/html/STARTUPSPLASH.HTM and CONNECTIONERROR.HTM) into res/html,
# with ImageMagick. The images are committed; run this again after changing it.
#
# Everything is drawn onto the dialog's background (SMALLDLG.GIF), at the place where
# DIALOGS.CSS puts it, and what stays background is left transparent: the pieces join the
# background without seams. The positions below are those of DIALOGS.CSS.
set -euo pipefail
cd "$(dirname "$0")/../res/html"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Places (left top) on the 326 x 180 panel.
minimize=(241 2)  # 42 x 20
close=(283 2)     # 42 x 20
progress=(10 148) # 306 x 13
errorImage=(14 58) # 104 x 76
button=(124 108)  # 78 x 20, below the heading and the hint

text='#c8c8c8'

# The panel: a dark grey face, lighter towards the title strip at the top, a hairline
# frame.
convert -size 326x180 gradient:'#2c3139-#1b1e23' \
    \( -size 326x24 gradient:'#3a414c-#2f353e' \) -geometry +0+0 -composite \
    -fill '#1a1d22' -draw 'line 0,24 325,24' \
    -fill '#3f4651' -draw 'line 0,25 325,25' \
    -fill none -stroke '#4b535f' -draw 'rectangle 0,0 325,179' \
    -stroke '#434a55' -draw 'line 1,1 324,1' \
    +dither -colors 128 SMALLDLG.GIF

# background WIDTHxHEIGHT LEFT TOP OUT: the panel's pixels under a piece.
background() {
    convert SMALLDLG.GIF -crop "$1+$2+$3" +repage "$4"
}
# transparent DRAWN BACKGROUND OUT: what is still background becomes transparent.
transparent() {
    convert "$1" "$2" -compose ChangeMask -composite "$3"
}

# Title buttons: the glyph on the title strip, and below it (shown under the pointer, the
# style sheet moves the image up by 20 px) the glyph on a coloured face.
titleButton() { # out left top glyph hover-face
    background 42x20 "$2" "$3" "$work/bg.png"
    convert "$work/bg.png" -stroke "$text" -strokewidth 1.6 -fill none -draw "$4" "$work/normal.png"
    transparent "$work/normal.png" "$work/bg.png" "$work/normal-t.png"
    convert -size 42x20 xc:"$5" -stroke '#ffffff' -strokewidth 1.6 -fill none -draw "$4" \
        "$work/hover.png"
    convert "$work/normal-t.png" "$work/hover.png" -background none -append +dither -colors 64 "$1"
}
titleButton BUTTONCLOSE.GIF "${close[@]}" 'line 16.5,5.5 25.5,14.5 line 25.5,5.5 16.5,14.5' '#c7413a'
titleButton BUTTONMINIMIZE.GIF "${minimize[@]}" 'line 16,14.5 26,14.5' '#4a525e'

# The logo: the program's mark (as its icon) over its name. PNG: it may stand anywhere.
convert -size 85x68 xc:none \
    \( -size 50x50 gradient:'#5fb2f5-#2a6fc0' \
       \( -size 50x50 xc:none -fill white -draw 'roundrectangle 0,0 49,49 11,11' \) \
       -alpha off -compose CopyOpacity -composite \) -compose over -geometry +17+0 -composite \
    -fill none -stroke '#ffffff' -strokewidth 6 \
    -draw 'stroke-linecap round stroke-linejoin round polyline 30,37 30,13 54,37 54,13' \
    -font DejaVu-Sans-Bold -pointsize 10 -fill "$text" -stroke none -kerning 2 \
    -gravity south -annotate +0+0 'NORV VIEW' \
    LOGO.PNG

# The progress bar: a dark track with a bright pill that sweeps across it, once a second.
background 306x13 "${progress[@]}" "$work/bg.png"
convert "$work/bg.png" -fill '#14161a' -stroke '#3e4550' -strokewidth 1 \
    -draw 'roundrectangle 0.5,0.5 305.5,12.5 6,6' "$work/track.png"
frames=30
pill=80
for i in $(seq 0 $((frames - 1))); do
    s=$((-pill + i * (306 + pill) / frames))
    e=$((s + pill))
    ((s < 2)) && s=2
    ((e > 303)) && e=303
    frame=$(printf '%s/frame-%02d.png' "$work" "$i")
    if ((e - s >= 6)); then
        w=$((e - s + 1))
        convert "$work/track.png" \
            \( -size ${w}x9 gradient:'#6dbbf7-#2b73c6' \
               \( -size ${w}x9 xc:black -fill white -draw "roundrectangle 0,0 $((w - 1)),8 4,4" \) \
               -alpha off -compose CopyOpacity -composite \) \
            -compose over -geometry +${s}+2 -composite "$frame"
    else
        cp "$work/track.png" "$frame"
    fi
done
convert -delay 4 -loop 0 "$work"/frame-*.png +dither -colors 64 -layers Optimize LOADING.GIF

# The error image: the world, and a warning over it.
background 104x76 "${errorImage[@]}" "$work/bg.png"
convert "$work/bg.png" \
    -fill '#2a3039' -stroke '#8792a1' -strokewidth 2 -draw 'circle 44,36 44,8' \
    -fill none -strokewidth 1.5 -draw 'ellipse 44,36 12,28 0,360' \
    -draw 'line 16,36 72,36' -draw 'line 20,22 68,22' -draw 'line 20,50 68,50' \
    -fill '#e0533d' -stroke '#22262d' -strokewidth 3 -draw 'circle 76,54 76,38' \
    -stroke '#ffffff' -strokewidth 3.4 -draw 'stroke-linecap round line 76,46 76,56' \
    -stroke none -fill '#ffffff' -draw 'circle 76,62.5 76,60.5' \
    "$work/error.png"
transparent "$work/error.png" "$work/bg.png" "$work/error-t.png"
convert "$work/error-t.png" +dither -colors 128 ERROR.GIF

# The button face: grey, and blue under the pointer (the lower half).
background 78x20 "${button[@]}" "$work/bg.png"
face() { # top bottom frame out
    convert "$work/bg.png" \
        \( -size 78x20 gradient:"$1-$2" \
           \( -size 78x20 xc:black -fill white -draw 'roundrectangle 0,0 77,19 3,3' \) \
           -alpha off -compose CopyOpacity -composite \) -compose over -composite \
        -fill none -stroke "$3" -draw 'roundrectangle 0.5,0.5 77.5,19.5 3,3' "$work/face.png"
    transparent "$work/face.png" "$work/bg.png" "$4"
}
face '#434b57' '#343a44' '#59616e' "$work/button-normal.png"
face '#3f7fc4' '#2d64a3' '#6cb4f2' "$work/button-hover.png"
convert "$work/button-normal.png" "$work/button-hover.png" -background none -append \
    +dither -colors 96 BUTTON.GIF
