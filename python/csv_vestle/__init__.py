"""The csv-vestle command: repairs damaged CSV files from a shell with the _csv_vestle_backend module.

Run it as ``csv-vestle`` or ``python3 -m csv_vestle``; ``main`` is its entry point.
"""

from _csv_vestle_backend import __version__

__all__ = ["__version__"]
