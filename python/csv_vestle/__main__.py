"""python3 -m csv_vestle: the same command as csv-vestle."""

import sys

from csv_vestle.cli import main

if __name__ == "__main__":
    sys.exit(main())
