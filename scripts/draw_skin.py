#!/usr/bin/python3
"""Draws Restorix's skin images and resource pictures.

Writes skin/*.png, skin/PROGRESS.gif (the images installed as SKIN\\ beside
the program) and app/res/*.ico, app/res/checkbox.bmp (compiled into the
program by the resource script). The outputs are committed; run this again
only to change the look:

    /usr/bin/python3 scripts/draw_skin.py   # Debian python3-pil and the
                                            # WenQuanYi Micro Hei font

Every picture is drawn at four times its size and scaled down, which gives
smooth edges without any anti-aliasing support in the drawing calls.
"""
import math
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKIN = os.path.join(ROOT, "skin")
RES = os.path.join(ROOT, "app", "res")
SS = 4  # supersampling factor

CJK_FONT = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
LATIN_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

# One palette for everything: a calm blue with a teal accent.
BLUE = (37, 110, 214)
BLUE_LIGHT = (74, 144, 240)
BLUE_DARK = (24, 78, 160)
NAVY = (18, 44, 92)
TEAL = (22, 170, 160)
GREY = (168, 176, 188)
PAGE = (244, 247, 251)
WHITE = (255, 255, 255)


def font(size, latin=False):
    if latin:
        return ImageFont.truetype(LATIN_BOLD, size)
    return ImageFont.truetype(CJK_FONT, size, index=0)


def canvas(w, h, colour=(0, 0, 0, 0)):
    img = Image.new("RGBA", (w * SS, h * SS), colour)
    return img, ImageDraw.Draw(img)


def shrink(img, w, h):
    return img.resize((w, h), Image.LANCZOS)


def s(v):
    return int(round(v * SS))


def vgradient(w, h, top, bottom):
    g = Image.new("RGBA", (w, h))
    px = g.load()
    for y in range(h):
        t = y / max(1, h - 1)
        c = tuple(int(top[i] + (bottom[i] - top[i]) * t) for i in range(3)) + (255,)
        for x in range(w):
            px[x, y] = c
    return g


def rounded_mask(w, h, r):
    m = Image.new("L", (w, h), 0)
    ImageDraw.Draw(m).rounded_rectangle((0, 0, w - 1, h - 1), r, fill=255)
    return m


def text_centre(d, box, text, fnt, fill):
    x0, y0, x1, y1 = box
    l, t, r, b = d.textbbox((0, 0), text, font=fnt)
    d.text((x0 + (x1 - x0 - (r - l)) / 2 - l, y0 + (y1 - y0 - (b - t)) / 2 - t), text,
           font=fnt, fill=fill)


# ---------------------------------------------------------------- glyphs
# Small line drawings shared by buttons and icons. Each draws into box
# (x0, y0, x1, y1) in supersampled pixels with the given colour.

def glyph_trash(d, box, c, w):
    x0, y0, x1, y1 = box
    bw, bh = x1 - x0, y1 - y0
    d.line((x0 + bw * .15, y0 + bh * .22, x1 - bw * .15, y0 + bh * .22), fill=c, width=w)
    d.line((x0 + bw * .4, y0 + bh * .08, x1 - bw * .4, y0 + bh * .08), fill=c, width=w)
    d.polygon([(x0 + bw * .25, y0 + bh * .3), (x1 - bw * .25, y0 + bh * .3),
               (x1 - bw * .3, y1 - bh * .05), (x0 + bw * .3, y1 - bh * .05)], outline=c, width=w)
    for f in (.42, .58):
        d.line((x0 + bw * f, y0 + bh * .42, x0 + bw * f, y1 - bh * .17), fill=c, width=w)


def glyph_disk(d, box, c, w):
    x0, y0, x1, y1 = box
    bw, bh = x1 - x0, y1 - y0
    d.rounded_rectangle((x0 + bw * .08, y0 + bh * .22, x1 - bw * .08, y1 - bh * .22),
                        radius=bh * .1, outline=c, width=w)
    d.line((x0 + bw * .08, y0 + bh * .55, x1 - bw * .08, y0 + bh * .55), fill=c, width=w)
    r = bh * .05
    cx, cy = x1 - bw * .2, y0 + bh * .67
    d.ellipse((cx - r, cy - r, cx + r, cy + r), fill=c)


