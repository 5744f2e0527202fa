#!/usr/bin/env bash
# Draws the tray images (1x 22 px and 2x 44 px) with ImageMagick. The PNGs are committed;
# run this again only to change their look.
set -euo pipefail
cd "$(dirname "$0")"
draw() {  # name glyph-colour background mark
  local name=$1 fg=$2 bg=$3 mark=$4
  for scale in 1 2; do
    local s=$((22 * scale)) out="$name.png"
    [ "$scale" = 2 ] && out="$name@2x.png"
    local r=$((3 * scale)) w=$((2 * scale))
    local args=(-size "${s}x${s}" "xc:$bg")
    # A key: round bow and a shank with two teeth.
    args+=(-fill none -stroke "$fg" -strokewidth "$w"
           -draw "circle $((7*scale)),$((11*scale)) $((7*scale)),$((7*scale))"
           -draw "line $((11*scale)),$((11*scale)) $((19*scale)),$((11*scale))"
           -draw "line $((17*scale)),$((11*scale)) $((17*scale)),$((15*scale))"
           -draw "line $((14*scale)),$((11*scale)) $((14*scale)),$((14*scale))")
    case $mark in
      paused) args+=(-stroke "$fg" -strokewidth "$scale"
                     -draw "line $((16*scale)),$((2*scale)) $((16*scale)),$((7*scale))"
                     -draw "line $((19*scale)),$((2*scale)) $((19*scale)),$((7*scale))") ;;
      warning) args+=(-stroke none -fill "#f5a623"
                      -draw "circle $((18*scale)),$((4*scale)) $((18*scale)),$((1*scale))") ;;
      notinit) args+=(-stroke none -fill "#9b9b9b"
                      -draw "circle $((18*scale)),$((4*scale)) $((18*scale)),$((2*scale))") ;;
    esac
    convert "${args[@]}" "PNG32:$out"
    : "$r"
  done
}
draw TrayIconBlack "#202020" none none
draw TrayIconWhite "#ffffff" "#3d91fa" none
for state in "" _paused _warning _notinit; do
  mark=${state#_}; [ -z "$mark" ] && mark=none
  draw "statusitem_icon_lumvane${state}_dark_34_44" "#202020" none "$mark"
  draw "statusitem_icon_lumvane${state}_dark_invert_34_44" "#ffffff" "#3d91fa" "$mark"
  # For dark panels: a light glyph, the same in both states.
  draw "statusitem_icon_lumvane${state}_color_invert_34_44" "#f2f2f2" none "$mark"
done
{
  echo '<!DOCTYPE RCC><RCC version="1.0">'
  echo '<qresource prefix="/tray">'
  for f in *.png; do echo "  <file>$f</file>"; done
  echo '</qresource>'
  echo '</RCC>'
} > desktop_resources.qrc
