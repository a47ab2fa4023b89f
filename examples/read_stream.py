#!/usr/bin/python3
"""Reads a volume stream written by rawpipe into numpy arrays, and draws a sweep.

The stream is one serialised PayloadList. Its Python classes are generated from the schema the
toolkit installs (share/azm_radar/proto) with protoc, into a temporary folder, at every run.

    read_stream.py volume.pb                       # summary of every sweep and moment
    rawpipe -i volume.raw | read_stream.py -       # the same from standard input
    read_stream.py volume.pb --png dbz.png --sweep 0 --moment DBZ

As a module: read_volume(open(path, "rb").read()) returns a Volume whose sweeps hold, per moment,
the physical values (codes through their data scale, special codes as NaN) as a rays x bins
array, with the azimuths, elevations and times of the rays and the ranges of the bins.
"""

import argparse
import datetime
import glob
import importlib
import os
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field

# What the reader needs, by the name it imports or runs, and the Debian package that brings it.
DEBIAN_PACKAGES = {
    "lz4": "python3-lz4", "numpy": "python3-numpy", "google": "python3-protobuf",
    "matplotlib": "python3-matplotlib", "protoc": "protobuf-compiler",
}


class MissingDependency(ImportError):
    """A module or program the reader needs is not installed; the message names its package."""

    def __init__(self, name):
        top = (name or "").split(".")[0]
        super().__init__("%s is missing: install the Debian package %s" % (
            name, DEBIAN_PACKAGES.get(top, "that provides it")), name=name)


try:
    import lz4.block
    import numpy as np
except ImportError as error:
    if __name__ == "__main__":
        sys.exit("read_stream.py: %s" % MissingDependency(error.name))
    raise MissingDependency(error.name) from error

HERE = os.path.dirname(os.path.abspath(__file__))
SCHEMA_DIRS = [
    os.path.join(HERE, "..", "proto"),  # installed next to the schema: share/azm_radar/examples
    os.path.join(HERE, "..", "data-access", "protobuf", "proto"),  # in the source tree
    "/usr/local/share/azm_radar/proto",
    "/usr/share/azm_radar/proto",
]

UNIT_TEXT = {
    "KILOMETERS": "km", "DEGREES_PER_KILOMETER": "°/km", "MILLIMETERS": "mm",
    "MILLIMETERS_PER_KILOMETER": "mm/km", "DBZ_TIMES_KM": "dBZ·km", "MILLIMETERS_PER_HOUR": "mm/h",
    "CORRELATION_COEFFICIENT": "", "DBZ": "dBZ", "METERS_PER_SECOND_PER_KILOMETER": "m/s/km",
    "METERS_PER_SECOND": "m/s", "DB": "dB", "DEGREES": "°", "DEGREES_PER_METER": "°/m",
    "RATIO": "", "HCLASS": "class", "SQI": "",
}


def schema_module(schema_dir=None):
    """Compiles the schema with protoc and imports the module of the stream's envelopes."""
    candidates = [schema_dir] if schema_dir else (
        [os.environ["AZM_RADAR_PROTO"]] if "AZM_RADAR_PROTO" in os.environ else SCHEMA_DIRS)
    for directory in candidates:
        if os.path.isfile(os.path.join(directory, "wr_raw_data.proto")):
            break
    else:
        raise FileNotFoundError("no message schema (wr_raw_data.proto) in " + ", ".join(candidates))
    protos = sorted(glob.glob(os.path.join(directory, "*.proto")))
    # Importing the envelope module loads every generated module it needs, so the folder can go.
    with tempfile.TemporaryDirectory(prefix="azm_radar_proto_") as out:
        try:
            run = subprocess.run(["protoc", "-I", directory, "--python_out", out, *protos],
                                 stderr=subprocess.PIPE, text=True)
        except FileNotFoundError as error:
            raise MissingDependency("protoc") from error
        if run.returncode != 0:
            raise RuntimeError("protoc failed on the schema in %s:\n%s" % (directory, run.stderr))
        sys.path.insert(0, out)
        try:
            return importlib.import_module("wr_raw_data_pb2")
        except ModuleNotFoundError as error:
            if error.name and error.name.split(".")[0] in DEBIAN_PACKAGES:
                raise MissingDependency(error.name) from error
            raise
        finally:
            sys.path.remove(out)