def glyph_format(d, box, c, w):
    glyph_disk(d, (box[0], box[1] - (box[3] - box[1]) * .12, box[2], box[3] - (box[3] - box[1]) * .12), c, w)
    x0, y0, x1, y1 = box
    bw, bh = x1 - x0, y1 - y0
    # a circular arrow under the disk: "bring back after formatting"
    d.arc((x0 + bw * .28, y0 + bh * .58, x1 - bw * .28, y1 + bh * .02), 200, 340, fill=c, width=w)
    ax, ay = x1 - bw * .3, y0 + bh * .7
    d.polygon([(ax, ay - bh * .1), (ax + bw * .08, ay + bh * .02), (ax - bw * .06, ay + bh * .04)], fill=c)


def glyph_table(d, box, c, w):
    x0, y0, x1, y1 = box
    bw, bh = x1 - x0, y1 - y0
    d.rounded_rectangle((x0 + bw * .1, y0 + bh * .14, x1 - bw * .1, y1 - bh * .14),
                        radius=bh * .06, outline=c, width=w)
    for f in (.38, .62):
        d.line((x0 + bw * .1, y0 + bh * f, x1 - bw * .1, y0 + bh * f), fill=c, width=w)
    d.line((x0 + bw * .38, y0 + bh * .14, x0 + bw * .38, y1 - bh * .14), fill=c, width=w)


def glyph_shield(d, box, c, w):
    x0, y0, x1, y1 = box
    bw, bh = x1 - x0, y1 - y0
    pts = [(x0 + bw * .5, y0 + bh * .06), (x1 - bw * .14, y0 + bh * .22),
           (x1 - bw * .18, y0 + bh * .6), (x0 + bw * .5, y1 - bh * .04),
           (x0 + bw * .18, y0 + bh * .6), (x0 + bw * .14, y0 + bh * .22)]
    d.polygon(pts, outline=c, width=w)
    d.line((x0 + bw * .34, y0 + bh * .5, x0 + bw * .46, y0 + bh * .62, x0 + bw * .67, y0 + bh * .36),
           fill=c, width=w, joint="curve")


def glyph_folder(d, box, fill, edge, w):
    x0, y0, x1, y1 = box
    bw, bh = x1 - x0, y1 - y0
    d.rounded_rectangle((x0, y0 + bh * .12, x0 + bw * .45, y0 + bh * .35), radius=bh * .06, fill=edge)
    d.rounded_rectangle((x0, y0 + bh * .24, x1, y1 - bh * .06), radius=bh * .08, fill=fill,
                        outline=edge, width=w)


def glyph_file(d, box, fill, edge, w, fold=True):
    x0, y0, x1, y1 = box
    bw, bh = x1 - x0, y1 - y0
    k = bw * .3
    d.polygon([(x0 + bw * .14, y0 + bh * .04), (x1 - bw * .14 - k, y0 + bh * .04),
               (x1 - bw * .14, y0 + bh * .04 + k), (x1 - bw * .14, y1 - bh * .04),
               (x0 + bw * .14, y1 - bh * .04)], fill=fill, outline=edge, width=w)
    if fold:
        d.polygon([(x1 - bw * .14 - k, y0 + bh * .04), (x1 - bw * .14 - k, y0 + bh * .04 + k),
                   (x1 - bw * .14, y0 + bh * .04 + k)], fill=edge)


# ---------------------------------------------------------------- buttons

