"""Shared fixtures for the Python tests of _csv_vestle_backend."""

import itertools

import pytest

try:
    import _csv_vestle_backend  # noqa: F401  (fail the whole run at once when missing)
except ImportError as error:
    raise ImportError(
        "_csv_vestle_backend cannot be imported: build the module and put its "
        "build directory on PYTHONPATH"
    ) from error


@pytest.fixture
def write_file(tmp_path):
    """Writes bytes (or UTF-8 text) to a new file under tmp_path; returns its path as str."""
    counter = itertools.count()

    def write(content, name=None):
        path = tmp_path / (name or f"input{next(counter)}.csv")
        path.write_bytes(content.encode("utf-8") if isinstance(content, str) else content)
        return str(path)

    return write


@pytest.fixture
def out_paths(tmp_path):
    """Paths for a repaired file and a quarantine file that do not exist yet."""
    return str(tmp_path / "out.csv"), str(tmp_path / "quarantine.csv")
