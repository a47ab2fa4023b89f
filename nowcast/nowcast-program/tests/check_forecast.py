"""Reads a forecast file of nowcast back with h5py and checks its structure, its ODIM types and
its motion against a known velocity. Usage: check_forecast.py FILE SPEED TOWARD TOLERANCE LEADS
(m/s, degrees, m/s, count). Prints each fault and exits 1 when there is one."""
import math
import sys

import h5py
import numpy as np

path, speed, toward, tolerance, leads = sys.argv[1], *map(float, sys.argv[2:5]), int(sys.argv[5])
faults = []


def expect(condition, text):
    if not condition:
        faults.append(text)


def string_attr(attrs, name):
    value = attrs.get(name)
    ok = isinstance(value, bytes) and h5py.check_string_dtype(attrs.get_id(name).dtype) is not None
    expect(ok, "%s is not a fixed-length string: %r" % (name, value))
    expect(attrs.get_id(name).dtype.kind == "S", "%s is not fixed-length" % name)
    return value.decode() if isinstance(value, bytes) else ""


def typed(attrs, name, kind):
    value = attrs.get(name)
    expect(value is not None and np.asarray(value).dtype.kind == kind,
           "%s is not of kind %s: %r" % (name, kind, value))
    return value


with h5py.File(path, "r") as f:
    expect(string_attr(f.attrs, "Conventions") == "ODIM_H5/V2_4", "Conventions")
    expect(string_attr(f["what"].attrs, "object") == "IMAGE", "object is not IMAGE")
    expect(string_attr(f["what"].attrs, "version") == "H5rad 2.4", "version")
    where = f["where"].attrs
    projdef = string_attr(where, "projdef")
    expect(projdef.startswith("+proj=aeqd ") and "+lat_0=" in projdef and "+lon_0=" in projdef,
           "projdef: " + projdef)
    xsize, ysize = typed(where, "xsize", "i"), typed(where, "ysize", "i")
    xscale, yscale = typed(where, "xscale", "f"), typed(where, "yscale", "f")
    for corner in ("LL", "UL", "UR", "LR"):
        typed(where, corner + "_lon", "f")
        typed(where, corner + "_lat", "f")
    # The grid is centred on the radar: corners lie symmetric about the centre's meridian.
    lon_0 = float(projdef.split("+lon_0=")[1].split()[0])
    expect(abs((where["LL_lon"] + where["LR_lon"]) / 2 - lon_0) < 1e-6, "corners off centre")
    expect(where["UL_lat"] > where["LL_lat"] and where["UR_lon"] > where["UL_lon"], "corner order")

    names = sorted((k for k in f if k.startswith("dataset")), key=lambda k: int(k[7:]))
    expect(len(names) == leads + 2, "%d datasets, not %d" % (len(names), leads + 2))
    times = []
    for name in names:
        what = f[name]["what"].attrs
        end = string_attr(what, "enddate") + string_attr(what, "endtime")
        start = string_attr(what, "startdate") + string_attr(what, "starttime")
        times.append((start, end))
        for data in (k for k in f[name] if k.startswith("data")):
            dwhat = f[name][data]["what"].attrs
            string_attr(dwhat, "quantity")
            for attr in ("gain", "offset", "nodata", "undetect"):
                typed(dwhat, attr, "f")
            values = f[name][data]["data"]
            expect(values.shape == (ysize, xsize) and values.dtype == np.float32,
                   "%s/%s: %s %s" % (name, data, values.shape, values.dtype))
    # Analysis and forecasts start at the later volume; valid times grow by whole steps.
    expect(all(t[0] == times[0][0] for t in times[:-1]), "forecast start times differ")
    ends = [int(t[1][8:10]) * 3600 + int(t[1][10:12]) * 60 + int(t[1][12:14]) for t in times[:-1]]
    steps = np.diff(ends) % 86400
    expect(len(set(steps)) == 1 and steps[0] > 0, "valid times: %s" % [t[1] for t in times])

    motion = f[names[-1]]
    quantities = [motion[k]["what"].attrs["quantity"].decode() for k in ("data1", "data2")]
    expect(quantities == ["UWND", "VWND"], "motion quantities: %s" % quantities)
    analysis = f[names[0]]["data1"]["data"][()]
    u, v = motion["data1"]["data"][()], motion["data2"]["data"][()]
    nodata = motion["data1"]["what"].attrs["nodata"]
    # Over the storm cores, where TREC sees the motion best.
    cores = (analysis >= 35) & (u != nodata) & (v != nodata)
    expect(cores.sum() > 100, "only %d core pixels with motion" % cores.sum())
    true_u = speed * math.sin(math.radians(toward))
    true_v = speed * math.cos(math.radians(toward))
    mu, mv = float(np.median(u[cores])), float(np.median(v[cores]))
    print("motion over the cores: u %.2f v %.2f m/s (true %.2f %.2f)" % (mu, mv, true_u, true_v))
    expect(math.hypot(mu - true_u, mv - true_v) <= tolerance, "motion off by more than %g m/s"
           % tolerance)

for fault in faults:
    print("fault: " + fault)
sys.exit(1 if faults else 0)
