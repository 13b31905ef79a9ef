#!/usr/bin/env python3
"""Writes resources/Varnov30.uir, the operator panel (a Qt Designer .ui document).

The panel uses absolute geometry in its own pixels. Every control the program addresses
carries the dynamic properties ctrlId, callback and dataType; each control's label is a
QLabel with labelOf = the control's id. Run this after changing the layout, or edit the
.uir in Qt Designer and keep this script in step.
"""
import sys
from xml.sax.saxutils import escape

W, H = 900, 650
out = []
seq = [0]


def name(prefix):
    seq[0] += 1
    return f"{prefix}_{seq[0]}"


def prop(n, kind, v, std=True):
    s = '' if std else ' stdset="0"'
    if kind == 'string':
        return f'<property name="{n}"{s}><string>{escape(str(v))}</string></property>'
    if kind == 'number':
        return f'<property name="{n}"{s}><number>{v}</number></property>'
    if kind == 'double':
        return f'<property name="{n}"{s}><double>{v}</double></property>'
    if kind == 'bool':
        return f'<property name="{n}"{s}><bool>{"true" if v else "false"}</bool></property>'
    if kind == 'enum':
        return f'<property name="{n}"{s}><enum>{v}</enum></property>'
    if kind == 'set':
        return f'<property name="{n}"{s}><set>{v}</set></property>'
    raise ValueError(kind)


def geom(x, y, w, h):
    return (f'<property name="geometry"><rect><x>{x}</x><y>{y}</y><width>{w}</width>'
            f'<height>{h}</height></rect></property>')


def widget(cls, objname, x, y, w, h, props=(), extra=''):
    out.append(f'<widget class="{cls}" name="{objname}">{geom(x, y, w, h)}'
               + ''.join(props) + extra + '</widget>')


def ctrl_props(cid, cb, dtype):
    p = [prop('ctrlId', 'number', cid, False)]
    if cb:
        p.append(prop('callback', 'string', cb, False))
    p.append(prop('dataType', 'string', dtype, False))
    return p


def label(text, of, x, y, w, h=20, hidden=False, align='Qt::AlignLeft|Qt::AlignVCenter'):
    p = [prop('text', 'string', text), prop('labelOf', 'number', of, False),
         prop('alignment', 'set', align)]
    if hidden:
        p.append(prop('visible', 'bool', False))
    widget('QLabel', name('label'), x, y, w, h, p)


def numeric(objname, cid, cb, x, y, w, h, value, lo=0, hi=255, suffix='', hidden=False,
            dimmed=False, dtype='uchar', readonly=False):
    p = ctrl_props(cid, cb, dtype) + [prop('minimum', 'number', lo), prop('maximum', 'number', hi),
                                      prop('value', 'number', value),
                                      prop('alignment', 'set', 'Qt::AlignRight|Qt::AlignVCenter')]
    if suffix:
        p.append(prop('suffix', 'string', suffix))
    if readonly:
        p += [prop('readOnly', 'bool', True), prop('buttonSymbols', 'enum', 'QAbstractSpinBox::NoButtons'),
              prop('focusPolicy', 'enum', 'Qt::NoFocus'), prop('display', 'bool', True, False)]
    if hidden:
        p.append(prop('visible', 'bool', False))
    if dimmed:
        p.append(prop('enabled', 'bool', False))
    widget('QSpinBox', objname, x, y, w, h, p)


def ring(objname, cid, cb, x, y, w, h, items, current, hidden=False, dimmed=False, dtype='uchar',
         values=None):
    p = ctrl_props(cid, cb, dtype)
    if values is not None:
        p.append(prop('itemValues', 'string', ','.join(str(v) for v in values), False))
    p.append(prop('currentIndex', 'number', current))
    if hidden:
        p.append(prop('visible', 'bool', False))
    if dimmed:
        p.append(prop('enabled', 'bool', False))
    its = ''.join(f'<item>{prop("text", "string", t)}</item>' for t in items)
    widget('QComboBox', objname, x, y, w, h, p, its)


