#!/usr/bin/env python3
"""Draws a forecast file of nowcast: the analysis and the forecast frames, with the motion vectors
over the analysis.

    examples/plot_nowcast.py forecast.h5 --png forecast.png [--frames N]

Uses Debian's python3-h5py, python3-numpy and python3-matplotlib.
"""

import argparse
import sys

_PACKAGES = {"h5py": "python3-h5py", "numpy": "python3-numpy", "matplotlib": "python3-matplotlib"}
try:
    import h5py
    import numpy as np
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ModuleNotFoundError as e:
    sys.exit("plot_nowcast.py: the Python module %s is missing (Debian package %s)"
             % (e.name, _PACKAGES.get(e.name.split(".")[0], "python3-" + e.name)))


def text(attrs, name):
    value = attrs[name]
    return value.decode() if isinstance(value, bytes) else str(value)


def image(group):
    """The physical values of a data group, NaN for nodata and undetect."""
    what = group["what"].attrs
    raw = group["data"][()].astype(np.float64)
    values = raw * what["gain"] + what["offset"]
    values[(raw == what["nodata"]) | (raw == what["undetect"])] = np.nan
    return values


def read_forecast(path):
    """(frames, motion, extent): frames a list of (label, quantity, image), the first the analysis;
    motion (u, v) in m/s or None; extent in km east and north of the radar."""
    with h5py.File(path, "r") as f:
        if text(f["what"].attrs, "object") != "IMAGE":
            raise ValueError("%s is not an ODIM_H5 image file" % path)
        where = f["where"].attrs
        half_x = where["xsize"] * where["xscale"] / 2000.0
        half_y = where["ysize"] * where["yscale"] / 2000.0
        frames, motion = [], None
        names = sorted((k for k in f if k.startswith("dataset")), key=lambda k: int(k[7:]))
        for name in names:
            group = f[name]
            data = {text(group[k]["what"].attrs, "quantity"): group[k]
                    for k in group if k.startswith("data")}
            if "UWND" in data and "VWND" in data:
                motion = (image(data["UWND"]), image(data["VWND"]))
                continue
            what = group["what"].attrs
            quantity, values = next(iter(data.items()))
            end = text(what, "endtime")
            label = "%s:%s UTC" % (end[:2], end[2:4])
            if frames:
                start, stop = text(what, "starttime"), end
                minutes = ((int(stop[:2]) * 60 + int(stop[2:4])) -
                           (int(start[:2]) * 60 + int(start[2:4]))) % 1440
                label = "+%d min (%s)" % (minutes, label)
            else:
                label = "analysis " + label
            frames.append((label, quantity, image(values)))
    if not frames:
        raise ValueError("%s holds no image" % path)
    return frames, motion, (-half_x, half_x, -half_y, half_y)


def plot(frames, motion, extent, png, count):
    # The analysis, then forecasts evenly spaced up to the longest lead.
    forecasts = frames[1:]
    picks = min(count - 1, len(forecasts))
    chosen = np.unique(np.round(np.linspace(len(forecasts) / max(picks, 1) - 1, len(forecasts) - 1,
                                            picks)).astype(int)) if picks > 0 else []
    shown = [frames[0]] + [forecasts[k] for k in chosen]
    columns = min(3, len(shown))
    rows = (len(shown) + columns - 1) // columns
    figure, axes = plt.subplots(rows, columns, figsize=(4.2 * columns, 4.0 * rows), squeeze=False)
    for ax in axes.flat[len(shown):]:
        ax.axis("off")
    for ax, (label, quantity, values) in zip(axes.flat, shown):
        shown_values = np.where(values > 0, values, np.nan) if quantity.startswith("DBZ") else values
        mesh = ax.imshow(shown_values, extent=extent, origin="upper", cmap="turbo",
                         vmin=0 if quantity.startswith("DBZ") else None,
                         vmax=60 if quantity.startswith("DBZ") else None)
        ax.set_title(label, fontsize=10)
        ax.set_xlabel("km east")
        ax.set_ylabel("km north")
        ax.plot(0, 0, "k+")
    figure.colorbar(mesh, ax=axes.ravel().tolist(), shrink=0.8, label=shown[0][1])
    if motion is not None:
        u, v = motion
        ny, nx = u.shape
        stride = max(1, nx // 16)
        xs = np.linspace(extent[0], extent[1], nx, endpoint=False) + (extent[1] - extent[0]) / nx / 2
        ys = np.linspace(extent[3], extent[2], ny, endpoint=False) - (extent[3] - extent[2]) / ny / 2
        X, Y = np.meshgrid(xs[::stride], ys[::stride])
        axes.flat[0].quiver(X, Y, u[::stride, ::stride], v[::stride, ::stride], color="black",
                            scale=400, width=0.004)
        speed = np.hypot(u, v)
        axes.flat[0].set_title(shown[0][0] + ", motion (median %.1f m/s)"
                               % np.nanmedian(speed), fontsize=10)
    figure.savefig(png, dpi=90)
    plt.close(figure)
    return len(shown)


def main():
    parser = argparse.ArgumentParser(description="Draws a forecast file of nowcast.")
    parser.add_argument("forecast", help="ODIM_H5 file written by nowcast")
    parser.add_argument("--png", required=True, help="the picture to write")
    parser.add_argument("--frames", type=int, default=6,
                        help="images to draw, the analysis and evenly spaced forecasts")
    args = parser.parse_args()
    if args.frames < 1:
        parser.error("--frames must be 1 or more")
    try:
        frames, motion, extent = read_forecast(args.forecast)
    except (OSError, KeyError, ValueError) as e:
        sys.exit("plot_nowcast.py: %s: %s" % (args.forecast, e))
    print("%d images of %s drawn in %s" % (plot(frames, motion, extent, args.png, args.frames),
                                           frames[0][1], args.png))


if __name__ == "__main__":
    main()
