"""Compiles the module's sources that include Python.h against another interpreter's headers:
the part of a build that depends on the interpreter, checked without a build of its own (and
where meson cannot configure one: meson before 1.2.3 with Python 3.12 or later). It takes the compile commands of a meson build directory, swaps
the Python include directories for PYTHON's and compiles without writing objects
(-fsyntax-only: parsing and every semantic check, templates instantiated). Fails when one
source does not compile.

    python3 scripts/compile_against.py BUILD_DIR PYTHON
"""
import concurrent.futures
import json
import os
import re
import shlex
import subprocess
import sys

PYTHON_INCLUDE = re.compile(r"^-I.*/python3\.\d+$")
OUTPUT_OPTIONS = {"-o", "-MQ", "-MF", "-MT"}  # each followed by its file


def include_options(python):
    paths = subprocess.run(
        [python, "-c", "import sysconfig; p = sysconfig.get_paths(); "
                       "print(p['include']); print(p['platinclude'])"],
        check=True, capture_output=True, text=True).stdout.split()
    return ["-I" + path for path in dict.fromkeys(paths)]


def syntax_only(command, includes):
    """The command with PYTHON's include directories and without output files."""
    words, result, swapped = shlex.split(command), [], False
    skip = False
    for word in words:
        if skip:
            skip = False
        elif word in OUTPUT_OPTIONS:
            skip = True
        elif word == "-MD" or word.startswith("-fdiagnostics-color"):
            pass
        elif PYTHON_INCLUDE.match(word):
            if not swapped:
                result += includes
                swapped = True
        else:
            result.append(word)
    return result + ["-fsyntax-only"] if swapped else None


def main(build_dir, python):
    with open(os.path.join(build_dir, "compile_commands.json"), encoding="utf-8") as f:
        entries = json.load(f)
    includes = include_options(python)
    jobs = [(entry["file"], entry["directory"], syntax_only(entry["command"], includes))
            for entry in entries]
    jobs = [job for job in jobs if job[2] is not None]
    if not jobs:
        sys.exit(f"no source in {build_dir} includes Python's headers")

    def compile_one(job):
        source, directory, command = job
        return source, subprocess.run(command, cwd=directory, capture_output=True, text=True)

    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        results = list(pool.map(compile_one, jobs))
    failed = [(source, run) for source, run in results if run.returncode != 0]
    for source, run in failed:
        print(f"{source} does not compile against {' '.join(includes)}:\n{run.stderr}",
              file=sys.stderr)
    if failed:
        sys.exit(1)
    print(f"{len(jobs)} sources compile against {' '.join(includes)}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