def toggle(objname, cid, cb, x, y, w, h, text, checked, dtype='int', on_text=None, off_text=None):
    p = ctrl_props(cid, cb, dtype) + [prop('checkable', 'bool', True), prop('checked', 'bool', checked),
                                      prop('text', 'string', text), prop('focusPolicy', 'enum', 'Qt::TabFocus')]
    if on_text:
        p += [prop('onText', 'string', on_text, False), prop('offText', 'string', off_text, False)]
    widget('QPushButton', objname, x, y, w, h, p)


def deco(cid, cb, x, y, w, h):
    p = ctrl_props(cid, cb, '') + [prop('frameShape', 'enum', 'QFrame::StyledPanel'),
                                   prop('deco', 'bool', True, False)]
    widget('QFrame', f'deco{cid - 60}', x, y, w, h, p)


# ---- branding header ---------------------------------------------------------------
widget('QFrame', 'logoFrame', 0, 0, W, 62,
       ctrl_props(41, None, '') + [prop('frameShape', 'enum', 'QFrame::NoFrame'),
                                   prop('autoFillBackground', 'bool', True)])
widget('QLabel', 'logo', 168, 6, 48, 48, ctrl_props(12, None, ''))

# ---- parameter area (two pages; each decoration is one row of both pages) ------------
LX, CX, CW, CH = 22, 176, 150, 28
rows = [80, 128, 176, 224, 272, 320]
for i, y in enumerate(rows):
    deco(61 + i, f'CBF_DECO{i + 1}', 10, y, 330, 44)

deadtime_ms = ["0", "2", "4", "6", "8", "10", "12", "14", "16", "18", "20", "22", "24", "26", "28", "30"]

# page 1
label('TRESHOLD', 40, LX, rows[0] + 12, 140)
numeric('threshold', 40, 'CBF_EditThreshold', CX, rows[0] + 8, CW, CH, 128)
label('HYSTERESIS', 38, LX, rows[1] + 12, 140)
numeric('hysteresis', 38, 'CBF_EditHysteresis', CX, rows[1] + 8, CW, CH, 160)
label('TRIGGER', 18, LX, rows[2] + 12, 140)
ring('trigger', 18, 'CBF_EditTrigger', CX, rows[2] + 8, CW, CH, ['CONT', 'EXT', 'EXTSTAT', 'ADJ EXT'], 0,
     values=[0, 1, 2, 3])
label('HOLD', 16, LX, rows[3] + 12, 140)
numeric('hold', 16, 'CBF_EditHold', CX, rows[3] + 8, CW, CH, 10)
label('PMOD', 26, LX, rows[4] + 12, 140)
ring('pmod', 26, 'CBF_EditPmod', CX, rows[4] + 8, CW, CH, ['STAT', 'DYN'], 0, values=[0, 1])
label('POWER', 36, LX, rows[5] + 12, 140)
numeric('power', 36, 'CBF_EditPower', CX, rows[5] + 8, CW, CH, 65, 0, 100, ' %')
label('TRSH MODE', 25, LX, 380, 140)
ring('trshmod', 25, 'CBF_EditTrshMod', CX, 376, CW, CH, ['FIX', 'DYN'], 0, values=[0, 1])
label('DELTA TRSH', 37, LX, 420, 140)
numeric('deltatrsh', 37, 'CBF_EditDeltaTrsh', CX, 416, CW, CH, 30, dimmed=True)

# page 2 (hidden at start)
label('BACKLIM', 27, LX, rows[0] + 12, 140, hidden=True)
numeric('backlim', 27, 'CBF_EditBacklim', CX, rows[0] + 8, CW, CH, 10, hidden=True)
label('REGCNT', 24, LX, rows[1] + 12, 140, hidden=True)
numeric('regcnt', 24, 'CBF_EditRegcnt', CX, rows[1] + 8, CW, CH, 20, hidden=True, dimmed=True)
label('AVERAGE', 15, LX, rows[2] + 12, 140, hidden=True)
numeric('average', 15, 'CBF_EditAverage', CX, rows[2] + 8, CW, CH, 2, hidden=True)
label('OUTMODE', 14, LX, rows[3] + 12, 140, hidden=True)
ring('outmode', 14, 'CBF_EditOutmode', CX, rows[3] + 8, CW, CH, ['DIRECT', 'INVERSE'], 0, hidden=True,
     values=[0, 1])
