// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/PrecursorList.h"
#include "support/MzmlWriter.h"
#include "support/TempDirectory.h"

// A precursor list built from an mzML file the test writes itself.
class WrittenDataSetTest : public ::testing::Test {
protected:
    void build(const std::vector<TestScan>& scans) {
        WriteMzml(path(), scans);
        list.SetRawPath(path());
        result = list.CreatePrecursorList();
    }

    CPrecursor at(int index) const { return list.m_Precursors.GetAt(index); }
    std::string path() const { return scratch.File("run.mzML"); }

    support::TempDirectory scratch{"varnex-model"};
    CPrecursorList list;
    bool result = false;
};
