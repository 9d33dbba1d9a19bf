#!/usr/bin/env bash
# Tests the one built wheel (dist/, made by scripts/setup.sh) under every CPython from 3.10 to
# 3.13 that the machine has besides Debian's /usr/bin/python3 (which scripts/test.sh tests
# itself): pyenv's, the newest release of each version under $PYENV_ROOT/versions. A version
# that is absent is skipped, and said so; the last line names every interpreter tested.
# For each interpreter:
#   - the module must build against it: every source that includes Python.h compiles against
#     its headers (scripts/compile_against.py), and meson configures a build for it where this
#     meson can use the interpreter (not before meson 1.2.3 with Python 3.12 or later, see
#     meson.build);
#   - pip installs the wheel into a virtual environment of it, which checks the wheel's tag;
#   - the pytest suite runs there against that module. Those interpreters have no packages and
#     no package index is reachable, so Debian's pytest and hypothesis, pure Python, are put
#     on PYTHONPATH through a directory of links to just them and what they need.
# The builds come first; then the suites run in parallel, each into its own log, printed in
# version order.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
versions=(3.10 3.11 3.12 3.13)

wheels=(dist/quorvane-*.whl)
if [ ${#wheels[@]} -ne 1 ] || [ ! -f "${wheels[0]}" ]; then
  echo "expected exactly one wheel in dist/ (bash scripts/setup.sh makes it)" >&2
  exit 1
fi
wheel=$root/${wheels[0]}
case "$wheel" in
  *-cp310-abi3-*.whl) ;;
  *) echo "$wheel: expected the tag cp310-abi3 (the oldest Python the module supports)" >&2
     exit 1 ;;
esac
/usr/bin/python3 - "$wheel" <<'EOF'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
for wanted in ("quorvane.abi3.so", "quorvane-stubs/__init__.pyi", ".dist-info/LICENSE"):
    if not any(name.endswith(wanted) for name in names):
        sys.exit(f"{sys.argv[1]} holds no {wanted}: {names}")
EOF
echo "wheel: $(basename "$wheel")"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Debian's pytest and hypothesis and what they need (exceptiongroup and tomli before 3.11).
test_packages=(python3-pytest python3-pluggy python3-iniconfig python3-packaging python3-attr
  python3-exceptiongroup python3-tomli python3-hypothesis python3-sortedcontainers)
mkdir "$work/site"
for p in "${test_packages[@]}"; do
  dpkg -L "$p" | grep -E '^/usr/lib/python3/dist-packages/[^/]+$' | xargs -r ln -s -t "$work/site"
done
if find -L "$work/site" -name '*.so' | grep -q .; then
  echo "a linked test package holds a compiled module: it would not load here" >&2
  exit 1
fi

newest_python() {  # newest_python VERSION: the newest pyenv CPython VERSION.N, or nothing
  local dir
  dir=$(find "${PYENV_ROOT:-$HOME/.pyenv}/versions" -mindepth 1 -maxdepth 1 \
    -regex ".*/${1//./\\.}\.[0-9]+" 2>/dev/null | sort -V | tail -n 1)
  if [ -n "$dir" ] && [ -x "$dir/bin/python" ] &&
    "$dir/bin/python" -c 'import sys; sys.exit(sys.implementation.name != "cpython")'; then
    echo "$dir/bin/python"
  fi
}

build_check() {  # build_check VERSION PYTHON
  local version=$1 python=$2 native=$work/native-$1.ini log=$work/setup-$1.log
  /usr/bin/python3 scripts/compile_against.py build-pip "$python"
  # Only the sources that include Python.h depend on the interpreter; what meson itself needs
  # of it is checked by configuring a build (nothing is compiled twice).
  printf "[binaries]\npython = '%s'\n" "$python" >"$native"
  if meson setup "$work/meson-$version" --native-file "$native" >"$log" 2>&1; then
    echo "Python $version: meson configures a build for it"
  elif grep -q "found no Python interpreter it can use" "$log"; then
    echo "Python $version: meson $(meson --version) cannot configure a build for it"
  else
    cat "$log" >&2
    return 1
  fi
}

run_suite() {  # run_suite VERSION PYTHON: installs the wheel and runs the tests
  local venv=$work/venv-$1
  "$2" -m venv "$venv"
  "$venv/bin/python" -m pip install -q --no-index --no-deps --disable-pip-version-check "$wheel"
  cd /tmp
  "$venv/bin/python" -c 'import quorvane, sys
print(f"Python {sys.version.split()[0]}: testing {quorvane.__file__}")'
  # Debian's pytest predates 3.12: its assertion rewriter's own deprecation warnings are noise.
  PYTHONPATH=$work/site "$venv/bin/python" -m pytest -q -p no:cacheprovider \
    --basetemp "$work/pytest-$1" -W "ignore::DeprecationWarning:_pytest.assertion.rewrite" \
    "$root/tests/python"
}

debian_version=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
debian_release=$(/usr/bin/python3 -c 'import platform; print(platform.python_version())')

found=() pythons=() releases=()
for version in "${versions[@]}"; do
  python=$(newest_python "$version")
  if [ -z "$python" ]; then
    if [ "$version" = "$debian_version" ]; then
      echo "Python $version: no pyenv interpreter; Debian's /usr/bin/python3 ($debian_release) is tested by scripts/test.sh"
    else
      echo "Python $version: absent, skipped"
    fi
    continue
  fi
  build_check "$version" "$python"
  found+=("$version")
  pythons+=("$python")
  releases+=("$("$python" -c 'import platform; print(platform.python_version())')")
done

for i in "${!found[@]}"; do
  (run_suite "${found[$i]}" "${pythons[$i]}") >"$work/${found[$i]}.log" 2>&1 &
  echo $! >"$work/${found[$i]}.pid"
done

failed=()
for version in "${found[@]}"; do
  echo "== pytest under Python $version"
  status=0
  wait "$(cat "$work/$version.pid")" || status=$?
  cat "$work/$version.log"
  [ "$status" -eq 0 ] || failed+=("$version")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "the tests failed under Python ${failed[*]}" >&2
  exit 1
fi
tested="Debian's Python $debian_release (/usr/bin/python3, scripts/test.sh)"
[ ${#releases[@]} -gt 0 ] && tested+=" and pyenv's Python ${releases[*]}"
echo "tested the wheel under $tested"
