#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the fuzz target's seed corpus: tiny mzML (indexed and not, zlib and plain arrays, param
groups, gzip) and mzXML (indexed, nested scans) files. Deterministic; standard library only.
Usage: make_seeds.py OUTDIR"""
import base64, gzip, os, struct, sys, zlib

def b64(values, fmt, compress=False, big=False):
    raw = struct.pack(('>' if big else '<') + fmt * len(values), *values)
    return base64.b64encode(zlib.compress(raw) if compress else raw).decode()

def spectrum(i, sid, level, rt, mz, inten, compress):
    mzp = '<cvParam cvRef="MS" accession="MS:1000523" name="64-bit float"/>' + (
        '<cvParam cvRef="MS" accession="MS:1000574" name="zlib compression"/>' if compress else
        '<referenceableParamGroupRef ref="plain"/>')
    prec = ''
    if level > 1:
        prec = ('<precursorList count="1"><precursor><isolationWindow><cvParam cvRef="MS" accession="MS:1000827" '
                'name="isolation window target m/z" value="%.4f"/></isolationWindow><selectedIonList count="1">'
                '<selectedIon><cvParam cvRef="MS" accession="MS:1000744" name="selected ion m/z" value="%.4f"/>'
                '<cvParam cvRef="MS" accession="MS:1000041" name="charge state" value="2"/></selectedIon>'
                '</selectedIonList><activation><cvParam cvRef="MS" accession="MS:1000422" name="HCD"/>'
                '</activation></precursor></precursorList>' % (mz[1], mz[1]))
    return ('<spectrum index="%d" id="%s" defaultArrayLength="%d">'
            '<cvParam cvRef="MS" accession="MS:1000511" name="ms level" value="%d"/>'
            '<cvParam cvRef="MS" accession="MS:1000127" name="centroid spectrum"/>'
            '<cvParam cvRef="MS" accession="MS:1000130" name="positive scan"/>'
            '<cvParam cvRef="MS" accession="MS:1000285" name="total ion current" value="%g"/>'
            '<scanList count="1"><scan><cvParam cvRef="MS" accession="MS:1000016" name="scan start time" value="%g" '
            'unitCvRef="UO" unitAccession="UO:0000010" unitName="second"/><scanWindowList count="1"><scanWindow>'
            '<cvParam cvRef="MS" accession="MS:1000501" name="scan window lower limit" value="100"/>'
            '<cvParam cvRef="MS" accession="MS:1000500" name="scan window upper limit" value="2000"/>'
            '</scanWindow></scanWindowList></scan></scanList>%s'
            '<binaryDataArrayList count="2"><binaryDataArray encodedLength="0">%s'
            '<cvParam cvRef="MS" accession="MS:1000514" name="m/z array"/><binary>%s</binary></binaryDataArray>'
            '<binaryDataArray encodedLength="0"><cvParam cvRef="MS" accession="MS:1000521" name="32-bit float"/>'
            '<cvParam cvRef="MS" accession="MS:1000576" name="no compression"/>'
            '<cvParam cvRef="MS" accession="MS:1000515" name="intensity array"/><binary>%s</binary>'
            '</binaryDataArray></binaryDataArrayList></spectrum>\n') % (
        i, sid, len(mz), level, sum(inten), rt, prec, mzp, b64(mz, 'd', compress), b64(inten, 'f'))

def mzml(ids, indexed):
    head = ('<?xml version="1.0" encoding="utf-8"?>\n<indexedmzML>\n' if indexed else '<?xml version="1.0"?>\n') + (
        '<mzML version="1.1.0"><referenceableParamGroupList count="1"><referenceableParamGroup id="plain">'
        '<cvParam cvRef="MS" accession="MS:1000576" name="no compression"/></referenceableParamGroup>'
        '</referenceableParamGroupList><run id="r"><spectrumList count="%d">\n' % len(ids))
    body, offsets = '', []
    for i, sid in enumerate(ids):
        offsets.append((sid, len(head) + len(body)))
        level = 1 if i % 3 == 0 else 2
        body += spectrum(i, sid, level, 1.5 * i, [100.0 + i, 200.5 + i, 300.25], [10.0, 20.0, 30.0], i % 2 == 0)
    doc = head + body + '</spectrumList></run></mzML>\n'
    if not indexed:
        return doc.encode()
    index_at = len(doc)
    doc += '<indexList count="1"><index name="spectrum">'
    doc += ''.join('<offset idRef="%s">%d</offset>' % o for o in offsets)
    doc += '</index></indexList>\n<indexListOffset>%d</indexListOffset>\n</indexedmzML>\n' % index_at
    return doc.encode()

def mzxml():
    def peaks(pairs):
        flat = [v for p in pairs for v in p]
        return b64(flat, 'f', True, True)
    head = '<?xml version="1.0"?>\n<mzXML><msRun scanCount="3"><dataProcessing centroided="1"/>\n'
    scans, offsets = '', []
    offsets.append(('1', len(head)))
    scans += ('<scan num="1" msLevel="1" peaksCount="2" polarity="+" retentionTime="PT1.5S" startMz="100" endMz="2000">'
              '<peaks precision="32" byteOrder="network" pairOrder="m/z-int" compressionType="zlib">%s</peaks>\n'
              % peaks([(150.0, 5.0), (250.0, 6.0)]))
    offsets.append(('2', len(head) + len(scans)))
    scans += ('<scan num="2" msLevel="2" peaksCount="1" polarity="+" retentionTime="PT1M2S">'
              '<precursorMz precursorCharge="2" activationMethod="CID">250.0</precursorMz>'
              '<peaks precision="32" byteOrder="network" pairOrder="m/z-int">%s</peaks></scan></scan>\n'
              % b64([120.0, 7.0], 'f', False, True))
    doc = head + scans + '</msRun>\n'
    index_at = len(doc)
    doc += '<index name="scan">' + ''.join('<offset id="%s">%d</offset>' % o for o in offsets) + '</index>\n'
    doc += '<indexOffset>%d</indexOffset>\n</mzXML>\n' % index_at
    return doc.encode()

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
function_ids = ['function=%d process=0 scan=%d' % (1 if i % 3 == 0 else 2, i + 1) for i in range(6)]
seeds = {
    'indexed.mzML': mzml(function_ids, True),
    'plain.mzML': mzml(['scan=%d' % (i + 1) for i in range(4)], False),
    'indexed.mzXML': mzxml(),
}
seeds['compressed.mzML.gz'] = gzip.compress(seeds['plain.mzML'], mtime=0)
for name, data in seeds.items():
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)
