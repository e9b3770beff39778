#!/usr/bin/env bash
# Runs the tests: for each variant (default: release, plus asan when built),
# builds it if needed, then runs ctest and pytest against it. The conformance
# test runs the variant's decoder, named by MORVELAN_DECODE.
#   bash scripts/test.sh [release] [asan]
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}

variants=("$@")
if ((${#variants[@]} == 0)); then
    variants=(release)
    [[ -d build/asan ]] && variants+=(asan)
fi

status=0
for variant in "${variants[@]}"; do
    case "$variant" in
        release) ;;
        asan)
            export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
            export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} ;;
        *) echo "usage: $0 [release] [asan]" >&2; exit 2 ;;
    esac
    echo "=== $variant: build"
    bash scripts/build.sh "$variant"

    echo "=== $variant: ctest"
    ctest --test-dir "build/$variant" --output-on-failure --no-tests=error -j "${JOBS:-2}" || status=1

    echo "=== $variant: pytest"
    # The tests import the module built in this variant's directory. A
    # sanitized module needs the sanitizer runtime loaded first; leak checking
    # is off there, since the interpreter keeps memory until exit on purpose.
    preload=()
    if [[ $variant == asan ]]; then
        preload=(env LD_PRELOAD="$(g++ -print-file-name=libasan.so)" ASAN_OPTIONS=detect_leaks=0)
    fi
    rc=0
    "${preload[@]}" env PYTHONPATH="$PWD/build/$variant${PYTHONPATH:+:$PYTHONPATH}" \
        MORVELAN_DECODE="$PWD/build/$variant/toml-decode" "$PYTHON" -m pytest -q tests || rc=$?
    if ((rc == 5)); then
        echo "pytest collected no tests: failing" >&2
    fi
    ((rc == 0)) || status=1
done
exit "$status"
