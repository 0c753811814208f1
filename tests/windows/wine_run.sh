#!/bin/bash
# Runs one cross-built test program under Wine (offscreen platform), in the build's Wine
# prefix. Usage: wine_run.sh PROGRAM.exe [ARGS...]
set -u
# shellcheck source=wine_env.sh
source "$(dirname "$0")/wine_env.sh"
wine_setup
export WINEQT_QPA_PLATFORM=offscreen
wine64 "$@"
