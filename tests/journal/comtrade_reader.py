#!/usr/bin/env python3
"""A small reader of IEEE C37.111-1999 ASCII files, independent of the program that wrote
them. Prints, for a .cfg/.dat pair, one line per sample: the sample number, its time in
microseconds and the value of every analog channel (a * x + b), separated by ';'. The first
line names the channels with their units; the second gives the line frequency, the sample
rate, the sample count and the start time."""
import sys


def read_cfg(path):
    with open(path, encoding="ascii") as f:
        lines = [l.rstrip("\r\n") for l in f]
    station, device, rev = lines[0].split(",")
    assert rev == "1999", rev
    total, analog, digital = lines[1].split(",")
    na, nd = int(analog[:-1]), int(digital[:-1])
    assert analog.endswith("A") and digital.endswith("D") and int(total) == na + nd
    channels = []
    for i in range(na):
        f = lines[2 + i].split(",")
        assert len(f) == 13, f
        channels.append({"n": int(f[0]), "id": f[1], "ph": f[2], "unit": f[4],
                         "a": float(f[5]), "b": float(f[6]), "min": int(f[8]), "max": int(f[9])})
    pos = 2 + na + nd
    lf = float(lines[pos])
    nrates = int(lines[pos + 1])
    rates = [tuple(lines[pos + 2 + i].split(",")) for i in range(nrates)]
    pos += 2 + nrates
    start = lines[pos]
    trigger = lines[pos + 1]
    ft = lines[pos + 2]
    timemult = float(lines[pos + 3])
    assert ft.upper() == "ASCII", ft
    return station, device, channels, lf, rates, start, trigger, timemult


def main(cfg_path):
    station, device, channels, lf, rates, start, trigger, timemult = read_cfg(cfg_path)
    dat_path = cfg_path[:-4] + ".dat"
    print(";".join("%s[%s]" % (c["id"], c["unit"]) for c in channels))
    samp, endsamp = float(rates[0][0]), int(rates[0][1])
    print("%g;%g;%d;%s;%s" % (lf, samp, endsamp, start, station))
    count = 0
    with open(dat_path, encoding="ascii") as f:
        for line in f:
            line = line.strip()
            if not line:
                continue
            v = line.split(",")
            assert len(v) == 2 + len(channels), line
            values = []
            for c, x in zip(channels, v[2:]):
                x = int(x)
                assert c["min"] <= x <= c["max"] or x == 99999, (x, c)
                values.append("" if x == 99999 else repr(c["a"] * x + c["b"]))
            print("%s;%g;%s" % (v[0], float(v[1]) * timemult, ";".join(values)))
            count += 1
    assert count == endsamp, (count, endsamp)


if __name__ == "__main__":
    main(sys.argv[1])
