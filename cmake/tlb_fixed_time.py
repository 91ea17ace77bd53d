#!/usr/bin/env python3
"""Makes a type library written by widl independent of when it was written (the release build,
cmake/release.cmake): widl 7 puts the time of writing into the library twice, as text in its
documentation string ("Created by WIDL version 7.0 at Fri Dec 11 06:08:19 2026") and as a
32-bit time value, and takes no fixed time from the environment. Both are set to the epoch
(1970-01-01 00:00:00 UTC), in place; the library keeps its size and layout.

usage: tlb_fixed_time.py FILE.tlb
"""
import calendar
import re
import struct
import sys
import time

path = sys.argv[1]
with open(path, "rb") as f:
    data = bytearray(f.read())
match = re.search(rb"Created by WIDL version [^\n\0]* at "
                  rb"([A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4})", data)
if not match:
    sys.exit(f"{path}: no widl time stamp found")
text = match.group(1)
written = time.strptime(text.decode("ascii").replace("  ", " 0"), "%a %b %d %H:%M:%S %Y")
# widl wrote the text in local time; look for the time value as local time and as UTC.
candidates = {int(time.mktime(written)), calendar.timegm(written)}
epoch_text = time.strftime("%a %b %d %H:%M:%S %Y", time.gmtime(0)).replace(" 0", "  ", 1)
assert len(epoch_text) == len(text)
data[match.start(1):match.end(1)] = epoch_text.encode("ascii")
for value in candidates:
    packed = struct.pack("<I", value)
    data = bytearray(bytes(data).replace(packed, b"\0\0\0\0"))
with open(path, "wb") as f:
    f.write(data)
