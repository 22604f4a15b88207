"""Runs every benchmark of the project (bench/bench_*.py, each with a `run()` returning rows)
and prints one table. Usage: python bench/run.py [name-filter]"""

import importlib
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).parent))

from common import print_table  # noqa: E402


def main() -> None:
    wanted = sys.argv[1] if len(sys.argv) > 1 else ""
    rows = []
    for path in sorted(pathlib.Path(__file__).parent.glob("bench_*.py")):
        if wanted in path.stem:
            rows.extend(importlib.import_module(path.stem).run())
    print_table(rows)


if __name__ == "__main__":
    main()
