# Sourced by the screenshot tests: checks of a 366x526 screenshot of the window's client area.
#
# key_boxes_show_text PNG: succeeds when each of the 32 boxes (Text2_i, Text3_i) has at
# least MIN_DARK_PIXELS dark pixels inside its frame, and no more than half of it dark;
# otherwise prints the boxes that fail.
# Geometry in logical pixels of the 366x526 client area: rows 24 px apart from y = 56,
# address boxes at x = 72, line boxes at x = 136, each 49x18.

KEY_BOX_WIDTH=49
KEY_BOX_HEIGHT=18
KEY_BOX_INSET=3    # skip the frame and its shading
MIN_DARK_PIXELS=6  # a single "1" in a 9 pt face has well over this

key_boxes_show_text()
{
    local png=$1 row left top dark empty=""
    local w=$((KEY_BOX_WIDTH - 2 * KEY_BOX_INSET)) h=$((KEY_BOX_HEIGHT - 2 * KEY_BOX_INSET))
    for row in $(seq 0 15); do
        top=$((56 + 24 * row + KEY_BOX_INSET))
        for left in 72 136; do
            dark=$(convert "$png" -crop "${w}x${h}+$((left + KEY_BOX_INSET))+${top}" +repage \
                -colorspace Gray -threshold 50% -negate -format '%[fx:round(mean*w*h)]' info:) ||
                dark=0
            # Text on a light field: some dark pixels, far from all (a screenshot taken
            # before the first paint is black throughout).
            if [ "$dark" -lt "$MIN_DARK_PIXELS" ] || [ "$dark" -gt $((w * h / 2)) ]; then
                empty="$empty $([ "$left" = 72 ] && echo Text2 || echo Text3)_$row($dark)"
            fi
        done
    done
    if [ -n "$empty" ]; then
        echo "boxes without visible text (dark pixels):$empty" >&2
        return 1
    fi
}

# chinese_captions_drawn PNG: succeeds when the captions 串口号, 模块自身地址 and 刷新周期 are
# drawn as glyphs: every character cell (12 px at 9 pt, 96 dpi) has ink, and neighbouring
# cells differ, which the empty boxes drawn for a missing glyph would not.
CJK_CELL=12
MIN_CELL_INK=8
MIN_CELL_DIFFERENCE=15

chinese_captions_drawn()
{
    local png=$1 caption x y count i ink previous="" difference work status=0
    work=$(mktemp -d)
    # caption: left top characters
    for caption in "24 16 3" "192 16 6" "16 456 4"; do
        read -r x y count <<<"$caption"
        for i in $(seq 0 $((count - 1))); do
            convert "$png" -crop "${CJK_CELL}x17+$((x + i * CJK_CELL))+${y}" +repage \
                -colorspace Gray -threshold 60% "$work/cell$i.png"
            ink=$(convert "$work/cell$i.png" -negate -format '%[fx:round(mean*w*h)]' info:)
            if [ "$ink" -lt "$MIN_CELL_INK" ]; then
                echo "no glyph at $((x + i * CJK_CELL)),$y (ink $ink)" >&2
                status=1
            fi
            if [ "$i" -gt 0 ]; then
                difference=$(compare -metric AE "$work/cell$((i - 1)).png" "$work/cell$i.png" null: 2>&1)
                if [ "${difference%%.*}" -lt "$MIN_CELL_DIFFERENCE" ]; then
                    echo "cells at $((x + (i - 1) * CJK_CELL)),$y and next look alike (boxes?)" >&2
                    status=1
                fi
            fi
        done
    done
    rm -rf "$work"
    return "$status"
}
