// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Writes a gzip-compressed DDA data set of `spectra` spectra that is mostly MS/MS: one survey scan with a
// small doubly charged isotope envelope, then ten MS/MS scans on ten different set masses, one second per
// cycle, every spectrum with its total ion current. Every MS/MS scan opens a run of its own, so the list has
// about 0.9 precursors per spectrum, while the file stays small (2M spectra: about 40 MB). False when the
// file cannot be written.
bool WriteManySpectraDataSet(const std::string& path, long long spectra);
