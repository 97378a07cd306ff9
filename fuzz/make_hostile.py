#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes hostile data files: each holds a small sound DDA run (three survey scans, four MS/MS scans on
three set masses) with one kind of attack on the reader built in. The reader must list the sound part
and give up on the rest within bounded memory and time.

  numpress-excess.mzML    Numpress (pic, zlib) arrays decoding to far more values than declared, three
                          arrays a spectrum, several spectra
  zlib-bombs.mzML         zlib arrays that each inflate far beyond the declared length
  huge-spectrum.mzML.gz   gzip file whose one spectrum's text inflates to a huge size
  huge-param-group.mzML   a referenceable param group with a huge number of params
  amplified-refs.mzML     many spectra with hundreds of references to large param groups
  sparse-hole.mzML        not indexed, a large sparse hole inside a <binary> element
  absurd-length.mzML      a spectrum declaring more points than any instrument makes
  garbage-zlib.mzML       a spectrum declaring sixty million points whose zlib arrays are garbage

Deterministic; standard library only. Usage: make_hostile.py OUTDIR [--seeds] [FILE...]
--seeds writes the same shapes a thousand times smaller, as fuzzing seeds; FILEs name the files to
write (default: all)."""
import base64, gzip, os, random, struct, sys, zlib

SEEDS = '--seeds' in sys.argv[2:]
WANTED = [a for a in sys.argv[2:] if a != '--seeds']
SCALE = 1 if not SEEDS else 1000
SET_MASSES = (500.25, 600.5, 700.75)


def cv(accession, name='x', value=None):
    v = '' if value is None else ' value="%s"' % value
    return '<cvParam cvRef="MS" accession="%s" name="%s"%s/>' % (accession, name, v)


def b64(raw):
    return base64.b64encode(raw).decode()


def array(role, params, text):
    role_param = cv('MS:1000514') if role == 'mz' else cv('MS:1000515')
    return '<binaryDataArray encodedLength="%d">%s%s<binary>%s</binary></binaryDataArray>' % (
        len(text), params, role_param, text)


def rt_param(minutes):
    return ('<cvParam cvRef="MS" accession="MS:1000016" name="scan start time" value="%g" unitCvRef="UO" '
            'unitAccession="UO:0000031" unitName="minute"/>' % minutes)


def good_arrays(level):
    masses = [400.0, 500.25, 501.25, 502.25, 600.5, 601.0, 700.75, 701.25] if level == 1 else [150.0, 250.0]
    heights = [1e4, 9e5, 4.5e5, 1.5e5, 8e5, 6e5, 7e5, 3.5e5] if level == 1 else [10.0, 20.0]
    mz = array('mz', cv('MS:1000523') + cv('MS:1000574'), b64(zlib.compress(struct.pack('<%dd' % len(masses), *masses))))
    inten = array('int', cv('MS:1000521') + cv('MS:1000576'), b64(struct.pack('<%df' % len(heights), *heights)))
    return len(masses), mz + inten


def spectrum(index, level, rt_minutes, set_mass=None, arrays=None, header_extra='', declared=None):
    if arrays is None:
        declared_good, arrays = good_arrays(level)
        declared = declared_good if declared is None else declared
    prec = ''
    if level > 1:
        prec = ('<precursorList count="1"><precursor><isolationWindow>%s</isolationWindow><activation>%s'
                '</activation></precursor></precursorList>' % (
                    cv('MS:1000827', value='%.4f' % set_mass), cv('MS:1000422')))
    return ('<spectrum index="%d" id="scan=%d" defaultArrayLength="%d">%s%s%s<scanList count="1"><scan>%s'
            '<scanWindowList count="1"><scanWindow>%s%s</scanWindow></scanWindowList></scan></scanList>%s'
            '<binaryDataArrayList count="2">%s</binaryDataArrayList></spectrum>\n') % (
        index, index + 1, declared, cv('MS:1000511', value=level), cv('MS:1000127'), header_extra,
        rt_param(rt_minutes),
        cv('MS:1000501', value=100), cv('MS:1000500', value=2000), prec, arrays)


def run(bad_survey, preamble='', bad_count=1, extra_ms2=None):
    """The sound run with `bad_survey(index)` (XML text) as the second survey scan, repeated
    `bad_count` times; `extra_ms2(index)` may add MS/MS scans on the second set mass."""
    parts, index = [], 0

    def add(text):
        nonlocal index
        parts.append(text)
        index += 1

    add(spectrum(index, 1, 1.0))
    add(spectrum(index, 2, 1.01, SET_MASSES[0]))
    add(spectrum(index, 2, 1.02, SET_MASSES[0]))
    for _ in range(bad_count):
        add(bad_survey(index))
    add(spectrum(index, 2, 1.05, SET_MASSES[1]))
    for text in (extra_ms2(index) if extra_ms2 else []):
        add(text)
    add(spectrum(index, 1, 1.1))
    add(spectrum(index, 2, 1.11, SET_MASSES[2]))
    head = ('<?xml version="1.0" encoding="utf-8"?>\n<mzML xmlns="http://psi.hupo.org/ms/mzml" version="1.1.0">\n%s'
            '<run id="hostile"><spectrumList count="%d">\n' % (preamble, index))
    return head, parts, '</spectrumList></run></mzML>\n'


def joined(head, parts, tail):
    return (head + ''.join(parts) + tail).encode()


def numpress_excess():
    # Every byte 0x88 is two Numpress integers of value 0: a few KB of zlib make millions of values.
    inflated = (24 << 20) // SCALE
    text = b64(zlib.compress(b'\x88' * inflated, 9))
    pic = cv('MS:1000523') + cv('MS:1002747')
    arrays = array('mz', pic, text) + array('int', pic, text) + array('int', pic, text)
    return joined(*run(lambda i: spectrum(i, 1, 1.04, arrays=arrays, declared=5), bad_count=4))


def zlib_bombs():
    text = b64(zlib.compress(bytes((64 << 20) // SCALE), 9))
    arrays = array('mz', cv('MS:1000523') + cv('MS:1000574'), text) + array('int', cv('MS:1000521') + cv('MS:1000574'), text)
    return joined(*run(lambda i: spectrum(i, 1, 1.04, arrays=arrays, declared=8), bad_count=4))


def huge_spectrum_gz():
    head, parts, tail = run(lambda i: spectrum(i, 1, 1.04, arrays='@HUGE@', declared=8))
    document = head + ''.join(parts) + tail
    before, after = document.split('@HUGE@')
    arrays_head = '<binaryDataArray encodedLength="0">%s%s<binary>' % (cv('MS:1000523') + cv('MS:1000576'), cv('MS:1000514'))
    arrays_tail = '</binary></binaryDataArray>'
    compressor = zlib.compressobj(1, zlib.DEFLATED, 31)  # gzip wrapper
    out = [compressor.compress((before + arrays_head).encode())]
    left = (150 << 20) // SCALE
    chunk = b'A' * min(left, 1 << 20)
    while left > 0:
        out.append(compressor.compress(chunk[:left]))
        left -= len(chunk)
    out.append(compressor.compress((arrays_tail + after).encode()))
    out.append(compressor.flush())
    return b''.join(out)


def huge_param_group():
    count = 500_000 // SCALE
    params = cv('MS:1000504', 'base peak m/z', '1.5') * count
    preamble = ('<referenceableParamGroupList count="1"><referenceableParamGroup id="huge">%s'
                '</referenceableParamGroup></referenceableParamGroupList>\n' % params)
    ref = '<referenceableParamGroupRef ref="huge"/>'
    return joined(*run(lambda i: spectrum(i, 1, 1.04, header_extra=ref), preamble=preamble))


def amplified_refs():
    # Within the param-group ceiling: ten groups of a thousand params, referenced hundreds of times by
    # each of many spectra, in every element that takes params.
    groups = ''.join('<referenceableParamGroup id="g%d">%s</referenceableParamGroup>' % (
        g, (cv('MS:1000504', 'base peak m/z', g) + cv('MS:1000285', 'total ion current', 1000 + g)) * (500 // (1 if not SEEDS else 50)))
        for g in range(10))
    preamble = '<referenceableParamGroupList count="10">%s</referenceableParamGroupList>\n' % groups
    refs = ''.join('<referenceableParamGroupRef ref="g%d"/>' % (k % 10) for k in range(300 // (1 if not SEEDS else 30)))
    spectra = 200 // (1 if not SEEDS else 50)

    def ms2(start):
        return [spectrum(start + k, 2, 1.06 + k * 1e-4, SET_MASSES[1], header_extra=refs) for k in range(spectra)]

    return joined(*run(lambda i: spectrum(i, 1, 1.04), preamble=preamble, extra_ms2=ms2))


def sparse_hole(path):
    head, parts, tail = run(lambda i: spectrum(i, 1, 1.04, arrays='@HOLE@', declared=8))
    document = head + ''.join(parts) + tail
    before, after = document.split('@HOLE@')
    arrays_head = '<binaryDataArray encodedLength="0">%s%s<binary>' % (cv('MS:1000523') + cv('MS:1000576'), cv('MS:1000514'))
    hole = (512 << 20) // SCALE
    with open(path, 'wb') as f:
        f.write((before + arrays_head).encode())
        if SEEDS:
            f.write(bytes(hole))
        else:
            f.seek(hole, os.SEEK_CUR)  # a hole: no disk blocks, reads as zeros
        f.write(('</binary></binaryDataArray>' + after).encode())


def absurd_length():
    return joined(*run(lambda i: spectrum(i, 1, 1.04, declared=4_000_000_000)))


def garbage_zlib():
    rng = random.Random(1)
    garbage = b'\x78\x9c' + bytes(rng.getrandbits(8) for _ in range(400_000 // SCALE))
    text = b64(garbage)
    arrays = array('mz', cv('MS:1000523') + cv('MS:1000574'), text) + array('int', cv('MS:1000521') + cv('MS:1000574'), text)
    return joined(*run(lambda i: spectrum(i, 1, 1.04, arrays=arrays, declared=60_000_000)))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    files = {
        'numpress-excess.mzML': numpress_excess,
        'zlib-bombs.mzML': zlib_bombs,
        'huge-spectrum.mzML.gz': huge_spectrum_gz,
        'huge-param-group.mzML': huge_param_group,
        'amplified-refs.mzML': amplified_refs,
        'absurd-length.mzML': absurd_length,
        'garbage-zlib.mzML': garbage_zlib,
        'sparse-hole.mzML': None,
    }
    for name in WANTED or files:
        path = os.path.join(out, name)
        if name == 'sparse-hole.mzML':
            sparse_hole(path)
            continue
        with open(path, 'wb') as f:
            f.write(files[name]())


if __name__ == '__main__':
    main()
