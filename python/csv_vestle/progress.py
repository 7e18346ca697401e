"""The progress bar on standard error, by bytes of input, drawn by tqdm; and the lines written beside it."""

from __future__ import annotations

import importlib
import sys
from typing import Any

_REFRESH_SECONDS = 0.2


def _load_tqdm() -> Any:
    """tqdm's bar class, or None when it is not installed: it is needed only to draw a bar."""
    try:
        module = importlib.import_module("tqdm")
    except ImportError:
        return None
    # Its monitor thread would make the workers' fork unsafe; the command refreshes the bar itself.
    module.tqdm.monitor_interval = 0
    return module.tqdm


class Progress:
    """Shows bytes of input repaired out of the total (when every size is known), when wanted."""

    def __init__(self, wanted: bool) -> None:
        self._bar_class = _load_tqdm() if wanted else None
        self._bar: Any = None
        self._files = self._files_done = 0

    @property
    def interval(self) -> float | None:
        """How often show() wants to be called: None when there is no bar."""
        return _REFRESH_SECONDS if self._bar is not None else None

    def start(self, total: int | None, files: int) -> None:
        if self._bar_class is None:
            return
        self._files = files
        self._bar = self._bar_class(total=total, unit="B", unit_scale=True, unit_divisor=1024,
                                    file=sys.stderr, dynamic_ncols=True, mininterval=_REFRESH_SECONDS)
        self._show_files()

    def show(self, done_bytes: int) -> None:
        if self._bar is not None and done_bytes > self._bar.n:
            self._bar.update(done_bytes - self._bar.n)

    def file_done(self) -> None:
        self._files_done += 1
        self._show_files()

    def _show_files(self) -> None:
        if self._bar is not None and self._files > 1:
            self._bar.set_postfix_str(f"{self._files_done}/{self._files} files")

    def write(self, line: str) -> None:
        """Writes a line to standard error, above the bar when there is one."""
        if self._bar is not None:
            self._bar.write(line, file=sys.stderr)
        else:
            print(line, file=sys.stderr, flush=True)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None