@dataclass
class Moment:
    name: str
    units: str
    ranges: np.ndarray  # metres to the centre of each bin
    values: np.ndarray  # rays x bins, physical values, NaN for special codes
    quantity: str = ""  # what it measures: the stream's data type name, e.g. RADIAL_VELOCITY


@dataclass
class Sweep:
    index: int
    fixed_angle: float  # degrees
    start_time: datetime.datetime
    azimuths: list = field(default_factory=list)  # degrees, middle of each ray
    elevations: list = field(default_factory=list)  # degrees, middle of each ray
    times: list = field(default_factory=list)  # datetime of each ray
    moments: dict = field(default_factory=dict)  # name -> Moment


@dataclass
class Volume:
    site: str
    name: str
    start_time: datetime.datetime
    latitude: float
    longitude: float
    sweeps: list = field(default_factory=list)
    errors: int = 0


def _key(uuid):
    return (uuid.least_significant_bits, uuid.most_significant_bits)


def _time(t):
    return datetime.datetime.fromtimestamp(t.esec, datetime.timezone.utc) + \
        datetime.timedelta(microseconds=t.usec)


def _ranges(mask):
    runs = [r.start + r.step * np.arange(r.count) for r in mask.range]
    return np.concatenate(runs) if runs else np.zeros(0)


def _physical(codes, scale):
    values = scale.offset + codes.astype(np.float64) * scale.step
    special = (codes == scale.under_threshold) | (codes == scale.not_scanned)
    special |= (codes < scale.min_value) | (codes > scale.max_value)
    values[special] = np.nan
    return values


