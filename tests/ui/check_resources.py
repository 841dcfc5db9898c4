#!/usr/bin/env python3
"""Checks the compiled resources (a .res file) against the window layout:
every dialog's controls with ids, positions, kinds, visibility and texts,
the languages, and the sizes and depths of the icon and bitmaps.

    check_resources.py kantiq.res VERSION

VERSION is the release's version, which the about box must show."""
import struct
import sys

WS_VISIBLE = 0x10000000
WS_TABSTOP = 0x00010000
WS_GROUP = 0x00020000
WS_BORDER = 0x00800000
WS_VSCROLL = 0x00200000
# Pictures are centred in their controls, never scaled.
SS_CENTERIMAGE = 0x200
EN_US, DE_DE = 0x409, 0x407

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def read_id(d, p):
    if struct.unpack_from('<H', d, p)[0] == 0xFFFF:
        return struct.unpack_from('<H', d, p + 2)[0], p + 4
    s = ''
    while True:
        c = struct.unpack_from('<H', d, p)[0]
        p += 2
        if c == 0:
            return s, p
        s += chr(c)


def resources(d):
    out = {}
    p = 0
    while p < len(d):
        size, head = struct.unpack_from('<II', d, p)
        rtype, q = read_id(d, p + 8)
        name, q = read_id(d, q)
        q = (q + 3) & ~3
        _, _, lang = struct.unpack_from('<IHH', d, q)
        if size:
            out[(rtype, name)] = (lang, d[p + head:p + head + size])
        p = (p + head + size + 3) & ~3
    return out


CLASSES = {0x80: 'Button', 0x81: 'Edit', 0x82: 'Static', 0x83: 'ListBox', 0x84: 'ScrollBar',
           0x85: 'ComboBox'}


def dialog(data):
    ver, sig = struct.unpack_from('<HH', data, 0)
    assert (ver, sig) == (1, 0xFFFF), 'DIALOGEX expected'
    _, exstyle, style, n, x, y, cx, cy = struct.unpack_from('<IIIHhhhh', data, 4)
    p = 26
    _, p = read_id(data, p)  # menu
    _, p = read_id(data, p)  # class
    caption, p = read_id(data, p)
    size, weight, italic, charset = struct.unpack_from('<HHBB', data, p)
    face, p = read_id(data, p + 6)
    controls = []
    for _ in range(n):
        p = (p + 3) & ~3
        _, cex, cstyle, x_, y_, w, h, cid = struct.unpack_from('<IIIhhhhI', data, p)
        p += 24
        cls, p = read_id(data, p)
        text, p = read_id(data, p)
        extra = struct.unpack_from('<H', data, p)[0]
        p += 2 + extra
        cls = CLASSES.get(cls, cls)
        # Class names are case-insensitive; windres spells them in capitals.
        controls.append(dict(cls=cls.lower() if isinstance(cls, str) else cls, style=cstyle, pos=(x_, y_, w, h),
                             id=cid if cid != 0xFFFFFFFF else -1, text=text))
    return dict(style=style, exstyle=exstyle, size=(cx, cy), caption=caption, font=(size, face),
                controls=controls)


def expect_controls(name, dlg, table):
    ctl = dlg['controls']
    check(len(ctl) == len(table), f'{name}: {len(ctl)} controls, expected {len(table)}')
    for c, (cid, cls, text, pos, visible, flags) in zip(ctl, table):
        what = f'{name} control {cid} {text!r}'
        check(c['id'] == cid, f'{what}: id {c["id"]}')
        check(c['cls'] == cls.lower(), f'{what}: class {c["cls"]}')
        check(c['text'] == text, f'{what}: text {c["text"]!r}')
        check(c['pos'] == pos, f'{what}: position {c["pos"]}')
        check(bool(c['style'] & WS_VISIBLE) == visible, f'{what}: visible {not visible}')
        check(c['style'] & flags == flags, f'{what}: style {c["style"]:#x} lacks {flags:#x}')


