// SPDX-License-Identifier: GPL-3.0-or-later
// list_bench: the precursor list window on 100,000 precursors. Measures FillRows (every row formatted
// and handed to the list view, which then shows them), 50 successive window resizes (each a full layout
// and refill) and the heap the list's rows occupy; then, on a run's worth of 34,000 precursors, a filter
// applied and lifted (the list filtered and its rows refilled), and what opening another data set from
// the window costs beyond a start on it: the copy of the list it keeps until the new one has
// precursors. Runs offscreen with a private settings store.
//
// Usage: list_bench [precursor-count]   (default 100000)
// Targets: FillRows <= 100 ms, 50 resizes <= 2 s, list memory <= 50 MB, filter <= 50 ms.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>

#include "settings/DecimalPlaces.h"
#include "ui/PrecursorFilter.h"
#include "ui/VarnexDlg.h"

using varnex::ui::FilterPrecursors;
using varnex::ui::PrecursorFilter;

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

void AddPrecursors(CPrecursorList& list, int count) {
    const std::vector<std::string> functions = {"FTMS + p NSI d Full ms2 HCD", "ITMS + c NSI d Full ms2 CID",
                                                "TOF MSMS 50.0-2000.0 ES+", "MS/MS function 5"};
    for (int i = 0; i < count; ++i) {
        CPrecursor precursor;
        precursor.m_fSwitchingTime = 0.5f + 60.0f * static_cast<float>(i) / static_cast<float>(count);
        precursor.m_nSurveyScan = 1 + i / 10;
        precursor.m_fSetMass = 350.0f + static_cast<float>((i * 7919) % 150000) / 100.0f;
        precursor.m_nFunction = 2 + i % 4;
        precursor.m_strFunctionName = functions[static_cast<std::size_t>(i % 4)];
        precursor.m_nFirstScan = 1 + i;
        precursor.m_nLastScan = 2 + i;
        precursor.m_fRetentionTime = precursor.m_fSwitchingTime + 0.01f;
        precursor.m_nChargeState = 1 + i % 4;
        precursor.m_fIntensity = 1000.0f + static_cast<float>((i * 104729) % 1000000);
        list.m_Precursors.Add(precursor);
    }
}

void Settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
    }
}

constexpr int kFilterPrecursors = 34000;
constexpr int kFilterRounds = 5;

// The slower of applying a filter (a set-mass window and two charge states, about a fifth of the rows
// pass) and lifting it again, median over the rounds.
double MeasureFilterMs() {
    CVarnexDlg dialog;
    AddPrecursors(dialog.m_precursorList, kFilterPrecursors);
    PrecursorFilter filter;
    filter.minSetMass = 500.0f;
    filter.maxSetMass = 1100.0f;
    filter.chargeStates = std::set<int>{2, 3};
    std::vector<double> times;
    QTimer::singleShot(0, &dialog, [&] {
        Settle();
        for (int i = 0; i < kFilterRounds; ++i) {
            auto start = Clock::now();
            dialog.SetFilter(filter);
            Settle();
            const double applyMs = MillisecondsSince(start);
            start = Clock::now();
            dialog.SetFilter(PrecursorFilter{});
            Settle();
            times.push_back(std::max(applyMs, MillisecondsSince(start)));
        }
        dialog.EndDialog(IDOK);
    });
    dialog.DoModal();
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    char storeTemplate[] = "/tmp/varnex-list-bench-XXXXXX";
    const int storeFd = mkstemp(storeTemplate);
    if (storeFd < 0) {
        return 1;
    }
    close(storeFd);
    unlink(storeTemplate);
    setenv("VARNEX_REGISTRY_FILE", storeTemplate, 1);
    QApplication application(argc, argv);
    EnsureDecimalPlaces();

    CVarnexDlg dialog;
    AddPrecursors(dialog.m_precursorList, count);
    double fillMs = 0.0;
    double resizeMs = 0.0;
    double listMegabytes = 0.0;
    constexpr int kFills = 5;
    constexpr int kResizes = 50;

    QTimer::singleShot(0, &dialog, [&] {
        Settle();
        // Heap of the filled list against the same list emptied.
        dialog.m_listCtrl.DeleteAllItems();
        Settle();
        malloc_trim(0);
        const std::size_t emptyHeap = HeapInUse();
        dialog.FillRows();
        Settle();
        listMegabytes =
            static_cast<double>(HeapInUse() - std::min(HeapInUse(), emptyHeap)) / (1024.0 * 1024.0);

        std::vector<double> fills;
        for (int i = 0; i < kFills; ++i) {
            dialog.m_listCtrl.DeleteAllItems();
            Settle();
            const auto start = Clock::now();
            dialog.FillRows();
            Settle(); // the view takes the new rows
            fills.push_back(MillisecondsSince(start));
        }
        std::sort(fills.begin(), fills.end());
        fillMs = fills[fills.size() / 2];

        const int width = dialog.width();
        const auto start = Clock::now();
        for (int i = 0; i < kResizes; ++i) {
            dialog.resize(width + (i % 2 == 0 ? 37 : -23) + i, dialog.height());
            Settle();
        }
        resizeMs = MillisecondsSince(start);
        dialog.EndDialog(IDOK);
    });
    dialog.DoModal();
    unlink(storeTemplate);

    const bool rowsShown = dialog.m_listCtrl.GetItemCount() == count;
    const double filterMs = MeasureFilterMs();
    double keepListMs = 0.0;
    {
        CPrecursorList list;
        AddPrecursors(list, kFilterPrecursors);
        CPrecursorArray kept;
        const auto start = Clock::now();
        FilterPrecursors(list.m_Precursors, PrecursorFilter{}, kept);
        keepListMs = MillisecondsSince(start);
    }
    std::printf("precursors            %d\n", count);
    std::printf("FillRows (median of %d) %8.1f ms   target <= 100 ms   %s\n", kFills, fillMs,
                fillMs <= 100.0 ? "ok" : "MISSED");
    std::printf("%d resizes            %8.1f ms   target <= 2000 ms  %s\n", kResizes, resizeMs,
                resizeMs <= 2000.0 ? "ok" : "MISSED");
    std::printf("list memory           %8.1f MB   target <= 50 MB    %s\n", listMegabytes,
                listMegabytes <= 50.0 ? "ok" : "MISSED");
    std::printf("rows after resizes    %d %s\n", dialog.m_listCtrl.GetItemCount(),
                rowsShown ? "ok" : "WRONG");
    std::printf("filter on %d rows  %8.1f ms   target <= 50 ms    %s\n", kFilterPrecursors, filterMs,
                filterMs <= 50.0 ? "ok" : "MISSED");
    std::printf("list kept while another data set opens (%d precursors) %.1f ms\n", kFilterPrecursors,
                keepListMs);
    return fillMs <= 100.0 && resizeMs <= 2000.0 && listMegabytes <= 50.0 && rowsShown && filterMs <= 50.0
               ? 0
               : 1;
}
