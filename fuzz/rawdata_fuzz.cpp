// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target over the mzML/mzXML reader: open the bytes as a run (plain or gzip), read every
// scan's metadata, id and function description, and decode every spectrum.

#include <cstddef>
#include <cstdint>
#include <string>

#include "rawdata/MsRun.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using varnex::rawdata::MsRun;
    const auto run = MsRun::OpenBytes(std::string(reinterpret_cast<const char*>(data), size));
    if (!run) {
        return 0;
    }
    double checksum = 0.0;
    for (int f = 1; f <= run->FunctionCount(); ++f) {
        checksum += static_cast<double>(run->FunctionDescription(f).size());
        for (const std::size_t index : run->ScansOfFunction(f)) {
            const auto& scan = run->Scans()[index];
            checksum += scan.rtMinutes + scan.SetMass() + scan.charge;
            checksum += static_cast<double>(run->NativeId(index).size());
            if (const auto spectrum = run->Decode(index)) {
                if (spectrum->mz.size() != spectrum->intensity.size()) {
                    __builtin_trap();
                }
                for (std::size_t i = 1; i < spectrum->mz.size(); ++i) {
                    if (spectrum->mz[i - 1] > spectrum->mz[i]) {
                        __builtin_trap(); // masses must ascend
                    }
                }
            }
        }
    }
    return checksum == 1.5 ? 1 : 0;
}
