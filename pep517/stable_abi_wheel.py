"""The project's build backend: meson-python's, with the wheel tagged for the oldest Python
it runs on.

The module is built for CPython's stable ABI at the level of the oldest supported Python
(Py_LIMITED_API in src/meson.build), so one wheel serves every CPython from the lower bound
of requires-python in pyproject.toml on. meson-python names an abi3 wheel cpXY-abi3 after the
interpreter that runs the build: in 0.12 (Debian 12's python3-mesonpy) the interpreter tag
comes from sys.version_info (mesonpy._tags.get_interpreter_tag) and no setting changes it. A
build under 3.11 would give cp311-abi3, which pip refuses on 3.10.

So every hook is meson-python's, and build_wheel then retags the wheel it built: the file
name and the Tag line of its WHEEL file (with that file's RECORD entry) get the interpreter
tag of the requires-python floor. This changes nothing inside the wheel but those names and
reads no meson-python internals; a wheel that is not abi3, or already carries that tag, is
left as it is.
"""
import base64
import hashlib
import os
import pathlib
import re
import zipfile

import mesonpy

try:
    import tomllib
except ModuleNotFoundError:  # Python 3.10
    import tomli as tomllib


def __getattr__(name):
    """Every other hook (sdist, requirements, and any a newer meson-python adds) is
    meson-python's own."""
    return getattr(mesonpy, name)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    name = mesonpy.build_wheel(wheel_directory, config_settings, metadata_directory)
    return _retag(pathlib.Path(wheel_directory), name, _floor_python_tag())


def _floor_python_tag():
    """The interpreter tag of requires-python's lower bound: '>=3.10' gives 'cp310'."""
    with open("pyproject.toml", "rb") as f:
        requires = tomllib.load(f)["project"]["requires-python"]
    bound = re.search(r">=\s*3\.(\d+)", requires)
    if not bound:
        raise ValueError(f"requires-python {requires!r} names no lower bound '>=3.N'")
    return f"cp3{bound.group(1)}"


def _record_hash(data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
    return "sha256=" + digest.decode("ascii")


def _retag(directory, name, python_tag):
    """Renames the wheel `name` in `directory` to carry `python_tag` and rewrites its WHEEL
    file and RECORD to match; returns the new file name."""
    distribution, version, python, abi, platform = name[: -len(".whl")].split("-")
    if abi != "abi3" or python == python_tag:
        return name
    tag = f"{python_tag}-{abi}-{platform}"
    new_name = f"{distribution}-{version}-{tag}.whl"
    dist_info = f"{distribution}-{version}.dist-info"
    wheel_entry, record_entry = f"{dist_info}/WHEEL", f"{dist_info}/RECORD"

    source = directory / name
    partial = directory / (new_name + ".partial")
    with zipfile.ZipFile(source) as old:
        wheel, count = re.subn(r"(?m)^Tag: .*$", f"Tag: {tag}", old.read(wheel_entry).decode())
        if count != 1:
            raise ValueError(f"{wheel_entry} of {name} holds {count} Tag lines, expected one")
        wheel = wheel.encode()
        record = re.sub(
            rf"(?m)^{re.escape(wheel_entry)},.*$",
            f"{wheel_entry},{_record_hash(wheel)},{len(wheel)}",
            old.read(record_entry).decode(),
        ).encode()
        with zipfile.ZipFile(partial, "w") as new:
            for info in old.infolist():
                data = {wheel_entry: wheel, record_entry: record}.get(info.filename)
                # The entry's own ZipInfo keeps its time stamp, mode bits and compression.
                new.writestr(info, old.read(info) if data is None else data)
    os.replace(partial, directory / new_name)
    source.unlink()
    return new_name