def _codes(buffer, rays):
    data = buffer.data
    if buffer.compression == buffer.LZ4:
        data = lz4.block.decompress(data, uncompressed_size=buffer.uncompressed_size)
    if len(data) != buffer.uncompressed_size:
        raise ValueError("sweep data hold %d bytes, not %d" % (len(data), buffer.uncompressed_size))
    if buffer.type == buffer.UINT8:
        dtype = np.dtype(np.uint8)
    elif buffer.type == buffer.UINT16:
        dtype = np.dtype("<u2" if buffer.endian != buffer.BIG else ">u2")
    else:
        raise ValueError("sweep data of unknown storage type %d" % buffer.type)
    codes = np.frombuffer(data, dtype=dtype)
    if rays == 0 or codes.size % rays:
        raise ValueError("%d codes do not split into %d rays" % (codes.size, rays))
    return codes.reshape(rays, codes.size // rays)


def read_volume(data, pb=None):
    """Decodes one serialised PayloadList (the bytes of a rawpipe output) into a Volume."""
    pb = pb or schema_module()
    stream = pb.PayloadList()
    stream.ParseFromString(data)
    Payload = pb.Payload
    masks, scales, descriptors, fixed_angles = {}, {}, {}, []
    volume = Volume("", "", None, float("nan"), float("nan"))
    sweep = None
    for payload in stream.payload:
        kind = payload.type
        if kind == Payload.ERROR:
            volume.errors += 1
        elif kind == Payload.RADAR:
            volume.site = payload.radar.name
            volume.latitude = payload.radar.location.latitude
            volume.longitude = payload.radar.location.longitude
        elif kind == Payload.RANGE_MASK:
            masks[_key(payload.range_mask.uuid)] = _ranges(payload.range_mask)
        elif kind == Payload.DATA_SCALE:
            scales[_key(payload.data_scale.uuid)] = payload.data_scale.linear_scale
        elif kind == Payload.MOMENT_DESCRIPTOR:
            descriptors[_key(payload.moment_descriptor.uuid)] = payload.moment_descriptor
        elif kind == Payload.VOLUME_CONFIG:
            volume.name = payload.volume_config.name
            fixed_angles = list(payload.volume_config.fixed_angle)
        elif kind == Payload.VOLUME_HEADER:
            volume.start_time = _time(payload.volume_header.start_time)
        elif kind == Payload.SWEEP_HEADER:
            header = payload.sweep_header
            n = header.index if header.index >= 0 else len(volume.sweeps)
            angle = fixed_angles[n] if n < len(fixed_angles) else float("nan")
            sweep = Sweep(n, angle, _time(header.start_time))
            volume.sweeps.append(sweep)
        elif kind == Payload.RAY_HEADER and sweep is not None:
            ray = payload.ray_header
            sweep.azimuths.append(ray.az_range.between)
            sweep.elevations.append(ray.el_range.between)
            sweep.times.append(_time(ray.start_time))
        elif kind == Payload.MOMENT_SWEEP_DATA and sweep is not None:
            message = payload.moment_sweep_data
            descriptor = descriptors[_key(message.moment_descriptor_ref)]
            dd = descriptor.data_descriptor
            codes = _codes(message.data, len(sweep.azimuths))
            unit = dd.DataUnit.Name(dd.data_unit)
            units = dd.custom_data_unit if unit == "CUSTOM_UNIT" else UNIT_TEXT.get(unit, "")
            ranges = masks[_key(descriptor.range_mask_ref)][:codes.shape[1]]
            values = _physical(codes, scales[_key(dd.data_scale_ref)])
            quantity = dd.DataType.Name(dd.data_type)
            sweep.moments[dd.label] = Moment(dd.label, units, ranges, values, quantity)
    for s in volume.sweeps:
        s.azimuths = np.asarray(s.azimuths)
        s.elevations = np.asarray(s.elevations)
    return volume


def summary(volume):
    lines = ["site %s, volume %s, %s, %d sweeps%s" % (
        volume.site, volume.name,
        volume.start_time.isoformat() if volume.start_time else "no start time",
        len(volume.sweeps), ", %d errors" % volume.errors if volume.errors else "")]
    lines.append("sweep  angle   rays  bins  moment     min        max        mean      units")
    for s in volume.sweeps:
        for m in s.moments.values():
            valid = m.values[~np.isnan(m.values)]
            figures = (valid.min(), valid.max(), valid.mean()) if valid.size else (np.nan,) * 3
            lines.append("%5d %6.2f %6d %5d  %-8s %10.4f %10.4f %10.4f  %s" % (
                s.index, s.fixed_angle, m.values.shape[0], m.values.shape[1], m.name, *figures,
                m.units))
    return "\n".join(lines)


def _edges(centres, period=None):
    """Cell edges around sorted or wrapping centres: half-way points, extended at both ends."""
    centres = np.asarray(centres, dtype=np.float64)
    if centres.size == 1:
        return np.array([centres[0] - 0.5, centres[0] + 0.5])
    steps = np.diff(centres)
    if period:
        steps = (steps + period / 2) % period - period / 2
    middle = centres[:-1] + steps / 2
    return np.concatenate([[centres[0] - steps[0] / 2], middle, [centres[-1] + steps[-1] / 2]])


SIGNED_QUANTITIES = ("RADIAL_VELOCITY", "UNFOLDED_RADIAL_VELOCITY")


def colour_scale(moment):
    """Colour map name and value limits of a picture of the moment: velocities, toward and away
    from the radar, on a diverging map centred on zero; other moments on a sequential map over
    their own range (limits None)."""
    if moment.quantity in SIGNED_QUANTITIES:
        valid = np.abs(moment.values[~np.isnan(moment.values)])
        limit = float(valid.max()) if valid.size and valid.max() > 0 else 1.0
        return "RdBu_r", -limit, limit
    return "viridis", None, None


def draw_ppi(volume, sweep_index, moment_name, path):
    """Writes a plan-position picture of one moment of one sweep to path (PNG)."""
    try:
        import matplotlib
    except ImportError as error:
        raise MissingDependency(error.name) from error
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    sweep = volume.sweeps[sweep_index]
    moment = sweep.moments[moment_name]
    az = np.radians(_edges(sweep.azimuths, 360.0))
    rng = _edges(moment.ranges) / 1000.0
    r, a = np.meshgrid(rng, az)
    x, y = r * np.sin(a), r * np.cos(a)
    figure, axes = plt.subplots(figsize=(8, 7))
    cmap, low, high = colour_scale(moment)
    mesh = axes.pcolormesh(x, y, np.ma.masked_invalid(moment.values), cmap=cmap, vmin=low,
                           vmax=high, shading="flat")
    bar = figure.colorbar(mesh, ax=axes)
    bar.set_label("%s (%s)" % (moment.name, moment.units) if moment.units else moment.name)
    outer = rng[-1]
    spacing = next(s for s in (10, 25, 50, 100, 200, 500) if outer / s <= 6)
    for ring in np.arange(spacing, outer + 1e-9, spacing):
        axes.add_patch(plt.Circle((0, 0), ring, fill=False, color="grey", lw=0.6))
        axes.annotate("%g km" % ring, (0, ring), color="grey", fontsize=7, ha="center",
                      va="bottom")
    axes.set_aspect("equal")
    axes.set_xlim(-outer, outer)
    axes.set_ylim(-outer, outer)
    axes.set_xlabel("east (km)")
    axes.set_ylabel("north (km)")
    axes.set_title("%s, %s UTC\n%s at %.1f° elevation" % (
        volume.site or "unknown site", sweep.start_time.strftime("%Y-%m-%d %H:%M:%S"),
        moment.name, sweep.fixed_angle))
    figure.savefig(path, dpi=100)
    plt.close(figure)


def _default_moment(sweep):
    for preferred in ("DBZ", "Z", "DBZ2", "T"):
        if preferred in sweep.moments:
            return preferred
    return next(iter(sweep.moments))


def main(argv=None):
    parser = argparse.ArgumentParser(description="Summarises a rawpipe stream; draws a sweep.")
    parser.add_argument("input", help="rawpipe output file, or - for standard input")
    parser.add_argument("--schema", help="folder of the installed .proto files")
    parser.add_argument("--png", metavar="FILE", help="write a plan-position picture to FILE")
    parser.add_argument("--sweep", type=int, default=0, help="sweep of the picture (default 0)")
    parser.add_argument("--moment", help="moment of the picture (default: reflectivity)")
    args = parser.parse_args(argv)

    data = sys.stdin.buffer.read() if args.input == "-" else open(args.input, "rb").read()
    try:
        volume = read_volume(data, schema_module(args.schema))
    except MissingDependency as missing:
        print("read_stream.py: %s" % missing, file=sys.stderr)
        return 1
    print(summary(volume))
    if args.png:
        if not 0 <= args.sweep < len(volume.sweeps):
            parser.error("the stream has no sweep %d" % args.sweep)
        sweep = volume.sweeps[args.sweep]
        if not sweep.moments:
            parser.error("sweep %d carries no moment data" % args.sweep)
        moment = args.moment or _default_moment(sweep)
        if moment not in sweep.moments:
            parser.error("sweep %d has no moment %s (it has %s)" % (
                args.sweep, moment, ", ".join(sweep.moments)))
        try:
            draw_ppi(volume, args.sweep, moment, args.png)
        except MissingDependency as missing:
            print("read_stream.py: %s" % missing, file=sys.stderr)
            return 1
        print("picture of %s, sweep %d: %s" % (moment, args.sweep, args.png))
    return 0


if __name__ == "__main__":
    sys.exit(main())
