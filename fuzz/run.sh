#!/usr/bin/env bash
# Builds the libFuzzer targets with the `fuzz` preset: fuzz_receive (the whole receive path,
# corpus fuzz/corpus) and fuzz_telnet (a network serial server's bytes through the Telnet
# session, corpus fuzz/corpus-telnet). For each, runs every input of its committed corpus
# once, then fuzzes for a bounded time. Exits non-zero on any crash, sanitizer report, leak
# or invariant violation (the failing input is kept as fuzz/crash-*, fuzz/leak-* or
# fuzz/timeout-*, which git ignores).
#
#   fuzz/run.sh [SECONDS [TARGET...]]   default 60 s for each of both targets
#
# New inputs found while fuzzing go to a temporary folder that is removed at the end, so
# the committed corpus and the work tree stay unchanged. To keep some of them, run the
# target by hand with a folder of your own and merge it into the corpus:
#   QT_QPA_PLATFORM=offscreen build-fuzz/fuzz_receive -merge=1 -max_len=1024 \
#       fuzz/corpus NEW_INPUTS_DIR
#
# Environment: LORVANE_FUZZ_CMAKE_ARGS, extra arguments for the configure step (for
# example -DLORVANE_WERROR=OFF); LORVANE_FUZZ_JOBS, build parallelism.
set -euo pipefail

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_receive fuzz_telnet)
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: $0 [SECONDS [TARGET...]]  (targets: fuzz_receive fuzz_telnet)" >&2
    exit 2
fi
for target in "${targets[@]}"; do
    case "$target" in
        fuzz_receive | fuzz_telnet) ;;
        *) echo "$0: unknown target $target (fuzz_receive, fuzz_telnet)" >&2; exit 2 ;;
    esac
done

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
cd "$root"

# clang with libFuzzer: installed by scripts/setup.sh --with-fuzz when missing.
have_libfuzzer() {
    command -v clang++ >/dev/null 2>&1 &&
        printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long)
                { return 0; }\n' |
        clang++ -x c++ -fsanitize=fuzzer - -o /dev/null >/dev/null 2>&1
}
if ! have_libfuzzer; then
    if [ -x "$root/scripts/setup.sh" ]; then
        "$root/scripts/setup.sh" --preset fuzz --with-fuzz
    fi
    have_libfuzzer || { echo "fuzz/run.sh: clang++ with libFuzzer is needed" >&2; exit 1; }
fi

# shellcheck disable=SC2086  # word splitting of the extra arguments is wanted
cmake --preset fuzz ${LORVANE_FUZZ_CMAKE_ARGS:-}
cmake --build --preset fuzz --target "${targets[@]}" ${LORVANE_FUZZ_JOBS:+--parallel "$LORVANE_FUZZ_JOBS"}

work="$(mktemp -d "${TMPDIR:-/tmp}/lorvane-fuzz.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/runtime"
chmod 700 "$work/runtime"

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$work/runtime"
# Leaks are checked; only fontconfig's own allocations behind Qt's font database are
# suppressed (fuzz/lsan.supp).
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

for target in "${targets[@]}"; do
    bin="$root/build-fuzz/$target"
    corpus="$here/corpus"
    [ "$target" = fuzz_telnet ] && corpus="$here/corpus-telnet"
    shopt -s nullglob
    inputs=("$corpus"/*)
    shopt -u nullglob
    if [ "${#inputs[@]}" -eq 0 ]; then
        echo "fuzz/run.sh: the corpus $corpus is empty" >&2
        exit 1
    fi

    echo "== $target: running the ${#inputs[@]} corpus inputs once"
    "$bin" -artifact_prefix="$here/" "${inputs[@]}"

    echo "== $target: fuzzing for $seconds s"
    # 1024 bytes hold 127 frames, enough for both whole chains with garbage in between, or a
    # server's whole negotiation with data and commands mixed in; longer inputs only slow
    # the search down.
    mkdir -p "$work/new-$target"
    "$bin" -max_total_time="$seconds" -max_len=1024 -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$here/" "$work/new-$target" "$corpus"

    echo "== $target: no crash in $seconds s"
done
