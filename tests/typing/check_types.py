"""Checks the module's type information as installed for PYTHON (an environment that has the
module and sees Debian's mypy, such as .venv):

- mypy (Debian's, for PYTHON's site packages, so it finds the installed stubs and not the
  source tree) finds no error in uses.py, and in misuses.py exactly the errors marked there;
- every Python example of the README type-checks with --strict and runs with PYTHON;
- stubtest finds the stubs in agreement with the module's own signatures;
- uses.py, run with PYTHON, shows that the module takes every call written there.

    /usr/bin/python3 tests/typing/check_types.py .venv/bin/python
"""
import collections
import os
import re
import subprocess
import sys
import tempfile
import tokenize

HERE = os.path.dirname(os.path.abspath(__file__))
README = os.path.join(HERE, os.pardir, os.pardir, "README.md")
USES = os.path.join(HERE, "uses.py")
MISUSES = os.path.join(HERE, "misuses.py")
MARKER = re.compile(r"#\s*E:\s*(.*?)\s*(?=#\s*E:|$)")
ERROR = re.compile(r"^(?P<file>.+?):(?P<line>\d+): error: (?P<message>.*)$")


def run(command, cwd):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True)


def mypy_errors(python, path, cwd):
    """{line: [message]} of mypy's errors in path; fails on output it does not understand."""
    # A configuration of its own, so that no user or project setting changes the check.
    config = os.path.join(cwd, "mypy.ini")
    with open(config, "w", encoding="utf-8") as f:
        f.write("[mypy]\n")
    result = run(["mypy", "--python-executable", python, "--strict", "--config-file", config,
                  "--cache-dir", os.devnull, "--no-error-summary", path], cwd)
    errors = collections.defaultdict(list)
    for line in result.stdout.splitlines():
        error = ERROR.match(line)
        if error and os.path.samefile(os.path.join(cwd, error["file"]), path):
            errors[int(error["line"])].append(error["message"])
        elif ": note: " not in line:
            sys.exit(f"unexpected mypy output for {path}:\n{result.stdout}{result.stderr}")
    if result.returncode != (1 if errors else 0):
        sys.exit(f"mypy ended with {result.returncode} on {path}:\n{result.stdout}{result.stderr}")
    return errors


def readme_examples(work):
    """The README's ```python blocks, each written to a file of its own in work; their paths."""
    with open(README, encoding="utf-8") as f:
        blocks = re.findall(r"^```python\n(.*?)^```$", f.read(), re.DOTALL | re.MULTILINE)
    paths = []
    for n, block in enumerate(blocks, 1):
        path = os.path.join(work, f"readme_example_{n}.py")
        with open(path, "w", encoding="utf-8") as f:
            f.write(block)
        paths.append(path)
    return paths


def marked_errors(path):
    """{line: [expected part of a message]} from the "# E:" comments of path."""
    with open(path, encoding="utf-8") as f:
        comments = [(token.start[0], token.string) for token in tokenize.generate_tokens(f.readline)
                    if token.type == tokenize.COMMENT and MARKER.match(token.string)]
    return {line: MARKER.findall(comment) for line, comment in comments}


def mismatches(expected, found):
    """The lines whose errors differ from their markers, as texts."""
    problems = []
    for line in sorted(set(expected) | set(found)):
        wanted, messages = expected.get(line, []), list(found.get(line, []))
        unmatched = []
        for part in wanted:
            match = next((m for m in messages if part in m), None)
            if match is None:
                unmatched.append(part)
            else:
                messages.remove(match)
        if unmatched or messages:
            problems.append(f"line {line}: expected {unmatched or wanted}, mypy said "
                            f"{found.get(line, [])}")
    return problems


def main(python):
    failures = []
    with tempfile.TemporaryDirectory() as work:
        uses = mypy_errors(python, USES, work)
        if uses:
            failures.append(f"mypy found errors in uses.py: {dict(uses)}")
        expected, found = marked_errors(MISUSES), mypy_errors(python, MISUSES, work)
        failures += [f"misuses.py {problem}" for problem in mismatches(expected, found)]
        count = sum(len(parts) for parts in expected.values())
        print(f"mypy: uses.py: {sum(map(len, uses.values()))} errors; misuses.py: "
              f"{sum(map(len, found.values()))} errors, {count} expected")

        examples = readme_examples(work)
        if not examples:
            failures.append("the README holds no Python example")
        for path in examples:
            name = os.path.basename(path)
            if errors := mypy_errors(python, path, work):
                failures.append(f"mypy found errors in the README's {name}: {dict(errors)}")
            with tempfile.TemporaryDirectory() as cwd:
                ran = run([python, path], cwd)
            if ran.returncode != 0:
                failures.append(f"the README's {name} failed when run:\n{ran.stdout}{ran.stderr}")
        print(f"README: {len(examples)} examples type-check with --strict and run")

        stubtest = run([python, "-m", "mypy.stubtest", "--concise", "quorvane"], work)
        if stubtest.returncode != 0:
            failures.append("stubtest found the stubs and the module apart:\n"
                            f"{stubtest.stdout}{stubtest.stderr}")
        else:
            print("stubtest: the stubs agree with the module's signatures")

        used = run([python, USES, work], work)
        if used.returncode != 0:
            failures.append(f"uses.py failed when run:\n{used.stdout}{used.stderr}")
        else:
            print("uses.py ran: the module takes every call written there")
    if failures:
        sys.exit("\n".join(failures))


if __name__ == "__main__":
    main(os.path.abspath(sys.argv[1]))  # not resolved: a venv's python is a link
