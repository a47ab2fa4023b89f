#!/usr/bin/python3
"""raw2odim against rawpipe: every volume is converted by both programs, the ODIM file is read
back with h5py and the stream with examples/read_stream.py, and the two must give the same
physical values, NaN at the same places.

    odim_compare.py RAW2ODIM RAWPIPE MAKE_VOLUMES READ_STREAM_DIR SAMPLE WORK_DIR

The stream widens 8-bit codes to 16 bits, rounding each value to the 16-bit step; where the ODIM
file keeps 8-bit codes (or floats of non-linear codes) the values agree within half that step.
16-bit volumes agree exactly. Also checked: the ODIM type of every mandatory attribute, the ray
order (clockwise from north, an RHI by rising elevation, a1gate at the first ray in time) and
that h5dump reads each file.
"""

import glob
import math
import os
import shutil
import subprocess
import sys

import h5py
import numpy as np

RAW2ODIM, RAWPIPE, MAKE_VOLUMES, READ_STREAM_DIR, SAMPLE, WORK = sys.argv[1:7]
sys.path.insert(0, READ_STREAM_DIR)
import read_stream  # noqa: E402

failures = []


def fail(text):
    failures.append(text)
    print("FAIL: " + text)


# The stream's data scale of every moment read, in reading order: the test needs the step.
scales_read = []
_physical = read_stream._physical


def _recording_physical(codes, scale):
    scales_read.append(scale)
    return _physical(codes, scale)


read_stream._physical = _recording_physical

STRING, FLOAT, INT = "string", "float64", "int64"
ROOT = {"what": {"object": STRING, "version": STRING, "date": STRING, "time": STRING,
                 "source": STRING},
        "where": {"lon": FLOAT, "lat": FLOAT, "height": FLOAT},
        "how": {"software": STRING, "sw_version": STRING, "startepochs": INT,
                "endepochs": INT}}
DATASET = {"what": {"product": STRING, "startdate": STRING, "starttime": STRING,
                    "enddate": STRING, "endtime": STRING},
           "where": {"nbins": INT, "rstart": FLOAT, "rscale": FLOAT, "nrays": INT,
                     "a1gate": INT},
           "how": {"NI": FLOAT, "highprf": FLOAT, "lowprf": FLOAT, "scan_index": INT,
                   "scan_count": INT, "startazA": FLOAT, "stopazA": FLOAT, "startelA": FLOAT,
                   "stopelA": FLOAT, "startazT": FLOAT}}
DATA = {"quantity": STRING, "gain": FLOAT, "offset": FLOAT, "nodata": FLOAT, "undetect": FLOAT}


def check_type(where, group, name, kind):
    if name not in group.attrs:
        fail("%s: attribute %s missing" % (where, name))
        return
    attribute = group.attrs.get_id(name)
    t = attribute.get_type()
    if kind == STRING:
        ok = (isinstance(t, h5py.h5t.TypeStringID) and not t.is_variable_str()
              and t.get_strpad() == h5py.h5t.STR_NULLTERM
              and t.get_cset() == h5py.h5t.CSET_ASCII
              and t.get_size() == len(group.attrs[name]) + 1)
    elif kind == FLOAT:
        ok = isinstance(t, h5py.h5t.TypeFloatID) and t.get_size() == 8
    else:
        ok = isinstance(t, h5py.h5t.TypeIntegerID) and t.get_size() == 8 and \
            t.get_sign() == h5py.h5t.SGN_2
    if not ok:
        fail("%s: attribute %s is not a %s" % (where, name, kind))


def check_types(where, node, table):
    for group, names in table.items():
        if group not in node:
            fail("%s: group %s missing" % (where, group))
            continue
        for name, kind in names.items():
            check_type("%s/%s" % (where, group), node[group], name, kind)


def turn(a, b):
    return (b - a + 180.0) % 360.0 - 180.0


def row_angles(how, rhi):
    """Middle angle of each row in degrees; NaN for absent rays."""
    if rhi:
        return (how.attrs["startelA"] + how.attrs["stopelA"]) / 2
    start, stop = how.attrs["startazA"], how.attrs["stopazA"]
    return (start + turn(start, stop) / 2) % 360.0


def check_order(name, how, where, rhi):
    angles = row_angles(how, rhi)
    present = np.flatnonzero(~np.isnan(angles))
    steps = np.diff(angles[present]) if rhi else \
        np.array([turn(a, b) for a, b in zip(angles[present][:-1], angles[present][1:])])
    if rhi:
        if np.any(steps <= 0):
            fail("%s: RHI rows do not rise in elevation" % name)
    else:
        # Clockwise with at most one wrap back past north (a sector's gap).
        if np.sum(steps <= 0) > 1 or np.any(steps < -360):
            fail("%s: rows do not run clockwise" % name)
        first = angles[present[0]]
        step = 360.0 / len(angles) if np.sum(steps <= 0) == 0 else np.median(steps)
        expected0 = (first - present[0] * step) % 360.0
        # Row 0 holds north, or starts there when north lies on the border of two rays.
        if (expected0 + 0.49 * step) % 360.0 >= step:
            fail("%s: row 0 lies at %.3f degrees, not over north" % (name, expected0))
    times = how.attrs["startazT"]
    if not np.isnan(times).all():
        a1gate = where.attrs["a1gate"]
        if times[a1gate] != np.nanmin(times):
            fail("%s: a1gate %d is not the first ray in time" % (name, a1gate))


