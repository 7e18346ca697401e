"""Failures at the module boundary: OSError kinds, MemoryError, no C++ exception escaping."""

import os
import subprocess
import sys
import textwrap

import pytest

import _csv_vestle_backend as vestle

MODULE_DIR = os.path.dirname(vestle.__file__)


def run_python(script, **kwargs):
    env = dict(os.environ, PYTHONPATH=MODULE_DIR)
    return subprocess.run([sys.executable, "-c", textwrap.dedent(script)], env=env,
                          capture_output=True, text=True, timeout=120, **kwargs)


@pytest.mark.parametrize("content, room", [
    pytest.param(None, 0.5, id="reading fails"),
    pytest.param(b"a,b,c,d,e,f,g,h\n", 1.5, id="repairing fails"),
])
def test_out_of_memory_raises_memory_error_and_the_interpreter_survives(tmp_path, content, room):
    # The address-space limit leaves `room` times the file's size: too little
    # to hold it, or enough to hold the file but not its repaired rows, which
    # the padding of blank lines makes eight times as large. The first file is
    # sparse.
    size = 64 << 20
    path = tmp_path / "input.csv"
    with open(path, "wb") as file:
        if content is None:
            file.truncate(size)
        else:
            file.write(content)
            file.write(b"\n" * (size - len(content)))
    result = run_python(f"""
        import resource
        import _csv_vestle_backend as vestle

        def address_space():
            with open("/proc/self/status") as status:
                for line in status:
                    if line.startswith("VmSize:"):
                        return int(line.split()[1]) * 1024

        resource.setrlimit(resource.RLIMIT_AS, (address_space() + int({size} * {room}),
                                                resource.RLIM_INFINITY))
        try:
            vestle.open({str(path)!r})
        except MemoryError:
            print("MemoryError")
        resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
        print(vestle.sniff("a;b\\n1;2\\n"))
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["MemoryError", ";"]


@pytest.mark.skipif(not hasattr(os, "geteuid"), reason="POSIX permissions only")
def test_unreadable_file_raises_permission_error(tmp_path):
    folder = tmp_path / "shared"
    folder.mkdir()
    path = folder / "secret.csv"
    path.write_bytes(b"a,b\n")
    os.chmod(path, 0)
    for directory in (tmp_path, folder):
        os.chmod(directory, 0o755)
    # Root ignores permission bits, so the check runs as an ordinary user.
    as_user = {"user": 65534} if os.geteuid() == 0 else {}
    script = f"""
        import _csv_vestle_backend as vestle
        for call in (vestle.open, vestle.VestleReader):
            try:
                call({str(path)!r})
            except OSError as error:
                print(type(error).__name__, error.errno, str(error).endswith("(os error 13)"))
        try:
            vestle.vestle_file({str(path)!r}, "/nonexistent-dir/out.csv")
        except OSError as error:
            print(type(error).__name__, error.errno, str(error).endswith("(os error 13)"))
    """
    try:
        result = run_python(script, **as_user)
    except PermissionError:
        pytest.skip("the interpreter cannot be run by an unprivileged user here")
    if as_user and result.returncode != 0 and "ModuleNotFoundError" in result.stderr:
        pytest.skip("the module is not readable by an unprivileged user here")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["PermissionError None True"] * 2 + ["OSError None True"]


def test_errors_carry_one_str_argument(tmp_path):
    missing = str(tmp_path / "missing")
    for call in (lambda: vestle.open(missing), lambda: vestle.vestle_file(missing, missing)):
        with pytest.raises(OSError) as caught:
            call()
        error = caught.value
        assert len(error.args) == 1 and isinstance(error.args[0], str)
        assert (error.errno, error.strerror, error.filename, error.filename2) == (None,) * 4
        assert not hasattr(error, "__notes__")  # I/O errors get no parameter note
