"""What a person sees in the client's SVG pictures, checked on their pixels.

The picture is rendered to PNG by rsvg-convert (librsvg) and read with Pillow. From the SVG the
checks take only what a reader takes from the picture itself: where each panel's plot frame is,
and the numbers its tick labels show at their places. Everything else is computed from the run's
own Results record (kept in the panel's metadata, as Sonde2 gave it) and looked for in the
pixels: the axes span the run, every sample of a transfer is on its line, and the median, p90
and p99 marks sit where the run's statistics put them.
"""
import html
import json
import math
import os
import subprocess
import tempfile
import xml.etree.ElementTree as ElementTree

from PIL import Image

SVG = "{http://www.w3.org/2000/svg}"
BIN_SECONDS = 0.1


class Checks:
    def __init__(self):
        self.failures = []

    def __call__(self, condition, what):
        print(("ok    " if condition else "FAIL  ") + what)
        if not condition:
            self.failures.append(what)
        return condition


def colour(text):
    text = text.lstrip("#")
    if len(text) == 3:
        text = "".join(c * 2 for c in text)
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


def near(pixel, wanted, tolerance=48):
    return all(abs(a - b) <= tolerance for a, b in zip(pixel[:3], wanted))


def tinted(pixel, wanted, least=0.35):
    """Whether the pixel is the colour laid thinly over white, as a thin line's edge or a sharp
    corner leaves it: the same share of the colour in every channel, at least `least`."""
    shares = [(255 - p) / (255 - w) for p, w in zip(pixel, wanted) if 255 - w > 60]
    if not shares:
        return False
    share = sum(shares) / len(shares)
    return share >= least and all(
        abs(p - (share * w + (1 - share) * 255)) <= 24 for p, w in zip(pixel, wanted))


def mixed(pixel, first, second, least=0.35):
    """Whether the pixel is two colours laid thinly over white, one over the other, as where two
    lines of the same values lie on each other and each covers part of a pixel's row: the
    shares of the two that make it, together at least `least`."""
    p, a, b = ([255 - v for v in c[:3]] for c in (pixel, first, second))
    aa = sum(x * x for x in a)
    bb = sum(x * x for x in b)
    ab = sum(x * y for x, y in zip(a, b))
    pa = sum(x * y for x, y in zip(p, a))
    pb = sum(x * y for x, y in zip(p, b))
    determinant = aa * bb - ab * ab
    if determinant <= 1e-6 * aa * bb:
        return False  # the two are one colour, which near() and tinted() see
    share_a = (pa * bb - pb * ab) / determinant
    share_b = (pb * aa - pa * ab) / determinant
    if share_a < 0 or share_b < 0 or not least <= share_a + share_b <= 1.05:
        return False
    return all(abs(x - (share_a * y + share_b * z)) <= 24 for x, y, z in zip(p, a, b))


def render(svg_path):
    with tempfile.TemporaryDirectory() as folder:
        png = os.path.join(folder, "picture.png")
        subprocess.run(["rsvg-convert", "--format", "png", "--output", png, svg_path], check=True)
        return Image.open(png).convert("RGB")


class Axis:
    """An axis as its tick labels show it: the numbers and where they stand."""

    def __init__(self, ticks):
        self.ticks = sorted(ticks)  # (value, pixel)
        (self.low, self.low_px), (self.high, self.high_px) = self.ticks[0], self.ticks[-1]
        self.step = self.ticks[1][0] - self.ticks[0][0] if len(self.ticks) > 1 else 0

    def px(self, value):
        return self.low_px + (value - self.low) / (self.high - self.low) * (self.high_px - self.low_px)

    def evenly_spaced(self):
        gaps = [b[1] - a[1] for a, b in zip(self.ticks, self.ticks[1:])]
        steps = [b[0] - a[0] for a, b in zip(self.ticks, self.ticks[1:])]
        return (all(abs(g - gaps[0]) < 0.6 for g in gaps) and
                all(abs(s - steps[0]) < 1e-9 * max(1, abs(steps[0])) for s in steps))


class Panel:
    def __init__(self, group):
        self.group = group
        self.measurement = group.get("data-measurement")
        metadata = group.find(SVG + "metadata")
        self.record = json.loads(html.unescape(metadata.text)) if metadata is not None else None
        plot = group.find(SVG + "rect[@class='plot']")
        self.left, self.top = float(plot.get("x")), float(plot.get("y"))
        self.right = self.left + float(plot.get("width"))
        self.bottom = self.top + float(plot.get("height"))
        texts = group.iter(SVG + "text")
        self.x_ticks, self.y_ticks = [], []
        for text in texts:
            kind = text.get("class")
            if kind == "tick-x":
                self.x_ticks.append((float(text.text), float(text.get("x")), float(text.get("y"))))
            elif kind == "tick-y":
                self.y_ticks.append((float(text.text), float(text.get("y")) - 4,
                                     float(text.get("x"))))
        self.x = Axis([(v, p) for v, p, _ in self.x_ticks])
        self.y = Axis([(v, p) for v, p, _ in self.y_ticks])
        self.series = {line.get("data-series"): colour(line.get("stroke"))
                       for line in group.iter(SVG + "polyline")}
        self.series_order = [line.get("data-series") for line in group.iter(SVG + "polyline")]
        self.markers = {(m.get("data-phase"), m.get("data-percentile")): colour(m.get("fill"))
                        for m in group.iter(SVG + "circle") if m.get("class") == "marker"}


