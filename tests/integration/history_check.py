#!/usr/bin/env python3
"""tidewell --history --plot over a history that Python's csv module wrote, odd error texts
and all: the report shows the newest 20 rows and the day's summary, and the chart is XML with
one mark per update, each refusal's text intact in its tooltip."""
import csv
import datetime
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

ODD = ['Operation not permitted', 'a, "quoted" <b>&amp;</b>', 'two\r\nlines', 'ctrl \x01 é ✓']


def stamp(t):
    return t.strftime('%Y-%m-%dT%H:%M:%S.') + '%03dZ' % (t.microsecond // 1000)


with tempfile.TemporaryDirectory() as folder:
    now = datetime.datetime.now(datetime.timezone.utc)
    rows = []
    for i in range(300):
        when = now - datetime.timedelta(minutes=300 - i, milliseconds=i)
        refused = i % 7 == 3
        rows.append([stamp(when), stamp(when), str(i * 37 % 2001 - 1000),
                     'precise' if i % 2 else 'seconds', 'refused' if refused else 'set',
                     ODD[i % len(ODD)] if refused else ''])
    with open(os.path.join(folder, 'clock-history.csv'), 'w', newline='', encoding='utf-8') as f:
        out = csv.writer(f)  # CRLF line ends, minimal quoting
        out.writerow('when,target,was_ms,mode,result,reason'.split(','))
        out.writerows(rows)
    settings = os.path.join(folder, 'Tidewell.ini')
    with open(settings, 'w') as f:
        f.write('[UDP]\nUDPADDRESS=127.0.0.1\n')
    svg = os.path.join(folder, 'history.svg')
    run = subprocess.run([sys.argv[1], '--history', '--plot', svg, '--settings', settings],
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    refused = sum(r[4] == 'refused' for r in rows)
    assert lines[-1].startswith('last day: 300 updates, %d refused; |was| median ' % refused), lines
    assert len(lines) == 1 + 1 + 20 + 1, lines  # file, heading, rows, summary

    marks = [e for e in ET.parse(svg).iter() if 'point' in e.get('class', '').split()]
    assert len(marks) == len(rows), len(marks)
    crosses = [e for e in marks if 'refused' in e.get('class').split()]
    assert len(crosses) == refused
    tips = [e.find('{http://www.w3.org/2000/svg}title').text for e in crosses]
    for text in ODD:
        shown = text.replace('\x01', '?').replace('\r\n', '\n')  # as XML reads line ends
        assert any(t.endswith(': ' + shown) for t in tips), (shown, tips[:4])
print('history: %d rows read, reported and drawn' % len(rows))
