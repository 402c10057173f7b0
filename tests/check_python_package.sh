#!/usr/bin/env bash
# The Python package as pip builds it from a clean copy of the repository:
# pip install (into a virtual environment) and pip wheel both work and write
# nothing into the copy; the installed package imports from anywhere with
# the project's version, its classes are pelk's, its metadata names the
# project and the license, and mypy finds its types.
#   tests/check_python_package.sh
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(pelk VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
copy=$scratch/pelklib
fail() { echo "FAILED: $*" >&2; exit 1; }

"$source/scripts/copy_tree.sh" "$copy"
(cd "$copy" && find . | sort) >"$scratch/before"
/usr/bin/python3 -m venv --system-site-packages "$scratch/venv"
python=$scratch/venv/bin/python
pip=("$python" -m pip --quiet --disable-pip-version-check)
"${pip[@]}" install --no-build-isolation --no-deps "$copy"
"${pip[@]}" wheel --no-build-isolation --no-deps -w "$scratch/wheels" "$copy"
(cd "$copy" && find . | sort) >"$scratch/after"
diff "$scratch/before" "$scratch/after" || fail "the build wrote into the source (above)"

wheel=$(ls "$scratch"/wheels/pelk-"$version"-*.whl) || fail "no wheel of pelk $version"
"$python" -m zipfile -l "$wheel" | awk '{print $1}' >"$scratch/contents"
for file in 'pelk/__init__\.py' 'pelk/__init__\.pyi' 'pelk/py\.typed' 'pelk/_pelk\.cpython-.*\.so'; do
    grep -x "$file" "$scratch/contents" >/dev/null || fail "$file not in $wheel"
done

(cd / && "$python" - "$version") <<'PYTHON' || fail "the installed package"
import importlib.metadata
import sys

import pelk

assert pelk.__version__ == sys.argv[1], pelk.__version__
assert pelk.Board.__module__ == "pelk" and pelk.Timeout.__module__ == "pelk"
assert "/venv/" in pelk.__file__, pelk.__file__
meta = importlib.metadata.metadata("pelk")
assert (meta["Name"], meta["Version"], meta["License"]) == ("pelk", sys.argv[1], "MIT"), meta
PYTHON

if /usr/bin/python3 -m mypy --version >/dev/null 2>&1; then
    typing=$source/python/tests/typing
    mypy=(/usr/bin/python3 -m mypy --no-incremental --python-executable "$python")
    (cd "$scratch" && "${mypy[@]}" --strict "$typing/typed_use.py") || fail "mypy on a typed use"
    if (cd "$scratch" && "${mypy[@]}" "$typing/typed_misuse.py" >/dev/null); then
        fail "mypy accepts a misuse of pelk's types"
    fi
else
    echo "mypy not found: the package's types are not checked"
fi
echo "pip install and pip wheel of pelk $version work from a clean copy and leave it clean"
