// Arbitrary bytes as the settings file. Whatever is read must write out and
// read back as the same settings, as long as its texts hold no control
// characters, which an XML property list cannot carry (a model name with one
// is a known gap of the writer), and no key comes twice.
#include "settings/settings_file.h"

#include <algorithm>
#include <cstdint>
#include <map>

using namespace zentrova::settings;

namespace {

bool Plain(const QString& text) {
    return std::none_of(text.begin(), text.end(),
                        [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

bool Writable(const SettingsDict& dict) {
    for (const auto& [key, entry] : dict.entries) {
        if (!Plain(key) || dict.Find(key) != &entry)
            return false;
        for (const auto& [name, value] : entry.items)
            if (!Plain(name) || !Plain(value) || entry.Find(name) != &value)
                return false;
    }
    return true;
}

// What the settings say, whatever the order of their keys.
std::map<QString, std::map<QString, QString>> Contents(const SettingsDict& dict) {
    std::map<QString, std::map<QString, QString>> contents;
    for (const auto& [key, entry] : dict.entries)
        contents[key].insert(entry.items.begin(), entry.items.end());
    return contents;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<SettingsDict> read = ParseSettings(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (!read || !Writable(*read))
        return 0;
    const std::optional<SettingsDict> again = ParseSettings(SerializeSettings(*read));
    if (!again || again->entries.size() != read->entries.size() ||
        Contents(*again) != Contents(*read))
        __builtin_trap();
    for (const auto& [key, entry] : read->entries)
        (void)entry.Number(QStringLiteral("Hour"));
    return 0;
}
