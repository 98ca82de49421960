#!/usr/bin/env python3
"""Writes the hand-made seeds of fuzz/corpus/screen/ (run from anywhere; existing seeds of the
same name are overwritten). Each seed is an 8-byte set-up header followed by the byte stream;
the header layout is DecodeHeader in screen_fuzz.cpp."""
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "screen")

DIFF, RECONF, BADCOLS, PAINT, CURSOREV = 0x01, 0x02, 0x04, 0x40, 0x80


def header(rows=25, cols=80, back=0, backcolor=7, options=1, xlat=1, autolf=0, autocr=0,
           mode=0, chunk=0, rows2=25, back2=0, cols2=80):
    flags = backcolor | (options << 3) | (xlat << 5) | (autolf << 6) | (autocr << 7)
    return bytes([rows - 1, cols - 1, back, flags, mode | (chunk << 3), rows2 - 1, back2, cols2 - 1])


E = b"\x1b"
CSI = b"\x1b["
SEEDS = {}


def seed(name, data, **setup):
    SEEDS[name] = header(**setup) + data


text = b"".join(b"line %03d: the quick brown fox\r\n" % i for i in range(30))
finals = b"@ABCDHIJKLMPSTfhlmnrsu>gZXz`"
seed("csi_every_final", text + b"".join(CSI + b"3;5" + bytes([f]) + b"x" for f in finals))
seed("csi_every_final_noparam", text + b"".join(CSI + bytes([f]) + b"y" for f in finals), mode=DIFF)
seed("sgr_colours", CSI + b"31;44mA" + CSI + b"1;33mB" + CSI + b"38mC" + CSI + b";mD" + CSI + b"mE"
     + CSI + b"0mF" + CSI + b"5;22;27;8;4mG" + CSI + b"30;31;32;33;34;35;36;37;40;41;42;43;44;45;46;47mH")
seed("sgr_reverse", CSI + b"7mAB" + CSI + b"1mC" + CSI + b"42mD" + CSI + b"0mE" + CSI + b"7;27mF", mode=DIFF)
seed("sgr_high_bit", CSI + b"12mABC" + CSI + b"10mDEF" + CSI + b"12m" + bytes(range(0x20, 0x7f)), mode=DIFF)
seed("sgr_question", CSI + b"?m" + CSI + b"1?2;?;3?m" + CSI + b"??????m" + CSI + b"31? 44 m", mode=DIFF)
seed("modes", CSI + b"?1h" + CSI + b"?1l" + CSI + b"?4h" + CSI + b"?4l" + CSI + b"?7h" + b"W" * 200
     + CSI + b"?7l" + CSI + b"?25l" + CSI + b"?25h" + CSI + b"?99h" + CSI + b"4h" + CSI + b"?h",
     mode=CURSOREV)
seed("autowrap_bottom", CSI + b"?7h" + CSI + b"25;70H" + b"0123456789abcdefghij" * 10, mode=DIFF | (3 << 3))
seed("graphics_set", E + b"(0lqkxjmntuvw" + E + b"(Blqk\x0elqk\x0flqk", xlat=0)
seed("graphics_set_xlat", E + b"(0lqk" + E + b"(B\x0e" + CSI + b"m\x0f" + CSI + b"0I\x0e" + CSI + b"m", mode=DIFF)
seed("g_sets_other", E + b")0" + E + b"*B" + E + b"+9" + E + b"(Z" + E + b" F" + E + b" G" + E + b"#8")
seed("raw_runs", CSI + b"1;4I\x00A\x00B" + CSI + b"1I\x1bC" + CSI + b"1;3I\x1b\x1b\x1bD" + CSI + b"2;5IE"
     + CSI + b"9IF" + CSI + b"0IG" + CSI + b"4IH", mode=DIFF)
seed("raw_run_long", CSI + b"1;1000I" + bytes(range(256)) * 4 + b"after", mode=DIFF | (5 << 3))
seed("private_key_seq", CSI + b"3;1;2;3;4I" + CSI + b"3I" + CSI + b"3;4095;65535;1;99999I")
seed("huge_params", CSI + b"99999999999999999999A" + CSI + b"2147483647B" + CSI + b"2147483647C"
     + CSI + b"2147483648D" + CSI + b"99;999H" + CSI + b"2147483648;2147483648r" + CSI + b"4294967295@"
     + CSI + b"4294967295P" + CSI + b"4294967295L" + CSI + b"4294967295M" + CSI + b"99999999999999m"
     + CSI + b"1;99999999999999999999I" + b"xy")
seed("huge_params_wrap", CSI + b"?7h" + CSI + b"2147483647C" + b"A" + CSI + b"2147483646C" + b"B"
     + b"\t" * 40 + CSI + b"2147483647C" + b"C", mode=DIFF)
seed("long_escape_80", CSI + b"1" * 80 + b"Z" + CSI + b"2" * 78 + b"H" + CSI + b"3" * 79 + b"m")
seed("long_escape_spaces", E + b" " * 79 + b"F" + E + b" " * 78 + b"F" + E + b"[" + b";" * 79 + b"m")
seed("escape_controls", E + b"\r" + E + b"\n" + E + E + b"x" + E + b"\x00" + CSI + b"1\r" + E + b"7" + E + b"8"
     + E + b"D" + E + b"E" + E + b"M" + E + b"Z" + E + b"<" + E + b"=" + E + b">" + E + b"H" + E + b"\xff")