label('DEAD TIME MODE', 20, LX, rows[4] + 12, 140, hidden=True)
ring('deadtimemode', 20, 'CBF_EditDeadTimeMode', CX, rows[4] + 8, CW, CH, ['percent', 'ms'], 1,
     hidden=True, values=[0, 1])
label('DEAD TIME[ms]', 19, LX, rows[5] + 12, 140, hidden=True)
ring('deadtime', 19, 'CBF_EditDeadTime', CX, rows[5] + 8, CW, CH, deadtime_ms, 10, hidden=True,
     values=list(range(16)))

toggle('paraVisible', 35, 'CBF_ParaVisible', 10, 462, 330, 30, 'More parameters  \u25b8', True,
       dtype='uchar', on_text='More parameters  \u25b8', off_text='\u25c2  Main parameters')

# source / target of transfers
widget('QLabel', 'targetCaption', 10, 504, 330, 18,
       [prop('text', 'string', 'SOURCE / TARGET OF TRANSFER')])
toggle('selectRam', 11, 'CBF_SelectRAM', 10, 524, 106, 30, 'RAM', True)
toggle('selectEeprom', 10, 'CBF_SelectEEPROM', 122, 524, 106, 30, 'EE', False)
toggle('selectFile', 9, 'CBF_SelectFILE', 234, 524, 106, 30, 'FILE', False)

label('PORT', 2, 10, 568, 60)
ring('comPort', 2, 'CBF_EditConnect', 70, 564, 270, CH, ['COM1'], 0, dtype='int', values=[1])
out[-1] = out[-1].replace('<property name="currentIndex">',
                          prop('portSelector', 'bool', True, False) + '<property name="currentIndex">')

# ---- live displays -------------------------------------------------------------------
DY = 96
disp = [(28, 'CBF_DispDat0', 'DAT0', 355, False), (29, 'CBF_DispDat1', 'DAT1', 447, False),
        (32, 'CBF_DispNORM', 'NORM', 539, False), (31, 'CBF_DispTRSH', 'TRSH', 631, False),
        (33, 'CBF_DispEdge', 'EDGE [%]', 355, True), (34, 'CBF_DispWin', 'WIN [%]', 447, True)]
for cid, cb, text, x, hidden in disp:
    label(text, cid, x, 74, 86, 20, hidden=hidden, align='Qt::AlignHCenter|Qt::AlignVCenter')
    numeric(f'disp{cid}', cid, cb, x, DY, 86, 34, 0, -2147483647, 2147483647, dtype='int',
            readonly=True, hidden=hidden)

label('SOURCE', 23, 730, 74, 160)
ring('source', 23, 'CBF_SelectSource', 730, DY + 3, 160, CH,
     ['RAW  DAT0 / DAT1', 'NORM / TRSH / HYST', 'ADJ EXT markers'], 0, dtype='int', values=[0, 1, 2])

# ---- graphs (one place, one shown at a time) -----------------------------------------
GX, GY, GW, GH = 350, 140, 540, 400
widget('StripChart', 'graphRaw', GX, GY, GW, GH,
       ctrl_props(42, 'CBF_GraphRaw1', '') + [
           prop('traces', 'number', 5, True), prop('yMin', 'double', 0), prop('yMax', 'double', 255),
           prop('traceNames', 'string', 'DAT0,DAT1,NORM,TRSH (working),HYST'),
           prop('traceColors', 'string', '#d62728,#1f77b4,#2ca02c,#111111,#ff7f0e'),
           prop('xTitle', 'string', 'last 100 records (newest right)')])
widget('Graph', 'graphAdj', GX, GY, GW, GH,
       ctrl_props(21, 'CBF_GraphData2', '') + [
           prop('xMin', 'double', 0), prop('xMax', 'double', 100), prop('yMin', 'double', 0),
           prop('yMax', 'double', 160), prop('look', 'string', 'needles'),
           prop('plotNames', 'string', 'EDGE (blue),ACTIVE window (red)'),
           prop('xTitle', 'string', '% of the IN0 period (IN0 to IN0 = 100 %)'),
           prop('visible', 'bool', False)])
