"""Compares builds of the C++ benchmark on a machine whose speed wanders.

Runs each build's lumasift_bench in turn, round after round, and prints for
every case its time over the floor's in the same run of the same build:
ratios from runs that alternate, so that a slow spell of the machine falls on
all builds alike.

    /usr/bin/python3 bench/compare_builds.py OLD/lumasift_bench NEW/lumasift_bench \
        --filter '(floor|lumasift)/lined/1000/reach:(4|10)/1_thread' --rounds 3
"""
import argparse
import json
import statistics
import subprocess
import tempfile
from collections import defaultdict


def ratios(binary, pattern):
    """Each lumasift case's median time over the floor's, from one run."""
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([binary, f"--benchmark_filter={pattern}", "--benchmark_repetitions=3",
                        "--benchmark_report_aggregates_only=true", f"--benchmark_out={out.name}",
                        "--benchmark_out_format=json"], check=True, capture_output=True)
        report = json.load(out)
    medians = {b["run_name"]: b["real_time"] for b in report["benchmarks"] if b.get("aggregate_name") == "median"}
    return {name: time / medians[name.replace("lumasift/", "floor/", 1)]
            for name, time in medians.items()
            if name.startswith("lumasift/") and name.replace("lumasift/", "floor/", 1) in medians}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("builds", nargs="+", help="lumasift_bench binaries")
    parser.add_argument("--filter", default="(floor|lumasift)/lined/1000/reach:(4|10)/1_thread")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    seen = defaultdict(lambda: defaultdict(list))
    for _ in range(args.rounds):
        for build in args.builds:
            for case, ratio in ratios(build, args.filter).items():
                seen[case][build].append(ratio)
    for case in sorted(seen):
        print(case.replace("/real_time", ""))
        for build in args.builds:
            found = seen[case][build]
            print(f"  {statistics.median(found):.3f}x of the floor  ({', '.join(f'{r:.3f}' for r in found)})  {build}")


if __name__ == "__main__":
    main()
