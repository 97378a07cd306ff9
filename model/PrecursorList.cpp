// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/PrecursorList.h"

// Members go in reverse order of declaration: the reader first, the records last.
CPrecursorList::~CPrecursorList() = default;
