#!/usr/bin/env python3
"""Two linked pseudo-terminals as Wine's COM ports (com_pair.py 41 42): what one writes, the
other reads. Both go away, as an unplugged adapter does, once the test's C:\\com_pair.run is
gone (the test closed it, or ended), or after a minute."""
import os, select, sys, time, tty

prefix = os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
alive = os.path.join(prefix, "drive_c", "com_pair.run")
pairs = [os.openpty() for _ in sys.argv[1:3]]
links = [os.path.join(prefix, "dosdevices", "com" + n) for n in sys.argv[1:3]]
for (master, slave), link in zip(pairs, links):
    tty.setraw(slave)
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(os.ttyname(slave), link)
masters = [master for master, _ in pairs]
try:
    end = time.monotonic() + 60
    while time.monotonic() < end and os.path.exists(alive):
        for m in select.select(masters, [], [], 0.1)[0]:
            os.write(masters[1 - masters.index(m)], os.read(m, 4096))
finally:
    for link in links:
        os.remove(link)
