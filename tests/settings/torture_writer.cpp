// Says its process id, then rewrites the settings file in a folder as fast as
// it can, every value the write's generation padded to 2000 characters, and
// says so after each write, until it is killed.
#include "settings/store.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
    using namespace zentrova::settings;
    std::printf("%d\n", int(::getpid()));
    for (long generation = 0; argc == 2; ++generation) {
        for (int i = 0; i < 4; ++i) {
            DriveEntry entry;
            entry.Set("Generation", QString::number(generation).leftJustified(2000, '.'));
            store.mutDict.Put(DiskKey(i), entry);
        }
        if (const QString error = SaveSettings(QString::fromLocal8Bit(argv[1])); !error.isEmpty())
            return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
        std::printf("%ld\n", generation);
        std::fflush(stdout);
    }
    return 2;
}
