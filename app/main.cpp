// SPDX-License-Identifier: GPL-3.0-or-later
// varnex: lists the precursors of the data set named on the command line.

#include "platform/WinApp.h"
#include "ui/Resource.h"

using varnex::ui::RegisterVarnexStrings;

int main(int argc, char* argv[]) {
    RegisterVarnexStrings();
    return AfxWinMain(argc, argv);
}
