#!/usr/bin/python3
"""Builds the game's two TrueType fonts from the bitmap designs in glyphs.py.

  CasualEncounter.ttf   the small face: every set pixel becomes a square of
                        256 units, so at 8 pixels per em the outlines sit
                        exactly on the pixel grid and stay crisp.
  SFTheraminGothic.ttf  the display face: the same designs read as a
                        skeleton, every set cell a node joined to its
                        neighbours by heavy straight strokes.

Usage: fonts.py OUTDIR. Run with SOURCE_DATE_EPOCH=0 for identical bytes.
"""
import os
import sys
import unicodedata

sys.dont_write_bytecode = True

from fontTools.agl import UV2AGL
from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen
from shapely.geometry import LineString, MultiPolygon, Polygon, box
from shapely.geometry.polygon import orient
from shapely.ops import unary_union

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from glyphs import GLYPHS, MARKS, SIGNS, SMALL_CAPS  # noqa: E402

UPM = 2048
ASCII = [chr(c) for c in range(32, 127)]


def pixels_of(table, ch):
    """The set cells of a designed glyph as {(x, row)} and its width in cells."""
    top, rows = table[ch]
    cells = {(x, top + r) for r, line in enumerate(rows) for x, c in enumerate(line) if c == '#'}
    return cells, max(len(line) for line in rows)


def composed_letters(table):
    """Accented letters of Latin-1 and Latin Extended-A that a base letter and
    one of our marks can build, in code point order: {char: (cells, width)}."""
    out = {}
    for cp in list(range(0xC0, 0x100)) + list(range(0x100, 0x180)):
        ch = chr(cp)
        dec = unicodedata.decomposition(ch).split()
        if len(dec) != 2 or dec[0].startswith('<'):
            continue
        base, mark = chr(int(dec[0], 16)), int(dec[1], 16)
        if base not in table or mark not in MARKS:
            continue
        if base == 'i':
            base = '\u0131'
        elif base == 'j':
            base = '\u0237'
        cells, width = pixels_of(table, base)
        where, mrows = MARKS[mark]
        mwidth = max(len(r) for r in mrows)
        mcells = {(x, r) for r, line in enumerate(mrows) for x, c in enumerate(line) if c == '#'}
        if where == 'above':
            # Marks over capitals touch them; over lower case they keep a row clear.
            top = min(r for _, r in cells)
            dy = top - len(mrows) - (1 if top >= 1 else 0)
        else:
            dy = 6
        dx = (width - mwidth) // 2 if mark != 0x0328 else width - mwidth
        cells = cells | {(x + dx, r + dy) for x, r in mcells}
        shift = -min(x for x, _ in cells)
        if shift > 0:
            cells = {(x + shift, r) for x, r in cells}
        width = max(width + max(shift, 0), max(x for x, _ in cells) + 1)
        out[ch] = (cells, width)
    return out


def glyph_name(ch):
    cp = ord(ch)
    return UV2AGL.get(cp, 'uni%04X' % cp) if cp != 32 else 'space'


def to_polygons(geom):
    if geom.is_empty:
        return []
    if isinstance(geom, Polygon):
        return [geom]
    if isinstance(geom, MultiPolygon):
        return list(geom.geoms)
    return [g for g in getattr(geom, 'geoms', []) if isinstance(g, Polygon)]


def draw(geom):
    """A TrueType glyph from a shapely shape: outer contours clockwise, holes counter-clockwise."""
    pen = TTGlyphPen(None)
    for poly in to_polygons(geom):
        poly = orient(poly.simplify(0), sign=-1.0)
        for ring in [poly.exterior] + list(poly.interiors):
            pts = [(int(round(x)), int(round(y))) for x, y in ring.coords[:-1]]
            clean = []
            for p in pts:
                if not clean or clean[-1] != p:
                    clean.append(p)
            if len(clean) < 3:
                continue
            pen.moveTo(clean[0])
            for p in clean[1:]:
                pen.lineTo(p)
            pen.closePath()
    return pen.glyph()


def notdef(width, height):
    outer = box(80, 0, width - 80, height)
    inner = box(80 + 150, 150, width - 80 - 150, height - 150)
    return outer.difference(inner)


# ---------------------------------------------------------------- small face
PX = 256  # one design cell = one pixel at 8 pixels per em


def pixel_shape(cells):
    return unary_union([box(x * PX, (5 - r) * PX, (x + 1) * PX, (6 - r) * PX) for x, r in cells])


