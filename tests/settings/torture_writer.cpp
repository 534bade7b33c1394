// Rewrites the settings file in a folder as fast as it can, each time with a
// new generation number in every value, and says so on stdout, until killed.
#include "settings/store.h"

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <data folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString padding(2000, QChar('x'));
    for (long generation = 0;; ++generation) {
        zentrova::settings::SettingsDict dict;
        for (int i = 0; i < 4; ++i) {
            zentrova::settings::DriveEntry entry;
            entry.Set("Generation", QString::number(generation));
            entry.Set("Padding", padding);
            dict.Put(zentrova::settings::DiskKey(i), entry);
        }
        zentrova::settings::store.mutDict = dict;
        const QString error = zentrova::settings::SaveSettings(folder);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("%ld\n", generation);
        std::fflush(stdout);
    }
}
