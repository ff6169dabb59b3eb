// param.ini is untrusted: any bytes must parse without a crash, and every
// value read back stays within its limits.
#include "config/inifile.h"
#include "config/plantconfig.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const IniFile ini = IniFile::fromData(QByteArrayView(data, qsizetype(size)));
    const PlantConfig config = PlantConfig::read(ini);
    for (int slot = 1; slot <= 6; ++slot) {
        if (config.names[slot].size() > 2047 || config.hosts[slot].size() > 2047)
            std::abort();
    }
    if (config.panelHost.size() > 2047)
        std::abort();
    return 0;
}
