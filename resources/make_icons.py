#!/usr/bin/python3
"""Draws Vorland's three interface icons with Pillow.

The PNG files beside this script are its output, checked in so that the build
needs no Python: run it again after changing a drawing.
  file.png      16 x 16, 8-bit palette: a sheet of paper with a folded corner
  folder.png    16 x 16, 8-bit palette: a folder
  arrow-up.png  32 x 32, RGBA: an arrow pointing up
"""
from pathlib import Path

from PIL import Image, ImageDraw

HERE = Path(__file__).resolve().parent


def paletted(image):
    # An adaptive palette keeps the few colours exact; transparency becomes
    # its own palette entry.
    return image.convert("RGBA").quantize(colors=16, method=Image.Quantize.FASTOCTREE)


def file_icon():
    im = Image.new("RGBA", (16, 16), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    d.polygon([(3, 1), (10, 1), (13, 4), (13, 14), (3, 14)], fill=(250, 250, 250, 255),
              outline=(110, 110, 120, 255))
    d.polygon([(10, 1), (10, 4), (13, 4)], fill=(200, 200, 210, 255), outline=(110, 110, 120, 255))
    for y in (6, 8, 10, 12):
        d.line([(5, y), (11, y)], fill=(150, 170, 200, 255))
    return paletted(im)


def folder_icon():
    im = Image.new("RGBA", (16, 16), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    d.polygon([(1, 3), (6, 3), (7, 5), (14, 5), (14, 13), (1, 13)], fill=(232, 180, 60, 255),
              outline=(160, 115, 30, 255))
    d.rectangle([(1, 6), (14, 13)], fill=(250, 205, 90, 255), outline=(160, 115, 30, 255))
    return paletted(im)


def arrow_up_icon():
    im = Image.new("RGBA", (32, 32), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    d.polygon([(16, 3), (28, 16), (21, 16), (21, 29), (11, 29), (11, 16), (4, 16)],
              fill=(60, 130, 210, 255), outline=(30, 80, 150, 255))
    return im


def main():
    file_icon().save(HERE / "file.png", optimize=True)
    folder_icon().save(HERE / "folder.png", optimize=True)
    arrow_up_icon().save(HERE / "arrow-up.png", optimize=True)


if __name__ == "__main__":
    main()
