// Rewrites the settings file in a folder as fast as it can, every value the
// write's generation number padded to 2000 characters, and says so on
// stdout after each write, until it is killed.
#include "settings/store.h"

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <data folder>\n", argv[0]);
        return 2;
    }
    using namespace zentrova::settings;
    for (long generation = 0;; ++generation) {
        store.mutDict = {};
        for (int i = 0; i < 4; ++i) {
            DriveEntry entry;
            entry.Set("Generation", QString::number(generation).leftJustified(2000, '.'));
            store.mutDict.Put(DiskKey(i), entry);
        }
        if (const QString error = SaveSettings(QString::fromLocal8Bit(argv[1])); !error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("%ld\n", generation);
        std::fflush(stdout);
    }
}
