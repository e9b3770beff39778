#!/usr/bin/env bash
# Configures and builds one variant into build/<variant>:
#   release  optimised, mimalloc (default)
#   asan     AddressSanitizer + UndefinedBehaviorSanitizer, malloc, asserts on
#   fuzz     the libFuzzer target, built with clang (a separate build: one build has one compiler)
set -euo pipefail
cd "$(dirname "$0")/.."

variant=${1:-release}
PYTHON=${PYTHON:-python3}
case "$variant" in
    release) args=(-DCMAKE_BUILD_TYPE=Release) ;;
    asan) args=(-DCMAKE_BUILD_TYPE=Debug -DMORVELAN_SANITIZE=ON) ;;
    fuzz)
        args=(-DCMAKE_BUILD_TYPE=Debug -DMORVELAN_FUZZ=ON -DMORVELAN_TESTS=OFF -DMORVELAN_PYTHON=OFF
              -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
    *) echo "usage: $0 [release|asan|fuzz]" >&2; exit 2 ;;
esac

cmake -S . -B "build/$variant" -G Ninja --no-warn-unused-cli -DPython_EXECUTABLE="$("$PYTHON" -c 'import sys; print(sys.executable)')" "${args[@]}"
cmake --build "build/$variant" -j "${JOBS:-2}"