# ---------------------------------------------------------------- display face
HP, VP, W, SP = 205, 260, 230, 160  # cell pitch across and down, stroke, spacing
SLANT = 0.14  # forward lean, a little over 8 degrees


def stroke_shape(cells):
    def at(x, r):
        return (SP / 2 + x * HP + W / 2, (5 - r) * VP + W / 2)

    parts = []
    for x, r in cells:
        cx, cy = at(x, r)
        parts.append(box(cx - W / 2, cy - W / 2, cx + W / 2, cy + W / 2))
        if (x + 1, r) in cells:
            parts.append(box(cx - W / 2, cy - W / 2, cx + HP + W / 2, cy + W / 2))
        if (x, r + 1) in cells:
            parts.append(box(cx - W / 2, cy - VP - W / 2, cx + W / 2, cy + W / 2))
        if {(x + 1, r), (x, r + 1), (x + 1, r + 1)} <= cells:
            parts.append(box(cx, cy - VP, cx + HP, cy))
        for dx in (-1, 1):
            if (x + dx, r + 1) in cells and (x + dx, r) not in cells and (x, r + 1) not in cells:
                parts.append(LineString([at(x, r), at(x + dx, r + 1)]).buffer(W / 2, cap_style=2, join_style=2))
    # Lean forward about the x-height middle, so the letters keep their place.
    return shear(unary_union(parts), SLANT, 2 * VP)


def shear(geom, k, pivot_y):
    from shapely.affinity import affine_transform
    return affine_transform(geom, [1, k, 0, 1, -k * pivot_y, 0])


def build(path, family, count, table, shape_of, advance_of, ascent, descent, cap, xheight):
    letters = composed_letters(table)
    chars = ASCII + list(SIGNS)
    need = count - 1 - len(chars)
    extra = list(letters)[:need]
    if len(extra) < need:
        sys.exit('fonts.py: only %d accented letters for %d glyphs' % (len(extra), count))
    chars += extra

    order = ['.notdef'] + [glyph_name(c) for c in chars]
    assert len(set(order)) == count
    glyphs = {'.notdef': draw(notdef(advance_of(4), cap))}
    advances = {'.notdef': advance_of(4)}
    for ch, name in zip(chars, order[1:]):
        cells, width = letters[ch] if ch in letters else pixels_of(table, ch)
        glyphs[name] = draw(shape_of(cells)) if cells else TTGlyphPen(None).glyph()
        advances[name] = advance_of(width)

    fb = FontBuilder(UPM, isTTF=True)
    fb.setupGlyphOrder(order)
    fb.setupCharacterMap({ord(c): glyph_name(c) for c in chars})
    fb.setupGlyf(glyphs)
    table = fb.font['glyf']
    metrics = {}
    for name in order:
        g = table[name]
        g.recalcBounds(table)
        metrics[name] = (advances[name], getattr(g, 'xMin', 0))
    fb.setupHorizontalMetrics(metrics)
    fb.setupHorizontalHeader(ascent=ascent, descent=-descent)
    fb.setupNameTable({
        'familyName': family,
        'styleName': 'Regular',
        'uniqueFontIdentifier': family.replace(' ', '') + '-Regular',
        'fullName': family,
        'psName': family.replace(' ', '') + '-Regular',
        'version': 'Version 1.000',
        'copyright': 'Made for QUARV: Zephrant; dedicated to the public domain (CC0 1.0)',
        'licenseDescription': 'CC0 1.0 Universal: no rights reserved',
    })
    fb.setupOS2(sTypoAscender=ascent, sTypoDescender=-descent, sTypoLineGap=0,
                usWinAscent=ascent + 256, usWinDescent=descent, sxHeight=xheight, sCapHeight=cap,
                achVendID='QRVZ', fsType=0)
    fb.setupPost()
    fb.font['head'].created = 0
    fb.font['head'].modified = 0
    fb.font.recalcTimestamp = False
    fb.save(path)


def main():
    out = sys.argv[1]
    build(os.path.join(out, 'CasualEncounter.ttf'), 'Zephrant Pixel', 236, GLYPHS, pixel_shape,
          lambda w: (w + 1) * PX, ascent=7 * PX, descent=2 * PX, cap=6 * PX, xheight=4 * PX)
    build(os.path.join(out, 'SFTheraminGothic.ttf'), 'Zephrant Vector', 200, dict(GLYPHS, **SMALL_CAPS),
          stroke_shape, lambda w: (w - 1) * HP + W + SP,
          ascent=5 * VP + W + VP, descent=2 * VP + 60,
          cap=5 * VP + W, xheight=3 * VP + W)


if __name__ == '__main__':
    main()
