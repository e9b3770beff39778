#!/usr/bin/env bash
# Builds the wheel once, repairs it to its manylinux tag (dist/), installs that
# wheel into a fresh virtual environment of every CPython from 3.11 on that the
# machine has, and runs the Python tests against each installed copy.
#   bash scripts/wheel.sh
# PYTHON builds the wheel (default python3). The interpreters tested are the
# newest of each 3.x (x >= 11) under $PYENV_ROOT/versions, or WHEEL_PYTHONS
# (paths, separated by spaces). MORVELAN_PROP_EXAMPLES (default 20 here) scales
# the property-based tests. Needs auditwheel and patchelf (scripts/setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
export MORVELAN_PROP_EXAMPLES=${MORVELAN_PROP_EXAMPLES:-20}
unset PYTHONPATH
# auditwheel runs patchelf from the same Python's scripts directory.
PATH=$("$PYTHON" -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "=== wheel: build"
"$PYTHON" -m pip wheel . --no-deps --disable-pip-version-check -w "$work/raw"
raw=("$work"/raw/morvelan-*.whl)
rm -rf dist
"$PYTHON" -m auditwheel repair "${raw[0]}" -w dist
wheels=(dist/morvelan-*.whl)
if ((${#wheels[@]} != 1)); then
    echo "wheel: expected one repaired wheel in dist/, found ${#wheels[@]}" >&2
    exit 1
fi
wheel=${wheels[0]}
"$PYTHON" -m auditwheel show "$wheel"
echo "wheel: $wheel ($(stat -c %s "$wheel") bytes)"

# The interpreters: the newest patch release of each CPython 3.x, x >= 11.
pythons=()
if [[ -n ${WHEEL_PYTHONS:-} ]]; then
    read -ra pythons <<<"$WHEEL_PYTHONS"
else
    versions=${PYENV_ROOT:-$HOME/.pyenv}/versions
    declare -A newest=()
    for dir in "$versions"/3.*; do
        [[ ${dir##*/} =~ ^3\.([0-9]+)\.([0-9]+)$ && -x $dir/bin/python3 ]] || continue
        minor=${BASH_REMATCH[1]} patch=${BASH_REMATCH[2]}
        ((minor >= 11)) || continue
        if [[ -z ${newest[$minor]:-} ]] || ((patch > ${newest[$minor]##*.})); then
            newest[$minor]=3.$minor.$patch
        fi
    done
    last=13
    for minor in "${!newest[@]}"; do ((minor > last)) && last=$minor; done
    for ((minor = 11; minor <= last; minor++)); do
        if [[ -n ${newest[$minor]:-} ]]; then
            pythons+=("$versions/${newest[$minor]}/bin/python3")
        else
            echo "wheel: no CPython 3.$minor under $versions: not tested on it"
        fi
    done
fi
if ((${#pythons[@]} == 0)); then
    echo "wheel: no CPython 3.11 or later to test the wheel on" >&2
    exit 1
fi

# tests/test_engine_conformance.py drives the engine's toml-decode tool of a
# build tree, not the module: scripts/test.sh runs it.
echo "wheel: tests/test_engine_conformance.py is left to scripts/test.sh (it tests a build tree's toml-decode)"
status=0
summary=()
for py in "${pythons[@]}"; do
    version=$("$py" -c 'import platform; print(platform.python_version())')
    echo "=== wheel: CPython $version ($py)"
    venv=$work/venv-$version
    "$py" -m venv "$venv"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check "$wheel[test]"
    # The tests must import the installed package, not a build tree.
    where=$("$venv/bin/python" -c 'import morvelan; print(morvelan.morvelan.__file__)')
    if [[ $where != "$venv"/* ]]; then
        echo "wheel: CPython $version imports morvelan from $where, not from the wheel" >&2
        status=1
        continue
    fi
    rc=0
    "$venv/bin/python" -m pytest -q -rs -p no:cacheprovider tests \
        --ignore=tests/test_engine_conformance.py | tee "$work/pytest.log" || rc=$?
    if ((rc == 5)); then
        echo "pytest collected no tests: failing" >&2
    fi
    ((rc == 0)) || status=1
    summary+=("CPython $version: $(tail -n 1 "$work/pytest.log" | tr -d '=')")
done
printf 'wheel: %s\n' "${summary[@]}"
exit "$status"