widget('Graph', 'graphJmpBuf', GX, GY, GW, GH,
       ctrl_props(22, 'CBF_GraphData1', '') + [
           prop('xMin', 'double', 0), prop('xMax', 'double', 15), prop('xOffset', 'double', 0),
           prop('yMin', 'double', 0), prop('yMax', 'double', 255), prop('look', 'string', 'points'),
           prop('plotNames', 'string', 'jump buffer minima,working threshold'),
           prop('xTitle', 'string', 'sample (0 = oldest, 15 = newest)'),
           prop('yTitle', 'string', 'NORM'), prop('visible', 'bool', False)])

# ---- status and command buttons --------------------------------------------------------
label('STATUS', 13, 350, 568, 60)
widget('QLineEdit', 'status', 410, 564, 480, CH,
       ctrl_props(13, 'CBF_DispStatus', 'string') + [prop('readOnly', 'bool', True),
                                                     prop('focusPolicy', 'enum', 'Qt::NoFocus')])
buttons = [(50, 'CBF_ButtonSend', 'Send', 'F9'), (51, 'CBF_ButtonGet', 'Get', 'F10'),
           (52, 'CBF_ButtonGo', 'Go', 'F11'), (53, 'CBF_ButtonStop', 'Stop', 'F12'),
           (54, 'CBF_ButtonGetBuff', 'GetBuff', 'F8')]
bw = (W - 20 - 4 * 10) // 5
for i, (cid, cb, text, key) in enumerate(buttons):
    widget('QPushButton', f'button{text}', 10 + i * (bw + 10), 604, bw, 36,
           ctrl_props(cid, cb, '') + [prop('text', 'string', f'{text}   ({key})'),
                                      prop('shortcut', 'string', key)])

# ---- keeping the measured data (in the free right part of the header) -----------------
toggle('record', 70, 'CBF_ToggleRecord', 470, 16, 92, 30, 'Record', False, on_text='\u25cf Recording',
       off_text='Record')
widget('QLineEdit', 'recordRows', 568, 16, 226, 30,
       ctrl_props(71, 'CBF_DispRecord', 'string') + [prop('readOnly', 'bool', True),
                                                     prop('focusPolicy', 'enum', 'Qt::NoFocus'),
                                                     prop('text', 'string', 'Not recording')])
widget('QPushButton', 'buttonExport', 800, 16, 90, 30,
       ctrl_props(72, 'CBF_ButtonExport', '') + [prop('text', 'string', 'Export  (F7)'),
                                                 prop('shortcut', 'string', 'F7')])

style = """
QFrame[deco="true"] { background: #f3f6f9; border: 1px solid #cfd8e0; border-radius: 4px; }
QSpinBox[display="true"] { background: #0f1b26; color: #8ef58e; font: bold 15pt; border-radius: 3px; }
QSpinBox[display="true"]:disabled { color: #4a6a4a; }
QPushButton:checked { background: #0080ff; color: white; font-weight: bold; }
QPushButton#record:checked { background: #c62828; }
"""

doc = f'''<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <class>Varnov30</class>
 <widget class="QWidget" name="Varnov30">
  {geom(0, 0, W, H)}
  {prop('windowTitle', 'string', 'VARNO-Redev V3.0')}
  {prop('resourceId', 'number', 1, False)}
  {prop('callback', 'string', 'CBF_P', False)}
  {prop('styleSheet', 'string', style.strip())}
  {chr(10).join('  ' + w for w in out)}
 </widget>
 <customwidgets>
  <customwidget><class>StripChart</class><extends>QWidget</extends><header>charts.h</header></customwidget>
  <customwidget><class>Graph</class><extends>QWidget</extends><header>charts.h</header></customwidget>
 </customwidgets>
 <resources/>
 <connections/>
</ui>
'''
path = sys.argv[1] if len(sys.argv) > 1 else 'resources/Varnov30.uir'
open(path, 'w', encoding='utf-8').write(doc)
