"""Arguments of the wrong type that `mypy --strict` must refuse (scripts/test-typing.sh checks the errors)."""

from pathlib import Path

import _csv_vestle_backend as vestle

vestle.vestle_file(Path("in.csv"), "out.csv")
vestle.open("in.csv", fill_ragged_rows=1)
vestle.sniff(b"a,b\n")
