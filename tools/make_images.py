#!/usr/bin/python3
"""Draws the game's seven pictures into data/.

    tools/make-images     (installs what it needs, then runs this script)

Needs Debian's python3-pil and fonts-dejavu-core; only this tool needs them, the game reads
the committed files. Everything is drawn here from DejaVu glyphs and plain shapes, several
times larger than the result and then scaled down, which smooths the edges.

The files are uncompressed TGA (24 or 32 bits, bottom-left origin) and one 24-bit BMP, stored
bottom row first: the game uploads rows in file order, so the first row is texture row 0. PIL
writes them, and each writer checks the header fields the game's reader takes.
"""
import math
import os
import random
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

FONT_DIR = "/usr/share/fonts/truetype/dejavu"
MONO_BOLD = os.path.join(FONT_DIR, "DejaVuSansMono-Bold.ttf")
SANS_BOLD = os.path.join(FONT_DIR, "DejaVuSans-Bold.ttf")
OUT = "data"


# --- Files ------------------------------------------------------------------------------------

def write_tga(path, image):
    """Uncompressed true-colour TGA (image type 2, no colour map, no image ID), 24 bits for RGB
    and 32 for RGBA with 8 alpha bits, bottom-left origin: the rows bottom first, as the game
    uploads them. PIL writes it; the checks keep PIL to the fields the game's reader takes
    (render/image_file.cpp). PIL adds TGA 2.0's footer after the pixels, which the game's reader
    does not read."""
    image.save(path, "TGA", compression=None, orientation=-1, id_section=b"")
    with open(path, "rb") as f:
        head = f.read(18)
    alpha = image.mode == "RGBA"
    want = (0, 0, 2, image.width, image.height, 32 if alpha else 24, 8 if alpha else 0)
    got = (head[0], head[1], head[2], int.from_bytes(head[12:14], "little"),
           int.from_bytes(head[14:16], "little"), head[16], head[17])
    assert got == want, f"{path}: TGA header {got}, want {want}"


def write_bmp(path, image):
    """24-bit BMP without compression, bottom-up (a positive height), rows padded to 4 bytes,
    the pixels right after the 54 header bytes; 72 dots per inch. PIL writes it; the checks keep
    it to what the game's reader takes."""
    image.convert("RGB").save(path, "BMP", dpi=(72, 72))
    with open(path, "rb") as f:
        head = f.read(54)
    want = (b"BM", 54, 40, image.width, image.height, 24, 0)
    got = (head[0:2], int.from_bytes(head[10:14], "little"), int.from_bytes(head[14:18], "little"),
           int.from_bytes(head[18:22], "little", signed=True),
           int.from_bytes(head[22:26], "little", signed=True),
           int.from_bytes(head[28:30], "little"), int.from_bytes(head[30:34], "little"))
    assert got == want, f"{path}: BMP header {got}, want {want}"


# --- Helpers ----------------------------------------------------------------------------------

def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def vertical_gradient(size, top, bottom):
    width, height = size
    column = Image.new("RGB", (1, height))
    for y in range(height):
        column.putpixel((0, y), lerp(top, bottom, y / max(1, height - 1)))
    return column.resize(size)


def radial_gradient(size, inner, outer, centre=None, radius=None):
    width, height = size
    cx, cy = centre if centre else (width / 2, height / 2)
    radius = radius or math.hypot(width, height) / 2
    small = Image.new("RGB", (64, 64))
    for y in range(64):
        for x in range(64):
            d = math.hypot((x + 0.5) * width / 64 - cx, (y + 0.5) * height / 64 - cy) / radius
            small.putpixel((x, y), lerp(inner, outer, min(1.0, d)))
    return small.resize(size, Image.BICUBIC)


def glow(layer, radius):
    """The layer with a soft halo of itself behind it (RGBA)."""
    halo = layer.filter(ImageFilter.GaussianBlur(radius))
    return Image.alpha_composite(halo, layer)


def paste_over(base, layer):
    return Image.alpha_composite(base.convert("RGBA"), layer)


