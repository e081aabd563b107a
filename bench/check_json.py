"""Reads velmora-bench --json output on stdin; fails unless it is one JSON object with a
finite, positive figure for every step kind. Without a usable device (a cuda build on a
machine without a GPU) the device kinds may carry an error text instead."""
import json
import math
import sys

runtime = sys.argv[1]
text = sys.stdin.read()
try:
    report = json.loads(text)
except ValueError as error:
    sys.exit(f"not one JSON object: {error}\n{text[:500]}")


def check(kinds, expected, device_kinds, rate_key):
    by_name = {k["kind"]: k for k in kinds}
    if sorted(by_name) != sorted(expected):
        sys.exit(f"kinds {sorted(by_name)}, expected {sorted(expected)}")
    for name, kind in by_name.items():
        if "error" in kind:
            if runtime == "cuda" and name in device_kinds:
                continue
            sys.exit(f"{name} did not run: {kind['error']}")
        for key in ("median_ms", rate_key):
            value = kind.get(key)
            if not isinstance(value, (int, float)) or not math.isfinite(value) or value <= 0:
                sys.exit(f"{name}: {key} is {value!r}")
        if kind["reps"] < 1:
            sys.exit(f"{name}: no timed repetitions")


if report.get("runtime") != runtime:
    sys.exit(f"runtime {report.get('runtime')!r}, built for {runtime!r}")
if not report["copy"].get("gbps", 0) > 0:
    sys.exit(f"copy bandwidth missing: {report['copy']}")
check(report["swarm"]["kinds"],
      ["host-step", "host-step-portable", "host-step-1thread-reference", "device-step"],
      {"device-step"}, "particles_per_s")
if report["nbody"] is None:
    sys.exit(f"no n-body figures: {report.get('nbody_error')}")
check(report["nbody"]["kinds"], ["nbody-tiled", "nbody-direct", "nbody-scalar-reference"],
      {"nbody-tiled", "nbody-direct"}, "pairs_per_s")
if runtime == "host":
    for key in ("tiled_max_difference_after_one_step", "direct_max_difference_after_one_step"):
        if not report["nbody"][key] < 1e-5:
            sys.exit(f"{key} is {report['nbody'][key]}: a kernel and the scalar loop disagree")
