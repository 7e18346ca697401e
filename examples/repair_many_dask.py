"""Repairs every *.csv file of a folder on a dask.distributed cluster.

Without --scheduler it starts a LocalCluster of worker processes on this
machine; with --scheduler tcp://HOST:8786 the same code sends the work to a
running cluster. There every worker needs csv-vestle installed and must see
the input and output folders at the same paths (a shared file system), since
each file is read and written by the worker that repairs it. Only the
summaries travel back, as summary.to_dict(): a VestleSummary cannot be pickled.

    python3 examples/repair_many_dask.py INPUT_FOLDER OUTPUT_FOLDER [--workers N] [--scheduler ADDRESS]

Each NAME.csv is repaired into OUTPUT_FOLDER/NAME.csv; rows with surplus fields
are set aside in OUTPUT_FOLDER/NAME.quarantine.csv. Prints each file's summary.
(Debian: apt-get install python3-distributed.)
"""

import argparse
import os
from pathlib import Path

from dask.distributed import Client, LocalCluster


def repair_one(source: str, output_folder: str) -> dict:
    # Imported on the worker, which needs the module, not the client.
    import _csv_vestle_backend as vestle

    name = Path(source)
    summary = vestle.vestle_file(source, str(Path(output_folder, name.name)),
                                 str(Path(output_folder, f"{name.stem}.quarantine.csv")),
                                 merge_overflow=False)
    return summary.to_dict()  # a plain dict crosses the network


def repair_all(client: Client, sources: list[Path], output_folder: Path) -> dict[str, dict]:
    # Absolute paths: the workers do not run in this process's working directory.
    paths = [str(source.resolve()) for source in sources]
    futures = client.map(repair_one, paths, [str(output_folder.resolve())] * len(paths),
                         pure=False)
    results = client.gather(futures)
    return {source.name: result for source, result in zip(sources, results)}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("input_folder", type=Path)
    parser.add_argument("output_folder", type=Path)
    parser.add_argument("--workers", type=int, default=os.cpu_count(),
                        help="worker processes of the local cluster")
    parser.add_argument("--scheduler", help="address of a running scheduler, e.g. tcp://10.0.0.5:8786")
    args = parser.parse_args()
    args.output_folder.mkdir(parents=True, exist_ok=True)
    sources = sorted(args.input_folder.glob("*.csv"))
    if args.scheduler:
        with Client(args.scheduler) as client:
            results = repair_all(client, sources, args.output_folder)
    else:
        with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            results = repair_all(client, sources, args.output_folder)
    for name, counts in results.items():
        print(f"{name}: {counts}")


if __name__ == "__main__":
    main()
