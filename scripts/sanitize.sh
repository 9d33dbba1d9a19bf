#!/usr/bin/env bash
# Builds and runs the tests under the sanitizers. Each step takes its own build directory:
#   asan    AddressSanitizer + UndefinedBehaviorSanitizer (build-asan): every C++ test,
#           leak checks included, and the fuzz targets over their corpora
#   python  the pytest suite against build-asan's module, the interpreter started with the
#           sanitizer runtime preloaded and its object allocator turned into malloc, so that
#           leak checks see our memory and the Python objects we leak (all but containers,
#           which the interpreter's collector keeps reachable)
#   tsan    ThreadSanitizer (build-tsan): the C++ tests of the channel and the threads
# With no argument, all three, in that order. Any report fails the run.
#   bash scripts/sanitize.sh            # all
#   bash scripts/sanitize.sh asan tsan  # some
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

steps=("$@")
[ ${#steps[@]} -eq 0 ] && steps=(asan python tsan)

setup() {  # setup DIR OPTIONS...: configure once, reconfigure when it already exists
  local dir=$1
  shift
  if [ -f "$dir/build.ninja" ]; then
    meson setup "$dir" --reconfigure "$@" >/dev/null
  else
    meson setup "$dir" "$@" >/dev/null
  fi
}

common=(-Dtests=true -Dbuildtype=debugoptimized -Db_ndebug=false -Db_lundef=false)
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1:print_summary=1
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:print_summary=1
export TSAN_OPTIONS=halt_on_error=1:abort_on_error=1:second_deadlock_stack=1

build_asan() {
  setup build-asan "${common[@]}" -Db_sanitize=address,undefined
  ninja -C build-asan >/dev/null
}

for step in "${steps[@]}"; do
  case "$step" in
    asan)
      echo "== C++ tests under AddressSanitizer and UndefinedBehaviorSanitizer"
      build_asan
      meson test -C build-asan --print-errorlogs
      ;;
    python)
      echo "== pytest under AddressSanitizer and UndefinedBehaviorSanitizer"
      build_asan
      runtime=$(realpath "$(g++ -print-file-name=libasan.so)")
      # The C++ runtime is preloaded as well: the interpreter does not link it, and the
      # sanitizer's exception interceptor must find it when it starts, before our module loads.
      cxx_runtime=$(realpath "$(g++ -print-file-name=libstdc++.so)")
      # Run from the build directory, so that its module is the one imported.
      (cd build-asan/src &&
        LD_PRELOAD="$runtime $cxx_runtime" PYTHONMALLOC=malloc \
          /usr/bin/python3 -m pytest -q -p no:cacheprovider "$root/tests/python")
      ;;
    tsan)
      echo "== C++ tests of the channel and the threads under ThreadSanitizer"
      setup build-tsan "${common[@]}" -Db_sanitize=thread
      tests=(channel exit_commit write_worker wal_writer database_writer activity_log backup)
      targets=()
      for t in "${tests[@]}"; do targets+=("tests/cpp/${t}_test"); done
      ninja -C build-tsan "${targets[@]}" >/dev/null
      meson test -C build-tsan --no-rebuild --print-errorlogs "${tests[@]}"
      ;;
    *)
      echo "unknown step $step (asan, python, tsan)" >&2
      exit 2
      ;;
  esac
done