# --- The font ---------------------------------------------------------------------------------

CELL = 32        # texels per glyph cell: a 512 x 512 image
SUPER = 4        # drawn at this multiple, then scaled down
MARGIN = 3       # texels around every glyph that stay empty
RIGHT_ARROW = 141
LEFT_ARROW = 136


def glyph_for(code):
    if 32 <= code <= 126 or 160 <= code <= 255:
        return chr(code)
    return None


def arrow_cell(big, pointing_right):
    """A bold arrow as tall as a capital letter; the font's own arrows are thin at small sizes."""
    cell = Image.new("L", (big, big), 0)
    mid = big * 0.50
    shaft, head = big * 0.09, big * 0.24
    left, right, neck = big * 0.12, big * 0.88, big * 0.56
    points = [(left, mid - shaft), (neck, mid - shaft), (neck, mid - head), (right, mid),
              (neck, mid + head), (neck, mid + shaft), (left, mid + shaft)]
    ImageDraw.Draw(cell).polygon(points, fill=255)
    return cell if pointing_right else cell.transpose(Image.FLIP_LEFT_RIGHT)


def make_font(face=MONO_BOLD):
    """White glyphs whose alpha is their coverage, code c in column c % 16, row c // 16 from
    the top. The text renderer advances a whole square cell per character, so a monospace face
    as it comes would leave wide gaps between letters and words would fall apart: every glyph
    is widened by the same factor, the one that makes the median letter or digit fill the cell
    but for its margins, and those that would then reach into a margin are made just as wide
    as the room there is."""
    big = CELL * SUPER
    room = big * (CELL - 2 * MARGIN) // CELL  # the ink's room, across and down
    texts = {code: glyph_for(code) for code in range(256)}
    texts = {code: t for code, t in texts.items() if t and t.strip() and t != "\u00ad"}
    # The tallest reach of all glyphs, from À to the underscore, keeps MARGIN texels off the
    # top and the bottom of its cell: linear filtering and the mipmaps take in the neighbours.
    probe = ImageFont.truetype(face, big)
    reach = (max(probe.getbbox(t)[3] for t in texts.values())
             - min(probe.getbbox(t)[1] for t in texts.values()))
    font = ImageFont.truetype(face, int(big * room / reach))
    ink_top = min(font.getbbox(t)[1] for t in texts.values())
    ink_bottom = max(font.getbbox(t)[3] for t in texts.values())
    top = (big - (ink_bottom - ink_top)) / 2 - ink_top

    inks = {}
    for code, text in texts.items():
        pad = big // 2  # room for a glyph that reaches out of its advance
        canvas = Image.new("L", (int(font.getlength(text)) + 2 * pad, big), 0)
        ImageDraw.Draw(canvas).text((pad, top), text, font=font, fill=255)
        box = canvas.getbbox()
        if box:  # the glyph's own columns, the cell's rows
            inks[code] = canvas.crop((box[0], 0, box[2], big))
    letters = sorted(inks[c].width for c in inks if chr(c).isascii() and chr(c).isalnum())
    widen = room / letters[len(letters) // 2]

    atlas = Image.new("L", (16 * CELL, 16 * CELL), 0)
    for code, right in ((RIGHT_ARROW, True), (LEFT_ARROW, False)):
        small = arrow_cell(big, right).resize((CELL, CELL), Image.BOX)
        atlas.paste(small, ((code % 16) * CELL, (code // 16) * CELL))
    for code, ink in inks.items():
        width = min(room, max(1, round(ink.width * widen)))
        cell = Image.new("L", (big, big), 0)
        cell.paste(ink.resize((width, big), Image.LANCZOS), ((big - width) // 2, 0))
        small = cell.resize((CELL, CELL), Image.BOX)  # no ringing into the neighbours
        atlas.paste(small, ((code % 16) * CELL, (code // 16) * CELL))
    # Every cell's margin stays empty.
    for code in range(256):
        x, y = (code % 16) * CELL, (code // 16) * CELL
        inner = Image.new("L", (CELL, CELL), 0)
        inner.paste(255, (MARGIN, MARGIN, CELL - MARGIN, CELL - MARGIN))
        outside = ImageChops.subtract(atlas.crop((x, y, x + CELL, y + CELL)), inner)
        assert outside.getbbox() is None, f"glyph {code} reaches into its cell's margin"
    white = Image.new("L", atlas.size, 255)
    return Image.merge("RGBA", (white, white, white, atlas))


# --- The title picture ------------------------------------------------------------------------

def make_intro():
    """The title: a night court seen from the stands, two glowing paddles and the ball's trail.
    Drawn for a 4:3 screen and squeezed into 512 x 512; the top tenth (the name) and the band at
    a third of the height (the prompt) stay dark and calm."""
    w, h = 640 * SUPER, 480 * SUPER
    sky = vertical_gradient((w, h), (6, 10, 28), (18, 30, 70))
    image = sky.convert("RGBA")

    rnd = random.Random(7)
    stars = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    draw = ImageDraw.Draw(stars)
    for _ in range(160):
        x, y = rnd.uniform(0, w), rnd.uniform(0, h * 0.42)
        r = rnd.uniform(1.5, 4.5)
        a = rnd.randint(60, 200)
        draw.ellipse((x - r, y - r, x + r, y + r), fill=(200, 215, 255, a))
    image = paste_over(image, stars)

    # The court, a trapezoid in perspective whose far edge is the horizon.
    horizon = h * 0.48
    near_y = h * 1.02
    far_half, near_half = w * 0.20, w * 0.62
    cx = w / 2
    court = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    draw = ImageDraw.Draw(court)
    draw.polygon([(cx - far_half, horizon), (cx + far_half, horizon),
                  (cx + near_half, near_y), (cx - near_half, near_y)], fill=(12, 40, 58, 255))

    def on_court(u, v):
        """u from -1 (left) to 1 (right), v from 0 (far) to 1 (near)."""
        y = horizon + (near_y - horizon) * v
        half = far_half + (near_half - far_half) * v
        return (cx + u * half, y)

    lines = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    draw = ImageDraw.Draw(lines)
    edge = (90, 170, 220, 255)
    for u in (-1, 1):
        draw.line([on_court(u, 0), on_court(u, 1)], fill=edge, width=10)
    draw.line([on_court(-1, 0), on_court(1, 0)], fill=edge, width=8)
    for i in range(0, 20, 2):  # the dashed centre line, from far to near
        draw.line([on_court(0, i / 20), on_court(0, (i + 1) / 20)], fill=(70, 120, 160, 200),
                  width=8)
    court = paste_over(court, glow(lines, 12))
    image = Image.alpha_composite(image, court)

    # Paddles: left near, right far; the ball's arc between them.
    things = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    draw = ImageDraw.Draw(things)

    def paddle(u, v, height):
        x, y = on_court(u, v)
        half = 14 + 18 * v
        draw.rounded_rectangle((x - half, y - height, x + half, y), radius=half,
                               fill=(170, 230, 255, 255))

    paddle(-0.82, 0.78, 300)
    paddle(0.80, 0.22, 170)
    start, end = on_court(-0.7, 0.72), on_court(0.62, 0.28)
    points = []
    for i in range(41):
        t = i / 40
        x = start[0] + (end[0] - start[0]) * t
        y = start[1] + (end[1] - start[1]) * t - math.sin(t * math.pi) * h * 0.23 - 120
        points.append((x, y))
    for i in range(len(points) - 1):
        a = int(40 + 200 * (i / len(points)) ** 1.5)
        draw.line([points[i], points[i + 1]], fill=(255, 130, 90, a), width=int(6 + 22 * i / 40))
    bx, by = points[-1]
    draw.ellipse((bx - 26, by - 26, bx + 26, by + 26), fill=(255, 70, 50, 255))
    image = Image.alpha_composite(image, glow(glow(things, 60), 20))

    # Darken the two bands that carry text so it reads on any part of the picture.
    shade = Image.new("L", (w, h), 0)
    draw = ImageDraw.Draw(shade)
    draw.rectangle((0, 0, w, h * 0.17), fill=90)
    draw.rectangle((0, h * 0.60, w, h * 0.74), fill=120)
    shade = shade.filter(ImageFilter.GaussianBlur(40))
    black = Image.new("RGBA", (w, h), (0, 0, 0, 255))
    black.putalpha(shade)
    image = Image.alpha_composite(image, black)

    vignette = radial_gradient((w, h), (0, 0, 0), (255, 255, 255), radius=math.hypot(w, h) * 0.6)
    dark = Image.new("RGBA", (w, h), (0, 0, 0, 255))
    dark.putalpha(vignette.convert("L").point(lambda v: int(v * 0.55)))
    image = Image.alpha_composite(image, dark)
    return image.convert("RGB").resize((512, 512), Image.LANCZOS)


# --- The playing field ------------------------------------------------------------------------

# What the game prints over the field's centre line, as (bottom, top) in screen pixels from the
# bottom of a client area H pixels high: the score (12-pixel glyphs at y 10), the prompts
# ("Paused" at H/2 + 20, the line under it at H/2 - 20, 22-pixel glyphs), the medal's title
# (16-pixel glyphs at H - 100) and the frame rate that fullscreen prints at the top (8-pixel
# glyphs at H - 10). The medal itself (100 x 100 at H/2 + 20) needs no gap of its own: its disc
# hides the line.
FIELD_TEXTS = (
    lambda h: (10, 22),
    lambda h: (h / 2 - 22, h / 2 + 44),
    lambda h: (h - 100, h - 84),
    lambda h: (h - 10, h - 2),
)
FIELD_HEIGHTS = (480, 600, 768)  # the client areas the picture is stretched over (all 4:3)
NARROWEST = 640                  # and the narrowest of them
WIDEST_PROMPT = 20 * 22          # "Press SPACE to start" in 22-pixel glyphs
GOAL_LINE = 0.07                 # the goal lines' distance from the sides, in widths


def text_bands():
    """Each text's reach as fractions of the height from the bottom, over every window size:
    the picture is stretched, so a text sits higher or lower on it from one size to the next."""
    bands = []
    for reach in FIELD_TEXTS:
        spans = [(reach(h)[0] / h, reach(h)[1] / h) for h in FIELD_HEIGHTS]
        bands.append((min(lo for lo, _ in spans), max(hi for _, hi in spans)))
    return bands


def clear_of_texts(height, keep_off, soften, shortest):
    """A column mask, `height` rows from the top: 0 within `keep_off` (a fraction of the height)
    of any text band, rising smoothly to 255 over the next `soften`. A stretch between two
    bands narrower than `shortest` stays 0: a dash on its own there would look like a stray
    mark."""
    free, floor = [], 0.0
    for lo, hi in sorted(text_bands()) + [(1.0, 1.0)]:
        if lo - floor >= shortest:
            free.append((floor, lo))
        floor = max(floor, hi)
    column = Image.new("L", (1, height))
    for y in range(height):
        v = 1.0 - (y + 0.5) / height  # from the bottom, as the bands are
        gap = max((min(v - lo, hi - v) for lo, hi in free), default=0.0)
        t = min(1.0, max(0.0, (gap - keep_off) / soften))
        column.putpixel((0, y), int(round(255 * t * t * (3 - 2 * t))))
    return column


def make_background():
    """A dark court, stretched over the whole window: a soft light in the middle, a fine grain,
    a goal line near each side and a dashed centre line. The centre line fades out before every
    band where the game prints a text (text_bands), so that nothing stands behind the score, the
    prompts, the medal's title or the frame rate; the goal lines stay outside the widest prompt.
    The walls are the window's own edges. Calm, so that text reads."""
    w, h = 640 * SUPER, 480 * SUPER
    image = radial_gradient((w, h), (16, 44, 62), (5, 14, 24), radius=math.hypot(w, h) * 0.55)
    grain = Image.effect_noise((w // 8, h // 8), 10).resize((w, h), Image.BICUBIC)
    grain = grain.point(lambda v: int((v - 128) * 0.15 + 128))
    image = ImageChops.add(image, Image.merge("RGB", (grain, grain, grain)), 1.0, -128)

    colour = (80, 130, 165)
    centre = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    draw = ImageDraw.Draw(centre)
    dash = 16 * SUPER
    y = dash // 2
    while y + dash <= h:
        draw.line([(w / 2, y), (w / 2, y + dash)], fill=colour + (150,), width=2 * SUPER)
        y += dash * 2
    centre = glow(centre, 6 * SUPER)
    # 0.02 of the height keeps the glow and the glyphs' shadows off the bands at every size.
    mask = clear_of_texts(h, 0.02, 0.03, 0.12).resize((w, h))
    centre.putalpha(ImageChops.multiply(centre.getchannel("A"), mask))
    image = paste_over(image, centre)

    # The goal lines and their glow (about 3 % of the width) keep clear of the prompts.
    assert GOAL_LINE + 0.03 < 0.5 - WIDEST_PROMPT / 2 / NARROWEST
    goals = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    draw = ImageDraw.Draw(goals)
    for x in (w * GOAL_LINE, w * (1 - GOAL_LINE)):
        draw.line([(x, 0), (x, h)], fill=colour + (110,), width=2 * SUPER)
    image = paste_over(image, glow(goals, 6 * SUPER))
    return image.convert("RGB").resize((512, 512), Image.LANCZOS)


# --- The paddle -------------------------------------------------------------------------------

def make_paddle():
    """A rounded bar, lit from its right edge: the left paddle faces the court with that edge,
    and the right one is drawn mirrored. 16 x 128 texels for a 10 x 100 quad."""
    s = 8
    w, h = 16 * s, 128 * s
    body = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    shape = Image.new("L", (w, h), 0)
    ImageDraw.Draw(shape).rounded_rectangle((s, s, w - s - 1, h - s - 1), radius=6 * s, fill=255)
    shading = Image.new("RGB", (w, 1))
    for x in range(w):
        t = x / (w - 1)
        light = 0.55 + 0.45 * math.sin(t * math.pi * 0.9 + 0.25)
        shading.putpixel((x, 0), lerp((70, 110, 170), (235, 245, 255), light))
    shading = shading.resize((w, h))
    body = shading.convert("RGBA")
    body.putalpha(shape)
    # A thin bright core line along the lit side.
    core = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    ImageDraw.Draw(core).rounded_rectangle((w * 0.58, 10 * s, w * 0.70, h - 10 * s), radius=s,
                                           fill=(255, 255, 255, 170))
    body = Image.alpha_composite(body, core.filter(ImageFilter.GaussianBlur(s)))
    body.putalpha(ImageChops.multiply(body.getchannel("A"), shape))
    return body.resize((16, 128), Image.LANCZOS)


# --- The medals -------------------------------------------------------------------------------

def medal_disc(size, light, dark, rim):
    s = size
    disc = radial_gradient((s, s), light, dark, centre=(s * 0.38, s * 0.34), radius=s * 0.62)
    image = disc.convert("RGBA")
    mask = Image.new("L", (s, s), 0)
    m = s * 0.04
    ImageDraw.Draw(mask).ellipse((m, m, s - m, s - m), fill=255)
    image.putalpha(mask)
    ring = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    draw = ImageDraw.Draw(ring)
    draw.ellipse((m, m, s - m, s - m), outline=rim, width=int(s * 0.05))
    inner = s * 0.15
    draw.ellipse((inner, inner, s - inner, s - inner), outline=rim, width=int(s * 0.015))
    return Image.alpha_composite(image, ring)


def emblem(image, shape_points, fill, shadow=(0, 0, 0, 110)):
    s = image.width
    layer = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    offset = [(x + s * 0.015, y + s * 0.02) for x, y in shape_points]
    ImageDraw.Draw(layer).polygon(offset, fill=shadow)
    layer = layer.filter(ImageFilter.GaussianBlur(s * 0.01))
    ImageDraw.Draw(layer).polygon(shape_points, fill=fill)
    return Image.alpha_composite(image, layer)


def star(cx, cy, outer, inner, points=5, turn=-math.pi / 2):
    result = []
    for i in range(points * 2):
        r = outer if i % 2 == 0 else inner
        a = turn + i * math.pi / points
        result.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return result


def make_medal(kind):
    """Three medals told apart by colour and emblem: a gold star (ace), a red lightning bolt
    (fast), a blue hourglass (slow). The game draws them mirrored, so they are stored mirrored."""
    s = 128 * SUPER
    if kind == "ace":
        image = medal_disc(s, (255, 236, 150), (190, 120, 20), (255, 220, 120))
        image = emblem(image, star(s / 2, s * 0.52, s * 0.30, s * 0.13), (255, 250, 225, 255))
    elif kind == "fast":
        image = medal_disc(s, (255, 150, 120), (160, 20, 20), (255, 190, 160))
        bolt = [(0.58, 0.18), (0.30, 0.54), (0.48, 0.54), (0.40, 0.84), (0.70, 0.44),
                (0.52, 0.44), (0.62, 0.18)]
        image = emblem(image, [(x * s, y * s) for x, y in bolt], (255, 240, 130, 255))
    else:
        image = medal_disc(s, (150, 200, 255), (20, 50, 140), (170, 215, 255))
        glass = [(0.33, 0.22), (0.67, 0.22), (0.67, 0.27), (0.53, 0.48), (0.53, 0.52),
                 (0.67, 0.73), (0.67, 0.78), (0.33, 0.78), (0.33, 0.73), (0.47, 0.52),
                 (0.47, 0.48), (0.33, 0.27)]
        image = emblem(image, [(x * s, y * s) for x, y in glass], (235, 245, 255, 255))
        sand = Image.new("RGBA", (s, s), (0, 0, 0, 0))
        draw = ImageDraw.Draw(sand)
        draw.polygon([(0.40 * s, 0.30 * s), (0.60 * s, 0.30 * s), (0.50 * s, 0.44 * s)],
                     fill=(230, 180, 80, 255))
        draw.polygon([(0.50 * s, 0.60 * s), (0.62 * s, 0.74 * s), (0.38 * s, 0.74 * s)],
                     fill=(230, 180, 80, 255))
        draw.line([(0.5 * s, 0.46 * s), (0.5 * s, 0.62 * s)], fill=(230, 180, 80, 255),
                  width=int(s * 0.012))
        image = Image.alpha_composite(image, sand)
    # A gleam on the upper left.
    gleam = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    ImageDraw.Draw(gleam).ellipse((s * 0.20, s * 0.14, s * 0.42, s * 0.28),
                                  fill=(255, 255, 255, 80))
    gleam = gleam.filter(ImageFilter.GaussianBlur(s * 0.03))
    gleam.putalpha(ImageChops.multiply(gleam.getchannel("A"), image.getchannel("A")))
    image = Image.alpha_composite(image, gleam)
    image = image.resize((128, 128), Image.LANCZOS)
    return image.transpose(Image.FLIP_LEFT_RIGHT)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    os.chdir(root)
    for path in (MONO_BOLD, SANS_BOLD):
        if not os.path.exists(path):
            sys.exit(f"make_images: {path} is missing (Debian package fonts-dejavu-core)")
    os.makedirs(OUT, exist_ok=True)
    write_tga(os.path.join(OUT, "font.tga"), make_font())
    write_bmp(os.path.join(OUT, "intro.bmp"), make_intro())
    write_tga(os.path.join(OUT, "background.tga"), make_background())
    write_tga(os.path.join(OUT, "client.tga"), make_paddle())
    for kind in ("ace", "fast", "slow"):
        write_tga(os.path.join(OUT, f"medal_{kind}.tga"), make_medal(kind))
    print("make_images: wrote data/font.tga, intro.bmp, background.tga, client.tga and the "
          "three medals")


if __name__ == "__main__":
    main()
