#!/usr/bin/env bash
# Type-checks programs against the pip-installed package as a user's project would:
# tests/typing/uses_every_name.py (every function, class and attribute) must pass
# `mypy --strict` and then run; tests/typing/wrong_argument.py must fail with
# exactly the expected errors; the command's package csv_vestle must pass too. Fails
# when the stubs are not found, not complete or too loose.
# Usage: scripts/test-typing.sh   (interpreter: VESTLE_PYTHON, default /usr/bin/python3;
# Debian's mypy serves /usr/bin/python3)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

scripts/install-deps.sh python3-mypy python3-venv python3-setuptools python3-wheel python3-tqdm

work=$(mktemp -d "${TMPDIR:-/tmp}/vestle-typing.XXXXXX")
trap 'rm -rf "$work"' EXIT
scripts/venv-install.sh "$work"
python="$work/venv/bin/python"

# Outside the source tree, so that only the installed stubs can be found.
mkdir "$work/run"
cp tests/typing/uses_every_name.py tests/typing/wrong_argument.py "$work/run/"
cd "$work/run"
export -n PYTHONPATH MYPYPATH
mypy() { "$python" -m mypy --strict --no-error-summary --cache-dir "$work/mypy-cache" "$@"; }

echo "== the typed program covers every public name of the stubs"
"$python" - <<'PY'
import ast
import sysconfig
from pathlib import Path

stub_path = Path(sysconfig.get_paths()["platlib"], "_csv_vestle_backend-stubs", "__init__.pyi")
stub = ast.parse(stub_path.read_text(encoding="utf-8"))
names = {"__version__", "__all__"}
for node in stub.body:
    if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and not node.name.startswith("_"):
        names.add(node.name)
    if isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
        names.update(m.name for m in node.body if isinstance(m, ast.FunctionDef)
                     and m.name not in ("__new__", "__repr__", "__iter__", "__next__", "__len__",
                                        "__enter__"))
program = ast.parse(Path("uses_every_name.py").read_text(encoding="utf-8"))
used = {n.attr for n in ast.walk(program) if isinstance(n, ast.Attribute)}
used |= {alias.name for n in ast.walk(program) if isinstance(n, ast.ImportFrom) for alias in n.names}
missing = sorted(names - used)
assert not missing, f"uses_every_name.py does not use: {missing}"
print(f"{len(names)} names used: {', '.join(sorted(names))}")
PY

echo "== mypy --strict uses_every_name.py (must pass)"
mypy uses_every_name.py
echo "mypy: no errors"
"$python" uses_every_name.py >/dev/null
echo "the program runs"

echo "== mypy --strict on the installed csv_vestle package, the command (must pass)"
mypy -p csv_vestle
echo "mypy: no errors"

echo "== mypy --strict wrong_argument.py (must fail)"
status=0
output=$(mypy wrong_argument.py) || status=$?
printf '%s\n' "$output"
expected='wrong_argument.py:7: error: Argument 1 to "vestle_file" has incompatible type "Path"; expected "str"  [arg-type]
wrong_argument.py:8: error: Argument "fill_ragged_rows" to "open" has incompatible type "int"; expected "bool"  [arg-type]
wrong_argument.py:9: error: Argument 1 to "sniff" has incompatible type "bytes"; expected "str"  [arg-type]'
if ((status != 1)) || [[ "$output" != "$expected" ]]; then
  echo "expected mypy to exit 1 (got $status) with exactly:" >&2
  printf '%s\n' "$expected" >&2
  exit 1
fi
echo "mypy refused the wrong arguments as expected"
