#!/usr/bin/env bash
# Draws the demo banner images (124 x 94 GIFs, the size of the client's banner
# pane) into banners/ beside this script. Run it once after changing a design
# and commit the images: the build only copies them. Needs ImageMagick 6
# (`convert`) and the DejaVu fonts (Debian: imagemagick, fonts-dejavu-core).
set -euo pipefail
cd "$(dirname "$0")/banners"

W=124
H=94
BOLD=DejaVu-Sans-Bold
PLAIN=DejaVu-Sans
# Common tail: a 1-pixel frame, few colours and no metadata keep each file at a
# few kilobytes and the output the same from run to run.
finish=(-shave 1x1 -bordercolor '#202020' -border 1 -colors 48 -strip)

# 100001: welcome banner.
convert -size ${W}x${H} gradient:'#1e3c9a-#8a2be2' \
  -font $BOLD -fill white -pointsize 30 -gravity center -annotate +0-12 'Vexor' \
  -font $PLAIN -pointsize 11 -fill '#ffe066' -annotate +0+20 'your desktop helper' \
  "${finish[@]}" 100001.gif

# 100002: the Notes module.
convert -size ${W}x${H} xc:'#ffd43b' \
  -fill '#fff9db' -stroke '#e8a400' -draw 'rectangle 8,10 52,84' \
  -stroke '#74c0fc' -draw 'line 12,26 48,26' -draw 'line 12,38 48,38' \
  -draw 'line 12,50 48,50' -draw 'line 12,62 48,62' -draw 'line 12,74 48,74' \
  -stroke none -fill '#c92a2a' -font $BOLD -pointsize 18 -annotate +58+40 'Notes' \
  -fill '#343a40' -font $PLAIN -pointsize 11 -annotate +59+58 'Jot it' -annotate +59+72 'down!' \
  "${finish[@]}" 100002.gif

# 100003: the Clock module, animated: the hand goes round in four steps.
frames=()
for hand in '36,47 36,26' '36,47 57,47' '36,47 36,68' '36,47 15,47'; do
  f=$(mktemp --suffix=.gif)
  convert -size ${W}x${H} xc:'#0b7285' \
    -fill white -stroke '#ffd43b' -strokewidth 3 -draw 'circle 36,47 36,21' \
    -stroke '#343a40' -strokewidth 3 -draw "line $hand" \
    -strokewidth 2 -draw 'line 36,47 47,40' \
    -stroke none -fill '#ffd43b' -font $BOLD -pointsize 15 -annotate +67+42 'Clock' \
    -fill white -font $PLAIN -pointsize 10 -annotate +68+60 'on time,' -annotate +68+72 'always' \
    "$f"
  frames+=("$f")
done
convert -delay 50 -loop 0 "${frames[@]}" "${finish[@]}" 100003.gif
rm -f "${frames[@]}"

# 100004: the Weather module (not installed by default), animated: sun, cloud, rain.
sky=('#74c0fc' '#a5d8ff' '#868e96')
draw=(
  "fill #ffd43b circle 30,40 30,22"
  "fill #ffd43b circle 24,36 24,20 fill white circle 40,50 40,38 circle 26,54 26,44 circle 54,54 54,44"
  "fill white circle 40,38 40,26 circle 26,42 26,32 circle 54,42 54,32 stroke #1c7ed6 stroke-width 3 line 24,58 20,70 line 38,58 34,70 line 52,58 48,70"
)
frames=()
for i in 0 1 2; do
  f=$(mktemp --suffix=.gif)
  convert -size ${W}x${H} xc:"${sky[$i]}" -draw "${draw[$i]}" \
    -fill '#212529' -font $BOLD -pointsize 12 -annotate +62+34 'Weather' \
    -fill '#c92a2a' -font $BOLD -pointsize 12 -annotate +64+56 'Get it' -annotate +64+72 'now!' \
    "$f"
  frames+=("$f")
done
convert -delay 80 -loop 0 "${frames[@]}" "${finish[@]}" 100004.gif
rm -f "${frames[@]}"

# 100005: the German language is available for download.
convert -size ${W}x${H} xc:white \
  -fill '#000000' -draw 'rectangle 0,0 123,9' \
  -fill '#dd0000' -draw 'rectangle 0,10 123,19' \
  -fill '#ffce00' -draw 'rectangle 0,20 123,29' \
  -fill '#212529' -font $BOLD -pointsize 15 -gravity center -annotate +0+4 'Jetzt auf' \
  -fill '#dd0000' -pointsize 17 -annotate +0+24 'Deutsch!' \
  "${finish[@]}" 100005.gif

# 100006: news of version 1.3, animated: "NEW" blinks in three colours.
frames=()
for c in '#fa5252' '#40c057' '#fab005'; do
  f=$(mktemp --suffix=.gif)
  convert -size ${W}x${H} xc:'#212529' \
    -fill "$c" -draw 'roundrectangle 30,8 94,36 8,8' \
    -fill white -font $BOLD -pointsize 18 -gravity north -annotate +0+11 'NEW' \
    -fill white -pointsize 14 -annotate +0+48 'Vexor 1.3' \
    -fill '#adb5bd' -font $PLAIN -pointsize 10 -annotate +0+70 'faster and lighter' \
    "$f"
  frames+=("$f")
done
convert -delay 60 -loop 0 "${frames[@]}" "${finish[@]}" 100006.gif
rm -f "${frames[@]}"

# 100007: the FAQ, animated question mark; its page shows it small beside text.
frames=()
for c in '#e64980' '#7950f2' '#12b886'; do
  f=$(mktemp --suffix=.gif)
  convert -size ${W}x${H} xc:"$c" \
    -fill white -font $BOLD -pointsize 64 -gravity center -annotate +0-8 '?' \
    -pointsize 14 -annotate +0+34 'FAQ' \
    "$f"
  frames+=("$f")
done
convert -delay 70 -loop 0 "${frames[@]}" "${finish[@]}" 100007.gif
rm -f "${frames[@]}"

# 100008: twelve modules, one click.
grid=()
colours=('#fa5252' '#fd7e14' '#fab005' '#40c057' '#15aabf' '#4c6ef5'
         '#be4bdb' '#e64980' '#82c91e' '#228be6' '#7950f2' '#20c997')
for i in $(seq 0 11); do
  x=$((6 + (i % 4) * 12))
  y=$((14 + (i / 4) * 12))
  grid+=(-fill "${colours[$i]}" -draw "rectangle $x,$y $((x + 9)),$((y + 9))")
done
convert -size ${W}x${H} xc:'#f1f3f5' "${grid[@]}" \
  -fill '#212529' -font $BOLD -pointsize 11 -annotate +56+26 '12 tools,' \
  -annotate +56+42 'one click' \
  -fill '#1c7ed6' -font $PLAIN -pointsize 10 -annotate +6+70 'Modules for every day' \
  "${finish[@]}" 100008.gif

ls -l ./*.gif
