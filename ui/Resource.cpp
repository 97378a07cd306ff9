// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Resource.h"

namespace varnex::ui {

const StringTable& VarnexStringTable() {
    static const StringTable table = {
        {AFX_IDS_APP_TITLE, "Varnex"},
        {IDS_ABOUTBOX, "&About Varnex..."},
    };
    return table;
}

void RegisterVarnexStrings() {
    const StringTable* installed = AfxSetStringTable(&VarnexStringTable());
    if (installed != nullptr) {
        AfxSetStringTable(installed);
    }
}

} // namespace varnex::ui
