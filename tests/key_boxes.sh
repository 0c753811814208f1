# Sourced by the screenshot tests: checks that every key row's address and line box of
# a window screenshot visibly holds text.
#
# key_boxes_show_text PNG: succeeds when each of the 32 boxes (Text2_i, Text3_i) has at
# least MIN_DARK_PIXELS dark pixels inside its frame; otherwise prints the empty ones.
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
            if [ "$dark" -lt "$MIN_DARK_PIXELS" ]; then
                empty="$empty $([ "$left" = 72 ] && echo Text2 || echo Text3)_$row($dark)"
            fi
        done
    done
    if [ -n "$empty" ]; then
        echo "boxes without visible text (dark pixels):$empty" >&2
        return 1
    fi
}
