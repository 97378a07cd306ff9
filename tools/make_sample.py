#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes Varnex's bundled sample data set and its ground truth.

    python3 tools/make_sample.py [--out data/sample.mzML] [--truth data/sample.truth.tsv]

The output is deterministic (fixed seed, no time stamps): running it again gives the same bytes.

The data set is a short simulated data-dependent LC-MS/MS run in the function-numbered layout
(native ids `function=F process=0 scan=N`): function 1 holds the centroid survey scans, functions 2-4
the MS/MS scans. Each survey scan is followed by the MS/MS scans of up to TOP_N precursors chosen
top-N with dynamic exclusion; MS/MS slot k goes to function 2 + (k mod 3) and each precursor gets
2-3 consecutive MS/MS scans on one set mass (one run). Survey peaks are peptide isotope envelopes
(averagine pattern, charge 1-4) eluting with Gaussian profiles, some co-eluting with a close
neighbour so that envelopes overlap, on top of thresholded noise. The set mass is the m/z of the
selected survey peak: usually the monoisotopic one, sometimes the most intense isotope.

Standard library only.
"""
import argparse
import base64
import hashlib
import math
import random
import struct
import zlib

SEED = 20240517
PROTON = 1.007276
# Mean spacing of peptide isotope peaks (Da): the first step, and every later one.
FIRST_ISOTOPE_STEP = 1.00286
LATER_ISOTOPE_STEP = 1.00225

RUN_SECONDS = 84.0
TOP_N = 3
EXCLUSION_SECONDS = 20.0
SELECTION_THRESHOLD = 4.0e4       # least height of a selectable survey peak
SURVEY_SECONDS = 0.30             # acquisition time of a survey scan
MSMS_SECONDS = 0.12               # acquisition time of an MS/MS scan
SURVEY_LOW_MZ, SURVEY_HIGH_MZ = 350.0, 1800.0
CENTROID_FLOOR = 800.0            # vendor centroiding drops peaks below this height
NOISE_PEAKS = 350
MSMS_FUNCTIONS = (
    # (function, activation name, accession, collision energy eV, scan range)
    (2, 'beam-type collision-induced dissociation', 'MS:1000422', 28.0, (100.0, 2000.0)),
    (3, 'collision-induced dissociation', 'MS:1000133', 35.0, (100.0, 2000.0)),
    (4, 'beam-type collision-induced dissociation', 'MS:1000422', 35.0, (150.0, 2000.0)),
)


# ----------------------------------------------------------------------------- chemistry

def averagine_pattern(neutral_mass, count=8):
    """Relative isotope abundances (tallest = 1) from the two-term Poisson approximation of averagine:
    one-neutron isotopes (13C, 15N, 2H, 17O) and two-neutron ones (18O, 34S)."""
    lam1 = neutral_mass * 5.4169e-4
    lam2 = neutral_mass * 4.4137e-5

    def pois(k, lam):
        return math.exp(-lam) * lam ** k / math.factorial(k) if k >= 0 else 0.0

    p = [sum(pois(k - 2 * j, lam1) * pois(j, lam2) for j in range(k // 2 + 1)) for k in range(count)]
    top = max(p)
    return [x / top for x in p]


def isotope_offset(i):
    return 0.0 if i == 0 else FIRST_ISOTOPE_STEP + (i - 1) * LATER_ISOTOPE_STEP


class Peptide:
    """One eluting isotope envelope."""

    def __init__(self, rng, apex_s, charge, neutral_mass, height):
        self.apex_s = apex_s
        self.sigma_s = rng.uniform(3.0, 7.0)
        self.charge = charge
        self.neutral_mass = neutral_mass
        self.mono_mz = neutral_mass / charge + PROTON
        self.height = height                      # apex height of the tallest isotope
        self.pattern = averagine_pattern(neutral_mass)

    def height_at(self, t_s):
        d = (t_s - self.apex_s) / self.sigma_s
        return self.height * math.exp(-0.5 * d * d) if abs(d) < 4.0 else 0.0

    def isotope_mz(self, i):
        return self.mono_mz + isotope_offset(i) / self.charge


def random_peptide(rng, apex_s, charge=None, near_mz=None):
    for _ in range(1000):
        z = charge or rng.choices((1, 2, 3, 4), weights=(12, 48, 30, 10))[0]
        if near_mz is None:
            mass = rng.uniform(600.0, 4400.0)
        else:
            mass = (near_mz - PROTON) * z
        if 600.0 <= mass <= 5200.0 and SURVEY_LOW_MZ + 10 < mass / z + PROTON < SURVEY_HIGH_MZ - 10:
            break
    else:
        z, mass = 2, 1500.0
    return Peptide(rng, apex_s, z, mass, 10 ** rng.uniform(4.6, 7.8))


def make_peptides(rng):
    peptides = []
    for _ in range(int(RUN_SECONDS * 4.0)):
        p = random_peptide(rng, rng.uniform(-5.0, RUN_SECONDS + 5.0))
        peptides.append(p)
        if rng.random() < 0.25:
            # a co-eluting neighbour whose envelope overlaps this one's
            near = p.mono_mz + rng.uniform(-1.6, 2.4)
            q = random_peptide(rng, p.apex_s + rng.uniform(-3.0, 3.0), near_mz=near)
            q.height = p.height * 10 ** rng.uniform(-1.2, 0.3)
            peptides.append(q)
    return peptides


# ----------------------------------------------------------------------------- acquisition

class SurveyScan:
    def __init__(self, number, t_s, peaks):
        self.number = number        # 1-based within function 1
        self.t_s = t_s
        self.peaks = peaks          # sorted [(mz, height, peptide index or -1, isotope)]


def survey_peaks(rng, peptides, t_s):
    peaks = []
    for index, p in enumerate(peptides):
        h = p.height_at(t_s)
        if h < CENTROID_FLOOR:
            continue
        for i, rel in enumerate(p.pattern):
            height = h * rel * rng.uniform(0.92, 1.08)
            if height < CENTROID_FLOOR:
                continue
            mz = p.isotope_mz(i) * (1.0 + rng.gauss(0.0, 2.0e-6))
            peaks.append((mz, height, index, i))
    for _ in range(NOISE_PEAKS):
        peaks.append((rng.uniform(SURVEY_LOW_MZ, SURVEY_HIGH_MZ), 10 ** rng.uniform(2.95, 4.3), -1, -1))
    peaks.sort()
    return merge_unresolved(peaks)


def merge_unresolved(peaks):
    """Peaks closer than the resolution (R ~ 60,000) centroid into one at their weighted centre; the
    taller one keeps its identity."""
    merged = []
    for mz, h, idx, iso in peaks:
        if merged and mz - merged[-1][0] < merged[-1][0] / 60000.0:
            pmz, ph, pidx, piso = merged[-1]
            total = ph + h
            keep = (pidx, piso) if ph >= h else (idx, iso)
            merged[-1] = ((pmz * ph + mz * h) / total, total, keep[0], keep[1])
        else:
            merged.append((mz, h, idx, iso))
    return merged


def choose_precursors(rng, peptides, scan, excluded_until):
    """Top-N of the peptides visible in this scan, one selected peak each."""
    by_peptide = {}
    for k, (mz, h, idx, iso) in enumerate(scan.peaks):
        if idx >= 0:
            by_peptide.setdefault(idx, []).append((iso, k))
    candidates = []
    for idx, isos in by_peptide.items():
        if excluded_until.get(idx, -1.0) > scan.t_s:
            continue
        tallest = max(isos, key=lambda e: scan.peaks[e[1]][1])
        if scan.peaks[tallest[1]][1] >= SELECTION_THRESHOLD:
            candidates.append((scan.peaks[tallest[1]][1], idx, dict(isos), tallest[0]))
    candidates.sort(reverse=True)
    picks = []
    for _, idx, isos, tallest_iso in candidates[:TOP_N]:
        excluded_until[idx] = scan.t_s + EXCLUSION_SECONDS
        # Monoisotopic selection most of the time; otherwise the tallest isotope, as instruments
        # without monoisotopic precursor selection do.
        iso = 0 if (0 in isos and rng.random() < 0.8) else tallest_iso
        picks.append((idx, iso, isos[iso]))
    return picks


def msms_peaks(rng, precursor_mz, charge):
    top = min(2000.0, precursor_mz * charge + 50.0)
    n = rng.randint(25, 45)
    mzs = sorted(rng.uniform(100.0, top) for _ in range(n))
    return mzs, [10 ** rng.uniform(2.0, 5.0) for _ in range(n)]


def envelope_overlaps(scan, peptide_index, peptide):
    """Whether another envelope or noise peak of at least 5 % of this envelope's tallest observed
    peak lies within its span (one spacing left of the monoisotopic peak to the last isotope)."""
    own = [h for _, h, idx, _ in scan.peaks if idx == peptide_index]
    if not own:
        return False
    limit = 0.05 * max(own)
    lo = peptide.mono_mz - 1.1 / peptide.charge
    last = max(i for i, rel in enumerate(peptide.pattern) if rel >= 0.05)
    hi = peptide.isotope_mz(last) + 0.5 / peptide.charge
    return any(lo <= mz <= hi and h >= limit and idx != peptide_index for mz, h, idx, _ in scan.peaks)


def simulate(rng):
    peptides = make_peptides(rng)
    excluded_until = {}
    events = []        # ('survey', SurveyScan) or ('msms', dict)
    counters = {f[0]: 0 for f in MSMS_FUNCTIONS}
    t_s = 0.0          # the first survey scan starts the run at 0.0, as real files often do
    survey_number = 0
    while t_s <= RUN_SECONDS:
        survey_number += 1
        scan = SurveyScan(survey_number, t_s, survey_peaks(rng, peptides, t_s))
        events.append(('survey', scan))
        t = t_s + SURVEY_SECONDS
        for slot, (idx, iso, peak_index) in enumerate(choose_precursors(rng, peptides, scan, excluded_until)):
            function = MSMS_FUNCTIONS[slot % len(MSMS_FUNCTIONS)][0]
            peak_mz, peak_height = scan.peaks[peak_index][0], scan.peaks[peak_index][1]
            set_mass = round(peak_mz, 5)
            p = peptides[idx]
            reported = p.charge if rng.random() > 0.05 else 0
            repeats = rng.randint(2, 3)
            run = dict(function=function, first=counters[function] + 1, last=counters[function] + repeats,
                       set_mass=set_mass, charge=p.charge, reported=reported, survey=scan, first_t=t,
                       mono_mz=p.mono_mz, isotope=iso, peak_height=peak_height,
                       mass=p.neutral_mass, overlap=envelope_overlaps(scan, idx, p))
            counters[function] += repeats
            for r in range(repeats):
                mzs, ints = msms_peaks(rng, set_mass, p.charge)
                events.append(('msms', dict(run=run, t_s=t, scan=run['first'] + r, mzs=mzs, ints=ints)))
                t += MSMS_SECONDS
        t_s = t + 0.02
    return events


# ----------------------------------------------------------------------------- mzML

def b64_array(values, code):
    return base64.b64encode(zlib.compress(struct.pack('<%d%s' % (len(values), code), *values), 9)).decode()


def cv(accession, name, value='', unit=None):
    units = {'mz': ('MS', 'MS:1000040', 'm/z'), 'counts': ('MS', 'MS:1000131', 'number of detector counts'),
             'min': ('UO', 'UO:0000031', 'minute'), 'ms': ('UO', 'UO:0000028', 'millisecond'),
             'ev': ('UO', 'UO:0000266', 'electronvolt')}
    text = '<cvParam cvRef="MS" accession="%s" name="%s" value="%s"' % (accession, name, value)
    if unit:
        ref, acc, uname = units[unit]
        text += ' unitCvRef="%s" unitAccession="%s" unitName="%s"' % (ref, acc, uname)
    return text + '/>'


def num(x):
    return repr(float(x))


def binary_arrays(mzs, ints, pad):
    out = ['%s<binaryDataArrayList count="2">' % pad]
    for values, code, kind, unit in ((mzs, 'd', ('MS:1000514', 'm/z array'), 'mz'),
                                     (ints, 'f', ('MS:1000515', 'intensity array'), 'counts')):
        data = b64_array(values, code)
        width = ('MS:1000523', '64-bit float') if code == 'd' else ('MS:1000521', '32-bit float')
        out += ['%s  <binaryDataArray encodedLength="%d">' % (pad, len(data)),
                '%s    %s' % (pad, cv(*width)),
                '%s    %s' % (pad, cv('MS:1000574', 'zlib compression')),
                '%s    %s' % (pad, cv(kind[0], kind[1], unit=unit)),
                '%s    <binary>%s</binary>' % (pad, data),
                '%s  </binaryDataArray>' % pad]
    out.append('%s</binaryDataArrayList>' % pad)
    return out


def spectrum_element(index, native_id, level, t_s, mzs, ints, window, precursor=None):
    pad = ' ' * 8
    if mzs:
        base = max(range(len(mzs)), key=ints.__getitem__)
        stats = [cv('MS:1000504', 'base peak m/z', num(mzs[base]), 'mz'),
                 cv('MS:1000505', 'base peak intensity', num(ints[base]), 'counts'),
                 cv('MS:1000285', 'total ion current', num(sum(ints))),
                 cv('MS:1000528', 'lowest observed m/z', num(mzs[0]), 'mz'),
                 cv('MS:1000527', 'highest observed m/z', num(mzs[-1]), 'mz')]
    else:
        stats = []
    lines = ['      <spectrum index="%d" id="%s" defaultArrayLength="%d">' % (index, native_id, len(mzs)),
             pad + (cv('MS:1000579', 'MS1 spectrum') if level == 1 else cv('MS:1000580', 'MSn spectrum')),
             pad + cv('MS:1000511', 'ms level', str(level)),
             pad + cv('MS:1000130', 'positive scan'),
             pad + cv('MS:1000127', 'centroid spectrum')]
    lines += [pad + s for s in stats]
    lines += [pad + '<scanList count="1">',
              pad + '  ' + cv('MS:1000795', 'no combination'),
              pad + '  <scan>',
              pad + '    ' + cv('MS:1000016', 'scan start time', num(round(t_s / 60.0, 7)), 'min'),
              pad + '    ' + cv('MS:1000927', 'ion injection time', '25.0' if level == 1 else '60.0', 'ms'),
              pad + '    <scanWindowList count="1">',
              pad + '      <scanWindow>',
              pad + '        ' + cv('MS:1000501', 'scan window lower limit', num(window[0]), 'mz'),
              pad + '        ' + cv('MS:1000500', 'scan window upper limit', num(window[1]), 'mz'),
              pad + '      </scanWindow>',
              pad + '    </scanWindowList>',
              pad + '  </scan>',
              pad + '</scanList>']
    if precursor:
        ref, target, charge, height, activation = precursor
        lines += [pad + '<precursorList count="1">',
                  pad + '  <precursor spectrumRef="%s">' % ref,
                  pad + '    <isolationWindow>',
                  pad + '      ' + cv('MS:1000827', 'isolation window target m/z', num(target), 'mz'),
                  pad + '      ' + cv('MS:1000828', 'isolation window lower offset', '1.0', 'mz'),
                  pad + '      ' + cv('MS:1000829', 'isolation window upper offset', '1.0', 'mz'),
                  pad + '    </isolationWindow>',
                  pad + '    <selectedIonList count="1">',
                  pad + '      <selectedIon>',
                  pad + '        ' + cv('MS:1000744', 'selected ion m/z', num(target), 'mz')]
        if charge:
            lines.append(pad + '        ' + cv('MS:1000041', 'charge state', str(charge)))
        lines += [pad + '        ' + cv('MS:1000042', 'peak intensity', num(round(height, 1)), 'counts'),
                  pad + '      </selectedIon>',
                  pad + '    </selectedIonList>',
                  pad + '    <activation>',
                  pad + '      ' + cv(activation[1], activation[0]),
                  pad + '      ' + cv('MS:1000045', 'collision energy', num(activation[2]), 'ev'),
                  pad + '    </activation>',
                  pad + '  </precursor>',
                  pad + '</precursorList>']
    lines += binary_arrays(mzs, ints, pad)
    lines.append('      </spectrum>')
    return '\n'.join(lines) + '\n'


HEADER = '''<?xml version="1.0" encoding="utf-8"?>
<indexedmzML xmlns="http://psi.hupo.org/ms/mzml" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:schemaLocation="http://psi.hupo.org/ms/mzml http://psidev.info/files/ms/mzML/xsd/mzML1.1.2_idx.xsd">
  <mzML xmlns="http://psi.hupo.org/ms/mzml" id="varnex_sample" version="1.1.0">
    <cvList count="2">
      <cv id="MS" fullName="Proteomics Standards Initiative Mass Spectrometry Ontology" version="4.1.30" URI="https://raw.githubusercontent.com/HUPO-PSI/psi-ms-CV/master/psi-ms.obo"/>
      <cv id="UO" fullName="Unit Ontology" version="09:04:2014" URI="https://raw.githubusercontent.com/bio-ontology-research-group/unit-ontology/master/unit.obo"/>
    </cvList>
    <fileDescription>
      <fileContent>
        <cvParam cvRef="MS" accession="MS:1000579" name="MS1 spectrum" value=""/>
        <cvParam cvRef="MS" accession="MS:1000580" name="MSn spectrum" value=""/>
      </fileContent>
    </fileDescription>
    <softwareList count="1">
      <software id="make_sample" version="1.0">
        <cvParam cvRef="MS" accession="MS:1000799" name="custom unreleased software tool" value="Varnex make_sample.py"/>
      </software>
    </softwareList>
    <instrumentConfigurationList count="1">
      <instrumentConfiguration id="IC1">
        <cvParam cvRef="MS" accession="MS:1000031" name="instrument model" value=""/>
        <componentList count="3">
          <source order="1">
            <cvParam cvRef="MS" accession="MS:1000073" name="electrospray ionization" value=""/>
          </source>
          <analyzer order="2">
            <cvParam cvRef="MS" accession="MS:1000484" name="orbitrap" value=""/>
          </analyzer>
          <detector order="3">
            <cvParam cvRef="MS" accession="MS:1000624" name="inductive detector" value=""/>
          </detector>
        </componentList>
      </instrumentConfiguration>
    </instrumentConfigurationList>
    <dataProcessingList count="1">
      <dataProcessing id="simulation">
        <processingMethod order="0" softwareRef="make_sample">
          <cvParam cvRef="MS" accession="MS:1000035" name="peak picking" value=""/>
        </processingMethod>
      </dataProcessing>
    </dataProcessingList>
    <run id="varnex_sample" defaultInstrumentConfigurationRef="IC1" startTimeStamp="2024-05-17T09:00:00Z">
      <spectrumList count="%d" defaultDataProcessingRef="simulation">
'''


class HashingWriter:
    """Writes bytes while keeping the byte offset and the SHA-1 of everything written."""

    def __init__(self, path):
        self.file = open(path, 'wb')
        self.offset = 0
        self.sha1 = hashlib.sha1()

    def write(self, text):
        data = text.encode('utf-8')
        self.file.write(data)
        self.sha1.update(data)
        self.offset += len(data)

    def write_element(self, text):
        """Writes an element that starts after its indentation; returns the offset of its '<'."""
        at = self.offset + len(text) - len(text.lstrip(' '))
        self.write(text)
        return at


def write_mzml(path, events):
    out = HashingWriter(path)
    out.write(HEADER.replace('%d', str(len(events))))
    offsets = []
    tic_minutes, tic = [], []
    activations = {f[0]: (f[1], f[2], f[3]) for f in MSMS_FUNCTIONS}
    windows = {f[0]: f[4] for f in MSMS_FUNCTIONS}
    for index, (kind, item) in enumerate(events):
        if kind == 'survey':
            native_id = 'function=1 process=0 scan=%d' % item.number
            mzs = [p[0] for p in item.peaks]
            ints = [p[1] for p in item.peaks]
            tic_minutes.append(round(item.t_s / 60.0, 7))
            tic.append(sum(ints))
            text = spectrum_element(index, native_id, 1, item.t_s, mzs, ints, (SURVEY_LOW_MZ, SURVEY_HIGH_MZ))
        else:
            run = item['run']
            native_id = 'function=%d process=0 scan=%d' % (run['function'], item['scan'])
            survey_id = 'function=1 process=0 scan=%d' % run['survey'].number
            precursor = (survey_id, run['set_mass'], run['reported'], run['peak_height'],
                         activations[run['function']])
            text = spectrum_element(index, native_id, 2, item['t_s'], item['mzs'], item['ints'],
                                    windows[run['function']], precursor)
        offsets.append((native_id, out.write_element(text)))
    out.write('      </spectrumList>\n      <chromatogramList count="1" defaultDataProcessingRef="simulation">\n')
    tic_text = '\n'.join(['        <chromatogram index="0" id="TIC" defaultArrayLength="%d">' % len(tic),
                          '          ' + cv('MS:1000235', 'total ion current chromatogram')] +
                         binary_arrays(tic_minutes, tic, ' ' * 10) + ['        </chromatogram>']) + '\n'
    tic_text = tic_text.replace(cv('MS:1000514', 'm/z array', unit='mz'),
                                cv('MS:1000595', 'time array', unit='min'))
    tic_offset = out.write_element(tic_text)
    out.write('      </chromatogramList>\n    </run>\n  </mzML>\n  ')
    index_offset = out.offset
    out.write('<indexList count="2">\n    <index name="spectrum">\n')
    out.write(''.join('      <offset idRef="%s">%d</offset>\n' % entry for entry in offsets))
    out.write('    </index>\n    <index name="chromatogram">\n      <offset idRef="TIC">%d</offset>\n'
              '    </index>\n  </indexList>\n' % tic_offset)
    # The checksum covers the file from its first byte up to and including the opening tag.
    out.write('  <indexListOffset>%d</indexListOffset>\n  <fileChecksum>' % index_offset)
    out.write('%s</fileChecksum>\n</indexedmzML>\n' % out.sha1.hexdigest())
    out.file.close()
    return out.offset


TRUTH_COLUMNS = ('function', 'first_scan', 'last_scan', 'set_mass', 'true_charge', 'survey_scan',
                 'survey_rt_min', 'first_rt_min', 'reported_charge', 'mono_mz', 'selected_isotope',
                 'selected_height', 'neutral_mass', 'overlap')


def write_truth(path, events):
    runs = []
    for kind, item in events:
        if kind == 'msms' and item['scan'] == item['run']['first']:
            runs.append(item['run'])
    # The order the precursor list is built in: by function, then by first scan.
    runs.sort(key=lambda r: (r['function'], r['first']))
    with open(path, 'w', newline='\n') as f:
        f.write('\t'.join(TRUTH_COLUMNS) + '\n')
        for r in runs:
            f.write('%d\t%d\t%d\t%.5f\t%d\t%d\t%.7f\t%.7f\t%d\t%.5f\t%d\t%.1f\t%.4f\t%d\n' % (
                r['function'], r['first'], r['last'], r['set_mass'], r['charge'], r['survey'].number,
                round(r['survey'].t_s / 60.0, 7), round(r['first_t'] / 60.0, 7), r['reported'],
                r['mono_mz'], r['isotope'], r['peak_height'], r['mass'], 1 if r['overlap'] else 0))
    return runs


def check_runs_are_distinct(events):
    """Two runs back to back in one function must differ in set mass, or they would read as one."""
    last = {}
    for kind, item in events:
        if kind == 'msms' and item['scan'] == item['run']['first']:
            run = item['run']
            if last.get(run['function']) == run['set_mass']:
                raise SystemExit('two consecutive runs share a set mass; change SEED')
            last[run['function']] = run['set_mass']


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--out', default='data/sample.mzML')
    ap.add_argument('--truth', default='data/sample.truth.tsv')
    args = ap.parse_args()
    rng = random.Random(SEED)
    events = simulate(rng)
    check_runs_are_distinct(events)
    size = write_mzml(args.out, events)
    runs = write_truth(args.truth, events)
    surveys = sum(1 for kind, _ in events if kind == 'survey')
    print('%s: %d spectra (%d survey, %d MS/MS), %d precursor runs, %.2f MB' % (
        args.out, len(events), surveys, len(events) - surveys, len(runs), size / 1e6))


if __name__ == '__main__':
    main()