def panels_of(svg_path):
    root = ElementTree.parse(svg_path).getroot()
    title = root.find(SVG + "title").text
    return title, [Panel(g) for g in root.iter(SVG + "g") if g.get("class") == "panel"]


def dark(pixel):
    """Darker than the grid's light grey: the frame, a tick or a label's ink."""
    return max(pixel) < 200


def seen_near(image, x, y, wanted, reach=2):
    """Whether one of the colours `wanted` is drawn within `reach` pixels of (x, y)."""
    cx, cy = math.floor(x), math.floor(y)  # the pixel that holds the point
    for dx in range(-reach, reach + 1):
        for dy in range(-reach, reach + 1):
            px, py = cx + dx, cy + dy
            if 0 <= px < image.width and 0 <= py < image.height:
                pixel = image.getpixel((px, py))
                if any(near(pixel, w) or tinted(pixel, w) for w in wanted):
                    return True
                if any(mixed(pixel, a, b) for a in wanted for b in wanted if a != b):
                    return True
    return False


def disc_at(image, x, y, wanted):
    """Whether a mark's filled disc (radius 5) is centred on (x, y): its colour there and 3 pixels
    to each side, where a dashed guide line (1 pixel) would not reach."""
    cx, cy = math.floor(x), math.floor(y)  # the pixel that holds the point
    return all(near(image.getpixel((cx + dx, cy + dy)), wanted)
               for dx, dy in ((0, 0), (-3, 0), (3, 0), (0, -3), (0, 3)))


def check_frame_and_labels(check, image, panel, where):
    # A series along zero (a connection that carried nothing for a while) is drawn over the
    # frame, and so is a mark near an end of its axis (a median close to 0 where one slow
    # answer stretched the axis): there the frame shows as that series' or mark's colour.
    over = list(panel.series.values()) + list(panel.markers.values())

    def framed(x, y):
        return any(dark(p) or any(near(p, c) or tinted(p, c) for c in over)
                   for p in (image.getpixel((x, y)), image.getpixel((x - 1, y)),
                             image.getpixel((x, y - 1))))
    edges_dark = all(framed(int(round(x)), int(round(panel.bottom)))
                     for x in range(int(panel.left) + 3, int(panel.right) - 3, 37))
    edges_dark = edges_dark and all(framed(int(round(panel.left)), y)
                                    for y in range(int(panel.top) + 3, int(panel.bottom) - 3, 29))
    check(edges_dark, where + ": the plot's frame is drawn")
    check(abs(panel.x.low_px - panel.left) < 0.6 and abs(panel.x.high_px - panel.right) < 0.6,
          where + ": the time axis' first and last labels stand at the frame's ends")
    check(abs(panel.y.low_px - panel.bottom) < 0.6 and abs(panel.y.high_px - panel.top) < 0.6,
          where + ": the vertical axis' first and last labels stand at the frame's ends")
    check(panel.x.evenly_spaced() and panel.y.evenly_spaced(),
          where + ": the ticks are evenly spaced, in value and on the page")
    shown = 0
    for _, x, y in panel.x_ticks:
        shown += any(dark(image.getpixel((int(x) + dx, int(y) - dy)))
                     for dx in range(-6, 7) for dy in range(1, 10))
    for _, y, x in panel.y_ticks:
        shown += any(dark(image.getpixel((int(x) - dx, int(y) + dy)))
                     for dx in range(1, 14) for dy in range(-4, 5))
    check(shown == len(panel.x_ticks) + len(panel.y_ticks), where + ": every tick label is drawn")


def check_tight(check, axis, highest, where, what):
    check(axis.low == 0 and axis.high >= highest - 1e-9 and axis.high - axis.step < highest,
          "%s: the %s axis spans 0 to %g, the run's %g rounded up to its next tick"
          % (where, what, axis.high, highest))


