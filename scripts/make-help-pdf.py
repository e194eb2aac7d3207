#!/usr/bin/env python3
"""Writes docs/help/help/downgrade-office-2010-to-32-bit.pdf, the document
that the "Outlook Error" box names. A small PDF 1.4 file with the standard
Helvetica fonts, laid out here line by line. Standard library only."""
import os
import textwrap

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "help", "help",
                   "downgrade-office-2010-to-32-bit.pdf")

# (style, text): "h1" title, "h2" heading, "p" paragraph, "b" bullet.
CONTENT = [
    ("h1", "The \"Outlook Session Creation Error\" box"),
    ("p", "Tavrin MSG to PST Converter shows this box when it could not create the new .pst file "
          "for a folder. The first lines of the box speak of Outlook editions; they do not apply to "
          "this program."),
    ("h2", "You do not need Outlook"),
    ("p", "This program reads the .msg files and writes the .pst files itself. It needs no Outlook, "
          "no MAPI and no particular Office edition. You do not have to install, repair, re-install "
          "or downgrade Outlook or Office: a 64-bit Office, or no Office at all, is fine."),
    ("h2", "What the box means"),
    ("p", "The .pst file for the folder being converted could not be created or opened for writing. "
          "The last line of the box gives the reason that was reported. Nothing was created for this "
          "folder, its source files are unchanged, and in the multiple-folder mode the run goes on "
          "with the next ticked folder."),
    ("h2", "Common causes"),
    ("b", "A file of that name already exists. The multiple-folder mode never replaces an existing "
          ".pst file; in the single-folder mode the save dialog asks before replacing one."),
    ("b", "The output folder does not exist any more, or is not a folder."),
    ("b", "You may not write to the output folder (a read-only, system or network folder)."),
    ("b", "The disk is full, or the path or file name is too long or uses characters the file "
          "system does not allow."),
    ("b", "Another program, for example Outlook, has a file of that name open."),
    ("h2", "What to do"),
    ("p", "Close the status window, remove the cause, then press Next > and Start Conversion again:"),
    ("b", "Multiple-folder mode: press Change... and choose an output folder you can write to, or "
          "move or rename the existing .pst file. Untick the folders already converted: their .pst "
          "files exist now and would not be replaced."),
    ("b", "Single-folder mode: choose another name or folder in the save dialog."),
    ("b", "Free some disk space, or shorten the path, if the reason says so."),
    ("p", "Folders converted before the error keep their finished .pst files."),
]

PAGE_W, PAGE_H, MARGIN = 595, 842, 56  # A4 in points


def esc(s):
    return s.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


def layout():
    """Returns the page content streams."""
    pages, ops = [], []
    y = PAGE_H - MARGIN

    def line(font, size, x, text):
        nonlocal y
        ops.append("BT /%s %d Tf %d %d Td (%s) Tj ET" % (font, size, x, y, esc(text)))

    def need(h):
        nonlocal y, ops
        if y - h < MARGIN:
            pages.append("\n".join(ops))
            ops = []
            y = PAGE_H - MARGIN

    for style, text in CONTENT:
        if style == "h1":
            need(40)
            line("F2", 16, MARGIN, text)
            y -= 14
            ops.append("0.75 G 0.5 w %d %d m %d %d l S" % (MARGIN, y, PAGE_W - MARGIN, y))
            y -= 22
        elif style == "h2":
            y -= 6
            need(30)
            line("F2", 12, MARGIN, text)
            y -= 18
        else:
            bullet = style == "b"
            width = 84 if bullet else 88
            lines = textwrap.wrap(text, width)
            need(14 * len(lines) + 6)
            for k, l in enumerate(lines):
                if bullet and k == 0:
                    line("F1", 10, MARGIN + 4, "-")
                line("F1", 10, MARGIN + (16 if bullet else 0), l)
                y -= 14
            y -= 6
    pages.append("\n".join(ops))
    return pages


def main():
    streams = layout()
    objs = []  # bodies; object numbers from 1
    objs.append("<< /Type /Catalog /Pages 2 0 R >>")
    page_ids = [5 + 2 * i for i in range(len(streams))]
    objs.append("<< /Type /Pages /Kids [%s] /Count %d >>" % (" ".join("%d 0 R" % p for p in page_ids), len(streams)))
    objs.append("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")
    objs.append("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>")
    for i, s in enumerate(streams):
        objs.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %d %d] /Resources << /Font << /F1 3 0 R /F2 4 0 R >> >> "
                    "/Contents %d 0 R >>" % (PAGE_W, PAGE_H, page_ids[i] + 1))
        data = s.encode("latin-1")
        objs.append("<< /Length %d >>\nstream\n%s\nendstream" % (len(data), s))
    info_id = len(objs) + 1
    objs.append("<< /Title (Outlook Session Creation Error - Tavrin MSG to PST Converter) "
                "/Producer (Tavrin MSG to PST Converter) >>")
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for n, body in enumerate(objs, start=1):
        offsets.append(len(out))
        out += ("%d 0 obj\n%s\nendobj\n" % (n, body)).encode("latin-1")
    xref = len(out)
    out += ("xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)).encode()
    for o in offsets:
        out += ("%010d 00000 n \n" % o).encode()
    out += ("trailer\n<< /Size %d /Root 1 0 R /Info %d 0 R >>\nstartxref\n%d\n%%%%EOF\n"
            % (len(objs) + 1, info_id, xref)).encode()
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    with open(OUT, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