def compare(name, inputs, extra_args=(), bits16_exact=True):
    work = os.path.join(WORK, name)
    os.makedirs(work, exist_ok=True)
    h5 = os.path.join(work, "volume.h5")
    pb = os.path.join(work, "volume.pb")
    run = subprocess.run([RAW2ODIM, *extra_args, *inputs, "-o", h5], capture_output=True,
                         text=True)
    if run.returncode != 0:
        fail("%s: raw2odim exit %d: %s" % (name, run.returncode, run.stderr))
        return
    run = subprocess.run([RAWPIPE, *inputs, "-o", pb], capture_output=True, text=True)
    if run.returncode != 0:
        fail("%s: rawpipe exit %d: %s" % (name, run.returncode, run.stderr))
        return
    if subprocess.run(["h5dump", "-H", h5], stdout=subprocess.DEVNULL).returncode != 0:
        fail("%s: h5dump cannot read the file" % name)
    del scales_read[:]
    with open(pb, "rb") as f:
        volume = read_stream.read_volume(f.read())
    # Sweeps of the stream in time order, with their moments and scales in reading order.
    stream_sweeps = []
    for s in volume.sweeps:
        scales = scales_read[:len(s.moments)]
        del scales_read[:len(s.moments)]
        stream_sweeps.append((s, scales))
    stream_sweeps.sort(key=lambda entry: entry[0].start_time)

    with h5py.File(h5, "r") as f:
        check_type(name, f, "Conventions", STRING)
        if f.attrs["Conventions"] != b"ODIM_H5/V2_4":
            fail("%s: Conventions %r" % (name, f.attrs["Conventions"]))
        check_types(name, f, ROOT)
        datasets = sorted((k for k in f if k.startswith("dataset")), key=lambda k: int(k[7:]))
        if len(datasets) != len(stream_sweeps):
            fail("%s: %d data sets for %d sweeps" % (name, len(datasets), len(stream_sweeps)))
            return
        for key, (sweep, scales) in zip(datasets, stream_sweeps):
            where = "%s/%s" % (name, key)
            ds = f[key]
            check_types(where, ds, DATASET)
            rhi = ds["what"].attrs["product"] == b"RHI"
            check_type(where + "/where", ds["where"], "az_angle" if rhi else "elangle", FLOAT)
            check_order(where, ds["how"], ds["where"], rhi)
            angles = row_angles(ds["how"], rhi)
            # Stream rows to ODIM rows by the ray's middle angle.
            stream_angles = sweep.elevations if rhi else sweep.azimuths
            rows = []
            for a in stream_angles:
                d = np.abs(angles - a) if rhi else np.abs([turn(a, b) for b in angles])
                d = np.where(np.isnan(d), np.inf, d)
                rows.append(int(np.argmin(d)))
            if len(set(rows)) != len(rows):
                fail("%s: stream rays do not match rows one to one" % where)
                continue
            datas = sorted((k for k in ds if k.startswith("data")), key=lambda k: int(k[4:]))
            if len(datas) != len(sweep.moments):
                fail("%s: %d moments for %d" % (where, len(datas), len(sweep.moments)))
                continue
            for dkey, moment, scale in zip(datas, sweep.moments.values(), scales):
                mwhere = "%s/%s (%s)" % (where, dkey, moment.name)
                check_types(mwhere, ds[dkey], {"what": DATA})
                image = ds[dkey]["data"]
                for attr, value in (("CLASS", b"IMAGE"), ("IMAGE_VERSION", b"1.2")):
                    check_type(mwhere + "/data", image, attr, STRING)
                    if image.attrs.get(attr) != value:
                        fail("%s: %s is %r" % (mwhere, attr, image.attrs.get(attr)))
                what = ds[dkey]["what"].attrs
                data = image[()]
                values = what["offset"] + what["gain"] * data.astype(np.float64)
                values[(data == what["nodata"]) | (data == what["undetect"])] = np.nan
                # Absent rays are rows of nodata.
                absent = np.isnan(angles)
                if not np.all(data[absent] == what["nodata"]):
                    fail("%s: an absent ray holds data" % mwhere)
                odim = values[rows, :moment.values.shape[1]]
                # An 8-bit half-scale differential phase holds codes 1 to 128 (up to 90
                # degrees); the stream's widening to 16 bits keeps the codes above as values.
                extra = np.isnan(odim) & ~np.isnan(moment.values)
                if what["quantity"] == b"PHIDP" and data.dtype == np.uint8 and \
                        np.all(moment.values[extra] > 90 - 1e-6):
                    odim[extra] = moment.values[extra]
                if not np.array_equal(np.isnan(odim), np.isnan(moment.values)):
                    fail("%s: NaN at other places than in the stream" % mwhere)
                    continue
                valid = ~np.isnan(odim)
                same_codes = data.dtype == np.uint16 and scale.step == what["gain"]
                if bits16_exact and same_codes:
                    if not np.array_equal(odim[valid], moment.values[valid]):
                        fail("%s: values differ from the stream's" % mwhere)
                else:
                    tolerance = scale.step / 2 * (1 + 1e-9) + 1e-6 * np.abs(moment.values[valid])
                    worst = np.max(np.abs(odim[valid] - moment.values[valid]) - tolerance,
                                   initial=-1)
                    if worst > 0:
                        fail("%s: values differ from the stream's by more than half its step"
                             % mwhere)
    print("%s: %d sweeps compared" % (name, len(stream_sweeps)))


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    volumes = os.path.join(WORK, "raw")
    subprocess.run([MAKE_VOLUMES, volumes], check=True)
    compare("sample", [SAMPLE])
    for name in ("bits8", "bits16", "sector", "rhi", "missing", "hybrid"):
        inputs = sorted(p for p in glob.glob(os.path.join(volumes, name, "volume*"))
                        if not p.endswith(".meta"))
        compare(name, inputs)
    compare("sample-uncompressed", [SAMPLE], ["--compression", "0"])
    if failures:
        print("%d failures" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