seed("controls", b"a\x07b\x08\x08\x08c\td\te\x0bf\x0cg\x00h\x0ei\x0fj\x1ck\x7fl\r\nm", mode=DIFF)
seed("tabs_past_last_cell", CSI + b"?7l" + b"\t" * 25 + b"X" + CSI + b"K" + CSI + b"@" + CSI + b"P"
     + CSI + b"J" + CSI + b"1J" + b"Y" * 5 + CSI + b"5C" + CSI + b"5D" + b"\tZ", cols=161, mode=DIFF)
seed("tabs_autowrap", CSI + b"?7h" + b"\t" * 30 + b"X" + b"\t" * 30 + b"Y", cols=40, mode=DIFF)
seed("write_past_last_cell", b"Q" * 400 + CSI + b"K" + b"R" * 10, cols=161, mode=DIFF | (2 << 3))
seed("scroll_region", CSI + b"5;10r" + CSI + b"10;1H" + b"a\nb\nc\nd\n" + E + b"M" * 8 + CSI + b"5r"
     + CSI + b"0r" + CSI + b"10;5r" + CSI + b"1;25r" + CSI + b"2;26r" + CSI + b"24;25r" + b"\n" * 5)
seed("insert_delete_lines", text + CSI + b"3;20r" + CSI + b"5H" + CSI + b"3L" + CSI + b"2M" + CSI + b"18H"
     + CSI + b"3L" + CSI + b"30M" + CSI + b"22H" + CSI + b"2L" + CSI + b"1;1H" + CSI + b"99M", back=30,
     mode=DIFF)
seed("insert_delete_chars", b"0123456789" * 8 + CSI + b"1;10H" + CSI + b"1P" + CSI + b"5@" + CSI + b"1;70H"
     + CSI + b"100P" + CSI + b"80@" + CSI + b"1;80H" + CSI + b"P" + CSI + b"@", mode=DIFF)
seed("erase", text + CSI + b"12;40H" + CSI + b"41m" + CSI + b"J" + b"a" + CSI + b"1J" + CSI + b"2J" + CSI
     + b"K" + CSI + b"1K" + CSI + b"2K" + CSI + b"3J", back=30)
seed("back_rows_fill", b"".join(b"row %d\n" % i for i in range(40)), rows=25, back=10, mode=PAINT)
seed("back_rows_one", b"".join(b"row %d\n" % i for i in range(10)) + CSI + b"S" * 3, rows=5, back=1, mode=DIFF)
seed("back_rows_region", CSI + b"3;8r" + CSI + b"8H" + b"".join(b"r%d\n" % i for i in range(30)), rows=10,
     back=20, backcolor=1, options=1)
seed("copy_back_on_clear", text + CSI + b"2J" + text + CSI + b"2J" + CSI + b"2J", rows=10, back=25,
     options=3, mode=DIFF)
seed("copy_back_small", text + CSI + b"2J", rows=10, back=10, options=2)
seed("copy_back_too_few", text + CSI + b"2J", rows=10, back=9, options=3)
seed("reconfigure_shrink_back", text * 2 + CSI + b"?7h" + text, rows=20, back=100, mode=RECONF, rows2=30, back2=3,
     cols2=40)
seed("reconfigure_grow", text + CSI + b"5;15r" + text, rows=8, back=2, mode=RECONF | DIFF, rows2=51, back2=100,
     cols2=161)
seed("reconfigure_to_one_row", text + CSI + b"20;24r" + CSI + b"22H" + text, rows=25, back=50, mode=RECONF,
     rows2=1, back2=1, cols2=1)
seed("tiny_screen", text + CSI + b"?7h" + text + CSI + b"2;1r" + CSI + b"@" + CSI + b"L" + E + b"M" + E + b"8",
     rows=1, cols=1, mode=DIFF)
seed("tiny_screen_back", text, rows=1, cols=1, back=100, mode=DIFF)
seed("bad_cols_zero", text + CSI + b"?7h" + text + CSI + b"K" + CSI + b"@" + CSI + b"P" + CSI + b"J" + b"\tZ",
     cols=1, mode=BADCOLS | DIFF)
seed("bad_cols_huge", text + CSI + b"?7h" + text + CSI + b"K" + CSI + b"@" + CSI + b"P" + CSI + b"2J",
     cols=5, back=30, options=3, mode=BADCOLS | DIFF)
seed("bad_cols_negative", text + CSI + b"99C" + CSI + b"K" + CSI + b"3@", cols=2, mode=BADCOLS)
seed("autolf_autocr", b"one\rtwo\nthree\r\nfour" * 10, autolf=1, autocr=1, mode=DIFF | (1 << 3))
seed("high_bytes_translate", bytes(range(0x80, 0x100)) * 3 + b"\r\n" + bytes(range(0x80, 0x100)), xlat=0,
     mode=DIFF | (4 << 3))
seed("all_bytes", bytes(range(256)) * 2, mode=DIFF | (6 << 3))
seed("save_restore", CSI + b"5;7H" + E + b"7" + CSI + b"H" + E + b"8" + E + b"8" + CSI + b"s" + CSI + b"20;70H"
     + CSI + b"u" + CSI + b"u" + CSI + b"?7h" + b"\t" * 20 + E + b"7" + CSI + b"H" + E + b"8" + b"X", cols=80)
seed("paint_cycle", text + CSI + b"31mred" + CSI + b"5;5H" + CSI + b"K" + CSI + b"J", mode=PAINT | DIFF)

os.makedirs(OUT, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
print(f"{len(SEEDS)} seeds written to {OUT}")
