// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/Precursor.h"

CPrecursor::~CPrecursor() = default;
