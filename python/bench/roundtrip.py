"""Round trips of the small tree of bench/items_bench.cpp: mbus.loads(mbus.dumps(tree)) against
json.loads(json.dumps(tree)) of the same value, in the same run, as a ratio. JSON has no cookie
or time type, so its tree holds those two as the numbers they are made of.

    PYTHONPATH=build/release/python python3 python/bench/roundtrip.py [runs]
"""
import datetime
import json
import sys
import timeit

import mbus

TIME = datetime.datetime(1601, 1, 1, tzinfo=datetime.timezone.utc) + datetime.timedelta(milliseconds=13300000000000)
SMALL = {"proc": "Deliver", "source": "client-7", "cookie": mbus.Cookie(0x0123456789ABCDEF),
         "arg": {"i": 42, "r": 2.5, "s": "x", "l": ["alpha", "beta", "gamma", "delta", "eps"], "t": TIME}}
SMALL_JSON = dict(SMALL, cookie=0x0123456789ABCDEF, arg=dict(SMALL["arg"], t=13300000000000))


def microseconds(function):
    timer = timeit.Timer(function)
    count, _ = timer.autorange()
    return min(timer.repeat(5, count)) / count * 1e6


def main(runs):
    with mbus.Library():
        assert mbus.loads(mbus.dumps(SMALL)) == SMALL
        print(f"small tree: {len(mbus.dumps(SMALL))} stored bytes, {len(json.dumps(SMALL_JSON))} JSON bytes")
        for run in range(1, runs + 1):
            ours = microseconds(lambda: mbus.loads(mbus.dumps(SMALL)))
            theirs = microseconds(lambda: json.loads(json.dumps(SMALL_JSON)))
            dumps = microseconds(lambda: mbus.dumps(SMALL))
            print(f"run {run}: mbus {ours:.1f} us (dumps {dumps:.1f}), json {theirs:.1f} us, "
                  f"mbus/json {ours / theirs:.2f}")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 3)