def check_transfer(check, image, panel, where):
    samples = panel.record["samples"]
    check(len(samples) > 0, where + ": the run has samples to draw")
    check_frame_and_labels(check, image, panel, where)
    rate = lambda count: count * 8 / BIN_SECONDS / 1e6  # noqa: E731
    highest = max([rate(s["bytes"]) for s in samples] +
                  [rate(c) for s in samples for c in s["connections"]])
    check_tight(check, panel.x, max(s["t"] for s in samples), where, "time")
    check_tight(check, panel.y, highest, where, "Mbit/s")

    def place(t, count):
        return panel.x.px(t), panel.y.px(rate(count))

    missing = [s["t"] for s in samples
               if not seen_near(image, *place(s["t"], s["bytes"]), [panel.series["all"]])]
    check(not missing, "%s: all %d samples of all connections are on the total's line%s"
          % (where, len(samples), " (not at t = %s)" % missing[:5] if missing else ""))
    # A connection's line lies under those drawn after it: the later ones' colours count too.
    order = panel.series_order
    for index in range(len(samples[0]["connections"])):
        name = "connection %d" % (index + 1)
        above = [panel.series[n] for n in order[order.index(name):]]
        missing = [s["t"] for s in samples
                   if not seen_near(image, *place(s["t"], s["connections"][index]), above)]
        check(not missing, "%s: every sample of %s is on its line%s"
              % (where, name, " (not at t = %s)" % missing[:5] if missing else ""))


def nearest_rank(values, percent):
    values = sorted(values)
    rank = -(-percent * len(values) // 100)  # ceil
    return values[max(1, int(rank)) - 1]


def check_round_trips(check, image, panel, where):
    record = panel.record
    check_frame_and_labels(check, image, panel, where)
    if record["measurement"] == "latency":
        curves = {"": [s["rttMs"] for s in record["samples"] if s["rttMs"] is not None]}
        stated = {"": {"50": record["median"], "90": record["p90"], "99": record["p99"]}}
    else:
        curves = {phase: [p["rttMs"] for p in record["probes"]
                          if p["phase"] == phase and p["rttMs"] is not None]
                  for phase in ("idle", "loaded")}
        stated = {phase: {p: nearest_rank(rtts, int(p)) for p in ("50", "90", "99")}
                  for phase, rtts in curves.items()}
    longest = max(max(rtts) for rtts in curves.values())
    check_tight(check, panel.x, longest, where, "round-trip time")
    check(panel.y.low == 0 and panel.y.high == 100, where + ": the share axis runs 0 to 100 %")
    for phase, marks in stated.items():
        for percent, value in marks.items():
            wanted = panel.markers.get((phase, percent))
            x, y = panel.x.px(value), panel.y.px(float(percent))
            check(wanted is not None and disc_at(image, x, y, wanted),
                  "%s: the %s mark%s sits at %g ms, %s %%"
                  % (where, {"50": "median", "90": "p90", "99": "p99"}[percent],
                     " of " + phase if phase else "", value, percent))
    # Every answered probe is a step of its curve: the corner at (its time, its share). Marks,
    # and curves drawn later, lie over it.
    order = panel.series_order
    over = list(panel.markers.values())
    for phase, rtts in curves.items():
        name = "all" if phase == "" else phase
        seen = [panel.series[n] for n in order[order.index(name):]] + over
        rtts = sorted(rtts)
        missing = [r for i, r in enumerate(rtts)
                   if not seen_near(image, panel.x.px(r), panel.y.px(100 * (i + 1) / len(rtts)),
                                    seen)]
        check(not missing, "%s: all %d answered round trips%s are steps of the curve%s"
              % (where, len(rtts), " " + phase if phase else "",
                 " (not %s)" % missing[:5] if missing else ""))


def check_route(check, image, latency, loss, where):
    """A route's two panels: each hop's median on its disc, the latency that carries on through
    the hops that answered, each hop's own loss and the loss that carries on as bars."""
    hops = latency.record["hops"]
    check_frame_and_labels(check, image, latency, where + ", round trips")
    check_frame_and_labels(check, image, loss, where + ", loss")
    check(latency.x.low == 0 and latency.x.high > hops[-1]["hop"] and loss.y.high == 100,
          where + ": the hops stand within the frames, loss on 0 to 100 %")

    def drawn(panel, kind):
        return {int(e.get("data-hop")): colour(e.get("fill"))
                for e in panel.group.iter() if e.get("class") == kind}
    medians = drawn(latency, "hop-median")
    carried, line = 0, latency.series["carried"]
    for hop in hops:
        number = hop["hop"]
        if hop["received"] > 0:
            x = latency.x.px(number)
            check(number in medians and disc_at(image, x, latency.y.px(hop["median"]),
                                                medians[number]),
                  "%s: hop %d's median disc sits at %g ms" % (where, number, hop["median"]))
            carried += hop["addedLatency"]
            check(seen_near(image, x, latency.y.px(carried), [line] + list(medians.values())),
                  "%s: the latency that carries on passes hop %d at %g ms"
                  % (where, number, carried))
        else:
            check(number not in medians,
                  "%s: hop %d, which never answered, has no median" % (where, number))
        for kind, key, dx in (("own-loss", "loss", 8), ("forward-loss", "forwardLoss", 0)):
            bars = drawn(loss, kind)
            if hop[key] >= 0.05:
                x, y = loss.x.px(number) + dx, loss.y.px(100 * hop[key]) + 2
                check(number in bars and near(image.getpixel((int(x), int(y))), bars[number]),
                      "%s: hop %d's %s bar reaches %g %%" % (where, number, kind, 100 * hop[key]))