def bitmap_info(data):
    _, w, h, _, bpp = struct.unpack_from('<IiiHH', data, 0)
    return w, h, bpp


def main(path, version):
    res = resources(open(path, 'rb').read())
    # Main window.
    lang, data = res[(5, 106)]
    check(lang == EN_US, 'dialog 106 language')
    d = dialog(data)
    check(d['caption'] == 'Brevalo Kantiq', 'dialog 106 caption')
    check(d['size'] == (433, 342), 'dialog 106 size')
    check(d['font'] == (8, 'MS Sans Serif'), 'dialog 106 font')
    check(d['style'] & 0x10CA0004 == 0x10CA0004, f'dialog 106 style {d["style"]:#x}')  # visible caption sysmenu minimize 3d
    check(d['style'] & 0x00010000 == 0, 'dialog 106 has no maximize box')
    check(d['style'] & 0x00040000 == 0, 'dialog 106 is not resizable')
    check(d['exstyle'] & 0x4 == 0x4, 'dialog 106 lacks WS_EX_NOPARENTNOTIFY')
    BMP = 0x80  # BS_BITMAP
    expect_controls('106', d, [
        (1003, 'Button', '', (253, 4, 138, 19), True, 0x1 | WS_GROUP | WS_TABSTOP),
        (1019, 'Button', '', (395, 4, 22, 19), True, BMP | WS_TABSTOP),
        (-1, 'Static', 117, (9, 4, 228, 66), True, 0xE | SS_CENTERIMAGE | WS_BORDER),
        (-1, 'Button', 'Aktueller Status', (252, 30, 165, 40), True, 0x7),
        (1020, 'Button', '', (258, 40, 154, 25), True, BMP | 0x8000 | WS_TABSTOP),
        (1021, 'Button', 'Alarmierung testen', (252, 73, 165, 13), True, WS_TABSTOP),
        (-1, 'Button', 'Anliegendes Signal (Input)', (9, 74, 202, 244), True, 0x7),
        (101, 'Static', '', (27, 85, 174, 69), True, 0x4),
        (1002, 'Static', '', (27, 166, 174, 133), True, 0x4),
        (1016, 'Static', '', (17, 166, 6, 133), True, 0xF),
        (-1, 'Static', 'Hz', (16, 155, 9, 9), True, 0),
        (-1, 'Button', 'Auswertung', (252, 90, 165, 228), True, 0x7),
        (1015, 'Edit', '', (258, 101, 153, 214), True, 0x4 | 0x800 | WS_BORDER | WS_VSCROLL),
        (1022, 'Static', '', (9, 326, 408, 10), True, 0xC | 0x80),
        (-1, 'Button', 'Bits per sample', (164, 313, 82, 22), False, 0x7),
        (1005, 'Button', '8', (177, 321, 24, 10), False, 0x9 | WS_GROUP | WS_TABSTOP),
        (1006, 'Button', '16', (211, 321, 23, 10), False, 0x9),
        (-1, 'Static', 'Sampling Frequency', (251, 310, 77, 10), False, 0),
        (1008, 'ComboBox', '', (349, 310, 61, 51), False, 0x3 | WS_VSCROLL | WS_GROUP | WS_TABSTOP),
        (-1, 'Static', 'Points per Transform', (251, 326, 77, 10), False, 0),
        (1014, 'ComboBox', '', (349, 326, 61, 95), False, 0x3 | WS_VSCROLL | WS_TABSTOP),
        (-1, 'Static', "Speed (FFT's per sec)", (3, 322, 73, 10), False, 0xC),
        (1013, 'Edit', '', (77, 322, 20, 12), False, 0x800 | WS_BORDER),
        (1012, 'ScrollBar', '', (101, 322, 61, 12), False, WS_GROUP | WS_TABSTOP),
    ])
    check(d['controls'][12]['style'] & WS_TABSTOP == 0, 'result box is no tab stop')

    # About box.
    lang, data = res[(5, 107)]
    check(lang == EN_US, 'dialog 107 language')
    d = dialog(data)
    check((d['caption'], d['size'], d['font']) == ('Brevalo Kantiq', (239, 210), (8, 'MS Sans Serif')),
          'dialog 107 caption, size, font')
    check(d['style'] & 0x80C80880 == 0x80C80880, f'dialog 107 style {d["style"]:#x}')  # popup caption sysmenu modal centre
    ctl = d['controls']
    check(len(ctl) == 8, 'dialog 107 has 8 controls')
    check([c['pos'] for c in ctl] == [(6, 5, 228, 66), (41, 76, 157, 10), (16, 92, 211, 17),
                                      (7, 115, 223, 9), (7, 125, 225, 16), (33, 149, 170, 10),
                                      (7, 160, 227, 19), (91, 191, 58, 14)], 'dialog 107 positions')
    check(ctl[1]['text'] == f'Version {version}', f'version text {ctl[1]["text"]!r}')
    check(ctl[5]['text'] == 'Mehr Informationen finden Sie auf', 'more-information text')
    check(ctl[6]['id'] == 1020 and ctl[6]['text'] == 'https://kantiq.example.org', 'home-page button')
    check(ctl[7]['id'] == 1 and ctl[7]['text'] == 'OK' and ctl[7]['style'] & 1, 'OK default button')
    check(ctl[0]['text'] == 117, 'about banner is bitmap 117')
    check(ctl[0]['style'] & (0xE | SS_CENTERIMAGE) == 0xE | SS_CENTERIMAGE, 'about banner is a centred picture')

    # Test-message dialog.
    lang, data = res[(5, 119)]
    check(lang == DE_DE, 'dialog 119 language')
    d = dialog(data)
    check((d['caption'], d['size'], d['font']) == ('Mobilfunknummer', (210, 73), (8, 'MS Shell Dlg')),
          'dialog 119 caption, size, font')
    expect_controls('119', d, [
        (-1, 'Static', 'Bitte geben Sie eine Mobilfunknummer (Handynummer) ein,\n'
                       'an welche eine Test-SMS gesendet werden soll:', (7, 7, 196, 16), True, WS_GROUP),
        (1019, 'Edit', '', (7, 28, 191, 14), True, 0x80 | WS_BORDER | WS_TABSTOP),
        (1, 'Button', 'OK', (7, 52, 50, 14), True, 0x1 | WS_TABSTOP),
        (2, 'Button', 'Abbrechen', (68, 52, 50, 14), True, WS_TABSTOP),
    ])

    # Bitmaps and icon.
    for num, size in ((114, (230, 40, 24)), (115, (230, 40, 24)), (116, (30, 30, 24)),
                      (117, (340, 106, 16)), (118, (230, 40, 24)), (120, (230, 40, 24)),
                      (121, (230, 40, 24)), (122, (230, 40, 24))):
        lang, data = res[(2, num)]
        check(lang == DE_DE, f'bitmap {num} language')
        check(bitmap_info(data) == size, f'bitmap {num}: {bitmap_info(data)}')
    lang, group = res[(14, 110)]
    check(lang == EN_US, 'icon 110 language')
    _, _, count = struct.unpack_from('<HHH', group, 0)
    sizes = []
    for i in range(count):
        w, h, _, _, _, bpp, _, iid = struct.unpack_from('<BBBBHHIH', group, 6 + 14 * i)
        sizes.append((w, h, bpp))
        _, img = res[(3, iid)]
        check(bitmap_info(img)[2] == 32, f'icon image {iid} is 32-bit')
    check(sorted(sizes) == sorted([(48, 48, 32), (32, 32, 32), (24, 24, 32), (16, 16, 32)]),
          f'icon sizes {sizes}')
    # The version resource is not in this script: each program gets its own
    # (resources/version.rc.in).
    check(not any(t in (4, 6, 9, 16, 24) for t, _ in res), 'no menu, string table, accelerator, version or manifest')

    for f in failures:
        print('FAIL:', f)
    print(f'{len(failures)} failures')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1], sys.argv[2]))
