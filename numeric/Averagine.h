// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Isotope patterns of peptides from the averagine model (C4.9384 H7.7583 N1.3577 O1.4773 S0.0417).

namespace varnex::numeric {

// Mean m/z distance, times the charge, between isotope peak `index` of a peptide envelope and its
// monoisotopic peak. The first step is wider than the later ones: it is mostly 13C, while two-neutron
// isotopes mix in 18O and 34S. Negative indices mirror the first step.
double IsotopeOffset(int index);

// Relative abundances of isotopes 0 .. count-1 of a peptide of `neutralMass` Da, scaled so the tallest
// is 1. Two Poisson terms (one- and two-neutron isotopes) approximate the exact distribution to a
// cosine of 0.9996 over 400-8000 Da. Returns the index of the tallest isotope.
int AveraginePattern(double neutralMass, double* abundances, int count);

// Number of isotopes TabulatedAveragine gives.
constexpr int kTabulatedIsotopes = 16;

// Number of masses tabulated: every 10 Da from 0 to 40,960 Da.
constexpr int kTabulatedMasses = 4097;

// AveraginePattern of the nearest tabulated mass (every 10 Da up to 40,960 Da, above that the last):
// kTabulatedIsotopes abundances, tallest 1. The table is built on first use.
const float* TabulatedAveragine(double neutralMass);
// The same in two steps, for callers that keep something of their own per tabulated mass: the index
// (0 .. kTabulatedMasses - 1) of the mass TabulatedAveragine takes, and the pattern of an index.
int TabulatedAveragineIndex(double neutralMass);
const float* TabulatedAveragineAt(int index);

} // namespace varnex::numeric