def button_strip(name, w, h, label, style="primary", glyph=None, label_font=None):
    """A four-frame strip: normal, hovered, pressed/checked, disabled."""
    looks = {
        "primary": [(BLUE_LIGHT, BLUE), (110, 170, 250), (BLUE_DARK, (20, 66, 140)), (206, 212, 222)],
        "accent": [((36, 196, 176), TEAL), ((70, 214, 196), (30, 184, 170)), ((16, 140, 132), (12, 118, 112)),
                   (206, 212, 222)],
        "light": [((252, 253, 255), (232, 238, 247)), ((255, 255, 255), (220, 232, 250)),
                  ((210, 224, 246), (196, 214, 242)), (236, 238, 242)],
    }[style]
    strip = Image.new("RGBA", (w * 4, h), (0, 0, 0, 0))
    for i in range(4):
        img, d = canvas(w, h)
        look = looks[i]
        if isinstance(look[0], tuple):
            top, bottom = look
        else:
            top = bottom = look
        grad = vgradient(s(w), s(h), top, bottom)
        r = min(s(h) // 2 - 2, s(9))
        mask = rounded_mask(s(w) - s(2), s(h) - s(2), r)
        img.paste(grad.crop((0, 0, s(w) - s(2), s(h) - s(2))), (s(1), s(1)), mask)
        if style == "light":
            edge = (150, 172, 206) if i < 3 else (200, 204, 212)
            d.rounded_rectangle((s(1), s(1), s(w) - s(1) - 1, s(h) - s(1) - 1), r, outline=edge, width=s(1))
            fg = NAVY if i < 3 else (150, 156, 168)
        else:
            # a faint top highlight makes the face read as a surface
            if i < 3:
                shine = Image.new("RGBA", img.size, (0, 0, 0, 0))
                ImageDraw.Draw(shine).rounded_rectangle((s(2), s(2), s(w) - s(2), s(h) // 2), r,
                                                        fill=(255, 255, 255, 30))
                img.alpha_composite(shine)
            fg = WHITE if i < 3 else (246, 247, 250)
        off = s(1) if i == 2 else 0
        fnt = label_font or font(s(min(14, h * .44)))
        if glyph and label:
            gsz = s(h * .5)
            l, t, rr, b = d.textbbox((0, 0), label, font=fnt)
            total = gsz + s(4) + (rr - l)
            gx = (s(w) - total) / 2
            gy = (s(h) - gsz) / 2 + off
            glyph(d, (gx, gy, gx + gsz, gy + gsz), fg, s(1.6))
            text_centre(d, (gx + gsz + s(4), off, gx + total, s(h) + off), label, fnt, fg)
        elif glyph:
            gsz = s(min(w, h) * .62)
            gx, gy = (s(w) - gsz) / 2, (s(h) - gsz) / 2 + off
            glyph(d, (gx, gy, gx + gsz, gy + gsz), fg, s(1.6))
        else:
            text_centre(d, (0, off, s(w), s(h) + off), label, fnt, fg)
        strip.paste(shrink(img, w, h), (i * w, 0))
    strip.save(os.path.join(SKIN, name))


def caption_button(name, w, h, kind):
    """Minimise and close on the title band: glyph only, coloured on hover."""
    strip = Image.new("RGBA", (w * 4, h), (0, 0, 0, 0))
    for i in range(4):
        img, d = canvas(w, h)
        if kind == "close":
            bg = [None, (232, 17, 35, 255), (176, 12, 26, 255), None][i]
        else:
            bg = [None, (255, 255, 255, 52), (255, 255, 255, 90), None][i]
        if bg:
            d.rounded_rectangle((0, 0, s(w) - 1, s(h) - 1), s(5), fill=bg)
        c = (255, 255, 255, 255 if i < 3 else 110)
        cx, cy = s(w) / 2, s(h) / 2
        k = s(4.5)
        if kind == "close":
            d.line((cx - k, cy - k, cx + k, cy + k), fill=c, width=s(1.4))
            d.line((cx - k, cy + k, cx + k, cy - k), fill=c, width=s(1.4))
        else:
            d.line((cx - k, cy + s(1), cx + k, cy + s(1)), fill=c, width=s(1.4))
        strip.paste(shrink(img, w, h), (i * w, 0))
    strip.save(os.path.join(SKIN, name))


def tab_button(name, w, h, label, glyph):
    """The big mode tabs on the title band: glyph over label."""
    strip = Image.new("RGBA", (w * 4, h), (0, 0, 0, 0))
    fnt = font(s(13))
    for i in range(4):
        img, d = canvas(w, h)
        if i == 1:
            d.rounded_rectangle((0, 0, s(w) - 1, s(h) - 1), s(8), fill=(255, 255, 255, 40))
        elif i == 2:
            d.rounded_rectangle((0, 0, s(w) - 1, s(h) - 1), s(8), fill=(255, 255, 255, 70))
            d.rounded_rectangle((s(w * .3), s(h) - s(4), s(w * .7), s(h) - s(1.5)), s(1), fill=(120, 240, 226, 255))
        c = (255, 255, 255, 255 if i < 3 else 120)
        gsz = s(h * .46)
        gx, gy = (s(w) - gsz) / 2, s(6)
        glyph(d, (gx, gy, gx + gsz, gy + gsz), c, s(2))
        text_centre(d, (0, gy + gsz + s(2), s(w), s(h) - s(5)), label, fnt, c)
        strip.paste(shrink(img, w, h), (i * w, 0))
    strip.save(os.path.join(SKIN, name))


# ---------------------------------------------------------------- window

def background(w=800, h=600):
    img = Image.new("RGBA", (w, h), PAGE + (255,))
    band = 108
    head = vgradient(w, band, (30, 96, 196), (22, 66, 150))
    # soft diagonal light across the band
    glow = Image.new("L", (w, band), 0)
    gd = ImageDraw.Draw(glow)
    for k in range(0, 120, 4):
        gd.ellipse((w * .55 - k * 3, -band * 1.6 + k, w * 1.25 + k * 2, band * 1.2 + k), outline=max(0, 40 - k // 3))
    glow = glow.filter(ImageFilter.GaussianBlur(12))
    head = Image.composite(Image.new("RGBA", (w, band), (255, 255, 255, 255)), head, glow.point(lambda v: v // 2))
    img.paste(head, (0, 0))
    d = ImageDraw.Draw(img)
    d.line((0, band, w, band), fill=(16, 52, 120))
    # wordmark, right of the tabs and under the caption buttons
    big, d2 = canvas(260, 60)
    mark = font(s(24), latin=True)
    d2.text((0, s(8)), "Restorix", font=mark, fill=(255, 255, 255, 255))
    d2.text((s(2), s(40)), "Talvex Data Recovery", font=font(s(11)), fill=(198, 222, 255, 255))
    img.alpha_composite(shrink(big, 260, 60), (w - 252, 34))
    # the card on which the pages sit: left 16, top 120, 766 x 428
    shadow = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    ImageDraw.Draw(shadow).rounded_rectangle((14, 121, 786, 552), 8, fill=(20, 40, 80, 60))
    shadow = shadow.filter(ImageFilter.GaussianBlur(4))
    img.alpha_composite(shadow)
    card, cd = canvas(w, h)
    cd.rounded_rectangle((s(12), s(116), s(786), s(552)), s(8), fill=WHITE + (255,), outline=(214, 222, 234, 255),
                         width=s(1))
    img.alpha_composite(shrink(card, w, h))
    d = ImageDraw.Draw(img)
    d.text((20, 574), "Restorix 1.0.0.2", font=font(12), fill=(130, 140, 156))
    note = "只读扫描 · 文件恢复到您选择的文件夹"
    d.text((w - 20 - d.textlength(note, font=font(12)), 574), note, font=font(12), fill=(130, 140, 156))
    img.convert("RGB").save(os.path.join(SKIN, "Bk.png"))


def progress_gif(w=360, h=20, frames=12):
    """Indeterminate bar: soft stripes running to the right, then a loop."""
    images = []
    for f in range(frames):
        img, d = canvas(w, h, WHITE + (255,))
        r = s(h / 2) - 1
        d.rounded_rectangle((0, 0, s(w) - 1, s(h) - 1), r, fill=(228, 236, 248, 255))
        stripes = Image.new("RGBA", (s(w), s(h)), (0, 0, 0, 0))
        sd = ImageDraw.Draw(stripes)
        period = s(28)
        shift = period * f / frames
        x = -period * 2 + shift
        while x < s(w) + period:
            sd.polygon([(x, s(h)), (x + period / 2, s(h)), (x + period / 2 + s(h), 0), (x + s(h), 0)],
                       fill=BLUE_LIGHT + (255,))
            x += period
        base = Image.new("RGBA", (s(w), s(h)), BLUE + (255,))
        base.alpha_composite(stripes)
        mask = rounded_mask(s(w) - s(4), s(h) - s(4), r - s(2))
        img.paste(base.crop((0, 0, s(w) - s(4), s(h) - s(4))), (s(2), s(2)), mask)
        images.append(shrink(img, w, h).convert("RGB").quantize(colors=64, method=Image.MEDIANCUT))
    images[0].save(os.path.join(SKIN, "PROGRESS.gif"), save_all=True, append_images=images[1:],
                   duration=80, loop=0, disposal=1)


# ---------------------------------------------------------------- icons

def icon_image(size, painter):
    img, d = canvas(size, size)
    painter(img, d, s(size))
    return shrink(img, size, size)


def save_icon(name, painter, sizes=(16, 24, 32, 48, 256)):
    imgs = [icon_image(sz, painter) for sz in sizes]
    big = imgs[-1]
    big.save(os.path.join(RES, name), format="ICO", sizes=[(sz, sz) for sz in sizes],
             append_images=imgs[:-1])


def paint_app(img, d, S):
    # a rounded tile, light blue at the top to deep blue at the bottom
    tile = vgradient(S, S, (82, 152, 244), (24, 84, 184))
    mask = Image.new("L", (S, S), 0)
    ImageDraw.Draw(mask).rounded_rectangle((S * .04, S * .04, S * .96, S * .96), S * .22, fill=255)
    img.paste(tile, (0, 0), mask)
    # a document coming back out of an arrow circle
    w = max(S * .07, 2)
    d.arc((S * .2, S * .2, S * .8, S * .8), 130, 410, fill=WHITE + (255,), width=int(w))
    ax, ay = S * .27, S * .33
    d.polygon([(ax - S * .1, ay - S * .02), (ax + S * .08, ay - S * .06), (ax + S * .02, ay + S * .12)],
              fill=WHITE + (255,))
    glyph_file(d, (S * .36, S * .34, S * .64, S * .68), (120, 240, 226, 255), WHITE + (255,), int(w * .5))


def paint_folder(img, d, S):
    glyph_folder(d, (S * .06, S * .12, S * .94, S * .9), (255, 200, 80, 255), (214, 150, 30, 255), max(1, S // 28))


def paint_folder_open(img, d, S):
    glyph_folder(d, (S * .06, S * .12, S * .94, S * .9), (255, 214, 120, 255), (214, 150, 30, 255), max(1, S // 28))
    d.polygon([(S * .16, S * .46), (S * .98, S * .46), (S * .84, S * .86), (S * .06, S * .86)],
              fill=(255, 226, 150, 255), outline=(214, 150, 30, 255))


def paint_file(img, d, S):
    glyph_file(d, (S * .08, S * .04, S * .92, S * .96), WHITE + (255,), (90, 110, 140, 255), max(1, S // 24))
    for i, f in enumerate((.5, .62, .74)):
        d.line((S * .3, S * f, S * (.7 if i < 2 else .55), S * f), fill=BLUE + (255,), width=max(1, S // 20))


def paint_file_deleted(img, d, S):
    paint_file(img, d, S)
    r = S * .2
    cx, cy = S * .74, S * .76
    d.ellipse((cx - r, cy - r, cx + r, cy + r), fill=(232, 60, 60, 255))
    k = r * .45
    d.line((cx - k, cy - k, cx + k, cy + k), fill=WHITE + (255,), width=max(1, S // 16))
    d.line((cx - k, cy + k, cx + k, cy - k), fill=WHITE + (255,), width=max(1, S // 16))


def paint_computer(img, d, S):
    d.rounded_rectangle((S * .08, S * .12, S * .92, S * .72), S * .06, fill=NAVY + (255,))
    d.rectangle((S * .14, S * .18, S * .86, S * .64), fill=(74, 144, 240, 255))
    d.polygon([(S * .4, S * .72), (S * .6, S * .72), (S * .66, S * .86), (S * .34, S * .86)], fill=GREY + (255,))
    d.rounded_rectangle((S * .24, S * .84, S * .76, S * .92), S * .03, fill=(120, 130, 146, 255))


def paint_partition(img, d, S):
    d.rounded_rectangle((S * .06, S * .26, S * .94, S * .76), S * .08, fill=(96, 108, 128, 255))
    d.rounded_rectangle((S * .06, S * .26, S * .94, S * .5), S * .08, fill=(140, 152, 172, 255))
    d.rectangle((S * .06, S * .42, S * .94, S * .52), fill=(112, 124, 144, 255))
    d.rectangle((S * .16, S * .6, S * .5, S * .66), fill=(60, 200, 120, 255))
    r = S * .04
    d.ellipse((S * .8 - r, S * .63 - r, S * .8 + r, S * .63 + r), fill=(120, 240, 160, 255))


def checkbox_bmp(path):
    """Bitmap 134: four 13x13 check-box pictures, 4 bits per pixel.

    0 filler (never shown), 1 empty box, 2 grey box with a red tick (mixed),
    3 white box with a red tick (checked). White is the transparent colour.
    """
    W, H = 52, 13
    palette = [(255, 255, 255), (0, 0, 0), (128, 128, 128), (255, 0, 0), (192, 192, 192)]
    WHITE_I, BLACK_I, GREY_I, RED_I, LIGHT_I = 0, 1, 2, 3, 4
    px = [[WHITE_I] * W for _ in range(H)]
    tick = [(3, 6), (4, 7), (5, 8), (6, 7), (7, 6), (8, 5), (9, 4)]
    for img in range(4):
        ox = img * 13
        for y in range(H):
            for x in range(13):
                if img == 0:
                    px[y][ox + x] = LIGHT_I
                    continue
                edge = x == 0 or y == 0 or x == 12 or y == 12
                inside = GREY_I if img == 2 else WHITE_I
                px[y][ox + x] = BLACK_I if edge else inside
        if img in (2, 3):
            for (x, y) in tick:
                # black rim, red body two pixels thick
                px[y - 1][ox + x] = BLACK_I
                px[y + 2][ox + x] = BLACK_I
            for (x, y) in tick:
                px[y][ox + x] = RED_I
                px[y + 1][ox + x] = RED_I
    row_bytes = ((W * 4 + 31) // 32) * 4
    data = bytearray()
    for y in range(H - 1, -1, -1):
        row = bytearray()
        for x in range(0, W, 2):
            hi = px[y][x]
            lo = px[y][x + 1] if x + 1 < W else 0
            row.append((hi << 4) | lo)
        row += b"\0" * (row_bytes - len(row))
        data += row
    pal = bytearray()
    for i in range(16):
        r, g, b = palette[i] if i < len(palette) else (0, 0, 0)
        pal += bytes((b, g, r, 0))
    offset = 14 + 40 + len(pal)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 4, 0, len(data), 2835, 2835, 16, 0)
    with open(path, "wb") as f:
        f.write(header + info + pal + data)


def main():
    os.makedirs(SKIN, exist_ok=True)
    os.makedirs(RES, exist_ok=True)
    background()
    caption_button("main_window_close.png", 41, 20, "close")
    caption_button("main_window_hide.png", 31, 20, "hide")
    tab_button("DR.png", 84, 68, "删除恢复", glyph_trash)
    tab_button("PR.png", 84, 68, "分区恢复", glyph_disk)
    tab_button("FR.png", 84, 68, "格式化恢复", glyph_format)
    tab_button("PTR.png", 84, 68, "分区表恢复", glyph_table)
    tab_button("VR.png", 84, 68, "深度恢复", glyph_shield)
    button_strip("next.png", 98, 40, "下一步", "primary")
    button_strip("cancel.png", 80, 34, "取消", "light")
    button_strip("pre.png", 70, 32, "返回", "light")
    button_strip("recovery.png", 88, 34, "恢复", "accent")
    button_strip("preview.png", 60, 28, "预览", "light", label_font=font(s(12)))
    button_strip("search.png", 64, 28, "搜索", "primary", label_font=font(s(12)))
    button_strip("Browse.png", 36, 26, "...", "light")
    button_strip("txt.png", 72, 40, "文本", "light")
    button_strip("hex.png", 72, 40, "十六进制", "light", label_font=font(s(12)))
    button_strip("picture.png", 72, 40, "图片", "light")
    progress_gif()
    save_icon("app.ico", paint_app)
    save_icon("folder.ico", paint_folder, (16, 32))
    save_icon("folder_open.ico", paint_folder_open, (16, 32))
    save_icon("file.ico", paint_file, (16, 32))
    save_icon("file_deleted.ico", paint_file_deleted, (16, 32))
    save_icon("computer.ico", paint_computer, (16, 32, 48))
    save_icon("partition.ico", paint_partition, (16, 32, 48))
    checkbox_bmp(os.path.join(RES, "checkbox.bmp"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
